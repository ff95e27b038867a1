"""Frame lines: pixel formats, where the middle pixel is, frames it lies
outside of, and how timestamps and values are printed. Middle and fill values
differ, so a wrong index shows up as the fill."""

import re
import unittest

from camwatch_run import BOTH, Camwatch, CamwatchAssertions, run_until_key

HEADER = b'Device "vcam://0" already connected\n'
UNKNOWN = b"Unknown format\n"


def camera(*sensors):
    return "device vcam://0\n" + "".join(s + "\n" for s in sensors)


def sensor(kind, defaults, overrides):
    options = dict(word.split("=") for word in (defaults + " " + overrides).split())
    return kind + "".join(" %s=%s" % item for item in options.items())


def depth(overrides=""):
    return sensor("depth", "width=4 height=4 fps=60 middle=1234 fill=7", overrides)


def color(overrides=""):
    return sensor("color", "width=4 height=4 fps=60 middle=0x0aff00 fill=0x112233", overrides)


def without_timestamps(result):
    return set(re.sub(rb"^\[\d+\] ", b"", m.group(0)) for m in result.frame_lines())


class PixelFormatsTest(CamwatchAssertions):
    def test_depth_formats_100_and_101_print_alike(self):
        for fmt in (100, 101):
            with self.subTest(format=fmt):
                result = run_until_key(camera(depth("format=%d" % fmt)), frames=3)
                self.assertEqual(without_timestamps(result), {b"Depth middle index     1234\n"})
                self.assertFullTeardown(result, color=False)

    def test_other_formats_are_unknown_one_line_per_frame(self):
        for depth_format, color_format in ((102, 201), (103, 7777)):
            with self.subTest(depth=depth_format, color=color_format):
                scenario = camera(depth("format=%d" % depth_format),
                                  color("format=%d" % color_format))
                with Camwatch(scenario) as cam:
                    cam.wait_for(lambda out: out.count(UNKNOWN) >= 6, what="unknown lines")
                    cam.press_key()
                    result = cam.finish()
                self.assertOutputStartsWith(result, HEADER)
                body = result.output[len(HEADER):]
                self.assertEqual(body, UNKNOWN * body.count(UNKNOWN))
                reads = [c for c in result.calls("oniStreamReadFrame") if c.result == "0"]
                self.assertEqual(body.count(UNKNOWN), len(reads))
                self.assertFullTeardown(result)


class MiddlePixelTest(CamwatchAssertions):
    def test_middle_index_of_even_and_odd_heights(self):
        # 4x4: ((4+1)*4)/2 = 10; 4x3: ((3+1)*4)/2 = 8.
        for depth_height, color_height in ((4, 3), (3, 4)):
            with self.subTest(depth=depth_height, color=color_height):
                scenario = camera(depth("height=%d" % depth_height),
                                  color("height=%d" % color_height))
                result = run_until_key(scenario, frames=3, kinds=BOTH)
                self.assertEqual(without_timestamps(result), {
                    b"Depth middle index     1234\n", b"Color RGB value 0x0aff00\n"})

    def test_padded_rows_still_use_the_packed_index(self):
        result = run_until_key(camera(depth("stride=16"), color("stride=20")), frames=3, kinds=BOTH)
        self.assertEqual(without_timestamps(result), {
            b"Depth middle index     1234\n", b"Color RGB value 0x0aff00\n"})

    def test_depth_field_width(self):
        for value, text in ((7, b"       7"), (65535, b"   65535"), (0, b"       0")):
            with self.subTest(value=value):
                result = run_until_key(camera(depth("middle=%d" % value)), frames=2)
                self.assertEqual(without_timestamps(result),
                                 {b"Depth middle index " + text + b"\n"})

    def test_color_bytes_print_in_rgb_order(self):
        result = run_until_key(camera(color("middle=0x010203")), frames=2)
        self.assertEqual(without_timestamps(result), {b"Color RGB value 0x010203\n"})

    def test_each_line_shows_its_own_frame(self):
        # Value and timestamp both move per frame; a line mixing two frames, or
        # showing a stale one, breaks the pairing the driver logged.
        scenario = camera(depth("middle=100 middle_step=3 ts=1000 step=10"),
                          color("middle=16 middle_step=256 ts=5000 step=20"))
        result = run_until_key(scenario, frames=5, kinds=BOTH)
        # The driver numbers frames from 1; the first carries the first value.
        sent = {(w[2], int(w[4])): int(w[3]) - 1 for w in result.log_words("frame")}
        for m in result.frame_lines():
            timestamp = int(m.group(1))
            if m.group(2) is not None:
                number = sent[("depth", timestamp)]
                self.assertEqual(int(m.group(2)), 100 + 3 * number, m.group(0))
            else:
                number = sent[("color", timestamp)]
                self.assertEqual(int(m.group(3), 16), 0x10 + 0x100 * number, m.group(0))
        self.assertGreaterEqual(len(result.depth_values()), 2)
        self.assertGreaterEqual(len(result.color_values()), 2)


class OutsideFrameTest(CamwatchAssertions):
    DEPTH_OUTSIDE = b"Depth middle pixel outside frame\n"
    COLOR_OUTSIDE = b"Color middle pixel outside frame\n"

    def assertOutside(self, depth_options, color_options):
        scenario = camera(depth(depth_options), color(color_options))
        result = run_until_key(scenario, frames=3, kinds=BOTH)
        self.assertEqual(without_timestamps(result), {self.DEPTH_OUTSIDE, self.COLOR_OUTSIDE})
        self.assertFullTeardown(result)

    def test_one_row_frames(self):
        self.assertOutside("height=1", "height=1")

    def test_empty_frames(self):
        self.assertOutside("width=0 height=0", "width=0 height=0")

    def test_truncated_frames(self):
        # The middle pixel starts at byte 20 (depth) and 30 (color).
        self.assertOutside("size=21", "size=32")

    def test_data_just_holding_the_middle_pixel_is_inside(self):
        result = run_until_key(camera(depth("size=22"), color("size=33")), frames=3, kinds=BOTH)
        self.assertEqual(without_timestamps(result), {
            b"Depth middle index     1234\n", b"Color RGB value 0x0aff00\n"})


class TimestampTest(CamwatchAssertions):
    def test_timestamps_pad_to_eight_digits_and_grow_beyond(self):
        scenario = camera(depth("ts=42 step=0"), color("ts=123456789012 step=0"))
        result = run_until_key(scenario, frames=3, kinds=BOTH)
        lines = {m.group(0) for m in result.frame_lines()}
        self.assertEqual(lines, {b"[00000042] Depth middle index     1234\n",
                                 b"[123456789012] Color RGB value 0x0aff00\n"})


if __name__ == "__main__":
    unittest.main()
