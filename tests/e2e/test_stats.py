"""camwatch --stats on the virtual camera: a line per running stream each
second, with rates near the camera's, running totals that add up, the total
lines after the key, no frame held and the full teardown."""

import re
import unittest

from camwatch_run import Camwatch, CamwatchAssertions, held_frames

HEADER = b'Device "vcam://0" already connected\n'
SPAN = re.compile(rb"(depth|color): (\d+) frames, (\d+\.\d) fps, (\d+) missed "
                  rb"\(total (\d+) frames, (\d+) missed\)\n")
TOTAL = re.compile(rb"(depth|color) total: (\d+) frames in (\d+\.\d) s, (\d+\.\d) fps, "
                   rb"(\d+) missed\n")
FPS = {"depth": 30, "color": 60}
SECONDS = 3


def camera(depth_options="", color_options=""):
    return ("device vcam://0\n"
            "depth width=4 height=4 fps=%d %s\n"
            "color width=4 height=4 fps=%d %s\n"
            % (FPS["depth"], depth_options, FPS["color"], color_options))


class Report:
    """The stats lines of a run by stream: spans as [frames, fps, missed,
    total frames, total missed], totals as [frames, seconds, fps, missed]."""

    def __init__(self, output):
        self.lines = output.splitlines(keepends=True)
        self.spans = {"depth": [], "color": []}
        self.totals = {"depth": [], "color": []}
        self.unknown = []
        for line in self.lines:
            span, total = SPAN.fullmatch(line), TOTAL.fullmatch(line)
            if span:
                self.spans[span.group(1).decode()].append(
                    [float(value) for value in span.groups()[1:]])
            elif total:
                self.totals[total.group(1).decode()].append(
                    [float(value) for value in total.groups()[1:]])
            elif line != HEADER:
                self.unknown.append(line)


def run_stats(scenario, spans=SECONDS, streams=("depth", "color"), **options):
    """A --stats run until each of `streams` has `spans` lines, then a key."""
    def enough(output):
        report = Report(output)
        return all(len(report.spans[name]) >= spans for name in streams)

    with Camwatch(scenario, args=["--stats"], **options) as cam:
        cam.wait_for(enough, timeout=spans + 30, what="%d stats lines a stream" % spans)
        cam.press_key()
        return cam.finish()


class StatsAssertions(CamwatchAssertions):
    def assertSpansAddUp(self, spans):
        frames = missed = 0
        for span in spans:
            frames += span[0]
            missed += span[2]
            self.assertEqual(span[3:], [frames, missed], spans)


class StatsTest(StatsAssertions):
    def test_each_second_a_line_per_stream_and_the_totals_after_the_key(self):
        result = run_stats(camera())
        report = Report(result.output)
        self.assertOutputStartsWith(result, HEADER)
        self.assertEqual(report.unknown, [])
        self.assertEqual(result.frame_lines(), [])
        # The totals come last, one a stream, depth first.
        self.assertEqual([TOTAL.fullmatch(line).group(1) for line in report.lines[-2:]],
                         [b"depth", b"color"])
        reads = {}
        for call in result.calls("oniStreamReadFrame"):
            reads[call.args["stream"]] = reads.get(call.args["stream"], 0) + (call.result == "0")
        sent = {w[2]: int(w[3]) for w in result.log_words("sent")}
        for name, fps in FPS.items():
            with self.subTest(stream=name):
                spans, [total] = report.spans[name], report.totals[name]
                self.assertGreaterEqual(len(spans), SECONDS)
                self.assertSpansAddUp(spans)
                # Generous: a loaded machine delays frames and the key poll.
                # The first second includes the streams' start.
                for span in spans[1:]:
                    self.assertGreater(span[1], 0.4 * fps, spans)
                    self.assertLess(span[1], 1.6 * fps, spans)
                frames, seconds, rate, missed = total
                last = spans[-1]
                # Past the last second's line: at most the part of a second
                # before the key, and the listener's removal.
                self.assertGreaterEqual(frames, last[3])
                self.assertLessEqual(frames - last[3], 2 * fps)
                self.assertGreaterEqual(missed, last[4])
                self.assertGreaterEqual(seconds, len(spans))
                self.assertAlmostEqual(rate, frames / seconds, delta=0.1 * fps)
                self.assertGreater(rate, 0.5 * fps)
                self.assertLess(rate, 1.2 * fps)
                # Every frame read is counted once, and no index beyond those sent.
                self.assertLessEqual(frames + missed, sent[name])
        self.assertEqual(sorted(reads.values()),
                         sorted(int(report.totals[name][0][0]) for name in FPS))
        self.assertFullTeardown(result)
        self.assertNoSanitizerReport(result)

    def test_no_frame_is_held(self):
        result = run_stats(camera(), spans=1)
        self.assertEqual(result.calls("oniFrameAddRef"), [])
        self.assertEqual({stream: frame for stream, frame in held_frames(result).items()
                          if frame}, {})
        # Each frame read goes back before the next read of its stream.
        unreleased = {}
        for call in result.trace:
            if call.name == "oniStreamReadFrame" and call.result == "0":
                self.assertIsNone(unreleased.get(call.args["stream"]), call.line)
                unreleased[call.args["stream"]] = call.args["frame"]
            elif call.name == "oniFrameRelease":
                for stream, frame in unreleased.items():
                    if frame == call.args["frame"]:
                        unreleased[stream] = None
        self.assertEqual([frame for frame in unreleased.values() if frame], [])
        self.assertFullTeardown(result)

    def test_a_stream_that_does_not_start_gets_no_lines(self):
        result = run_stats(camera(depth_options="start=fail"), spans=2, streams=("color",))
        report = Report(result.output)
        self.assertIn(b"Couldn't start the depth stream\n", result.output)
        self.assertEqual((report.spans["depth"], report.totals["depth"]), ([], []))
        self.assertEqual(len(report.totals["color"]), 1)
        self.assertSpansAddUp(report.spans["color"])
        self.assertFullTeardown(result)

    def test_totals_that_cannot_be_written_fail_the_run(self):
        # The reader goes before the key, most often before the first second:
        # then only the total lines find no one to read them.
        with Camwatch(camera(), args=["--stats"], ignore_sigpipe=True) as cam:
            cam.wait_for_text(HEADER)
            cam.close_output()
            cam.press_key()
            result = cam.finish()
        self.assertFullTeardown(result, status=3, stderr=b"camwatch: write error: Broken pipe\n")


class MissedFramesTest(StatsAssertions):
    def test_indexes_the_camera_skips_are_counted_missed(self):
        # Depth loses three indexes in two gaps; color every fourth index, so it
        # sends three frames for each one it loses.
        result = run_stats(camera(depth_options="lost=20,21,40", color_options="lose=4"),
                           spans=2)
        report = Report(result.output)
        self.assertEqual(report.unknown, [])
        for name in FPS:
            self.assertSpansAddUp(report.spans[name])
        [[depth_frames, _, _, depth_missed]] = report.totals["depth"]
        self.assertGreater(depth_frames, 40)
        self.assertEqual(depth_missed, 3)
        [[color_frames, _, color_rate, color_missed]] = report.totals["color"]
        # The library may drop a frame of its own on a loaded machine.
        self.assertAlmostEqual(color_missed, color_frames / 3, delta=2 + 0.05 * color_frames)
        self.assertGreater(color_rate, 0.5 * FPS["color"] * 3 / 4)
        self.assertLess(color_rate, 1.2 * FPS["color"] * 3 / 4)
        self.assertFullTeardown(result)


if __name__ == "__main__":
    unittest.main()
