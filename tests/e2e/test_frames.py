"""Frame lines that need more than a scenario and its lines (those are in
cases/): formats without a line of their own and the pairing of each line with
its frame. Middle and fill values differ, so a wrong index shows up as the
fill."""

import unittest

from camwatch_run import BOTH, Camwatch, CamwatchAssertions, run_until_key

HEADER = b'Device "vcam://0" already connected\n'
UNKNOWN = b"Unknown format\n"


def camera(*sensors):
    return "device vcam://0\n" + "".join(s + "\n" for s in sensors)


def depth(options=""):
    return "depth width=4 height=4 fps=60 fill=7 " + options


def color(options=""):
    return "color width=4 height=4 fps=60 fill=0x112233 " + options


class PixelFormatsTest(CamwatchAssertions):
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


if __name__ == "__main__":
    unittest.main()
