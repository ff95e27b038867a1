"""Reads that fail, injected by the tracer: no line, no crash, the held frame
given back and the failed read's pointer never touched. Also that the tracer
stays silent when not asked to trace, and misses none of camwatch's calls."""

import os
import unittest

from camwatch_run import (GARBAGE_FRAME, SENSOR_DEPTH, Camwatch, CamwatchAssertions,
                          created_stream, held_frames, required_path, run_until_key)
from launcher import read_lines, run

DEPTH_ONLY = "device vcam://0\ndepth width=4 height=4 fps=100 middle=1234 fill=7\n"


class InjectedReadFailureTest(CamwatchAssertions):
    def test_every_third_read_fails_without_a_line_and_drops_the_held_frame(self):
        result = run_until_key(DEPTH_ONLY, frames=8, fail_read=3)
        reads = result.calls("oniStreamReadFrame")
        failed = [c for c in reads if c.result != "0"]
        self.assertTrue(failed)
        for call in failed:
            self.assertEqual(call.result, "1 injected")
            self.assertEqual(call.args["frame"], GARBAGE_FRAME)
        # One line per good read, none for a failed one.
        self.assertEqual(len(result.depth_values()), len(reads) - len(failed))
        self.assertEqual(set(result.depth_values()), {1234})
        # A failed read gives back the frame held since the read before it,
        # and then nothing else is done with it.
        for call in failed:
            index = result.trace.index(call)
            before = [c for c in result.trace[:index] if c.name == "oniStreamReadFrame"][-1]
            following = result.trace[index + 1]
            if before.result == "0":
                self.assertEqual((following.name, following.args.get("frame")),
                                 ("oniFrameRelease", before.args["frame"]))
        self.assertFullTeardown(result, color=False)

    def test_every_read_failing_prints_no_frame_and_still_ends_cleanly(self):
        with Camwatch(DEPTH_ONLY, fail_read=1) as cam:
            cam.wait_for(lambda _: len(_read_trace(cam)) >= 5, what="five failed reads")
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.frame_lines(), [])
        self.assertEqual(result.calls("oniFrameAddRef", "oniFrameRelease"), [])
        self.assertEqual(held_frames(result), {created_stream(result, SENSOR_DEPTH): None})
        self.assertFullTeardown(result, color=False)

    def test_setting_that_is_no_period_injects_nothing(self):
        for setting in ("0", "-2", "three", "3x", ""):
            with self.subTest(setting=setting):
                result = run_until_key(DEPTH_ONLY, frames=3, fail_read=setting)
                self.assertEqual(
                    [c for c in result.calls("oniStreamReadFrame") if c.result != "0"], [])


class TracerCoverageTest(unittest.TestCase):
    def test_every_library_function_camwatch_imports_is_traced(self):
        # A call the tracer misses would silently drop out of every order check.
        def symbols(*arguments):
            listing = run(["nm", "-D", *arguments], check=True, text=True).stdout
            return {line.split()[-1] for line in listing.splitlines()
                    if line.split()[-1].startswith("oni")}
        imported = symbols("--undefined-only", required_path("CAMWATCH_BIN"))
        traced = symbols("--defined-only", required_path("CAMWATCH_TRACER"))
        self.assertTrue(imported)
        self.assertEqual(imported - traced, set())


class SilentTracerTest(CamwatchAssertions):
    def test_no_trace_file_without_the_variable(self):
        with Camwatch(DEPTH_ONLY, trace=False) as cam:
            cam.wait_for_frames(2)
            cam.press_key()
            result = cam.finish()
            self.assertFalse(os.path.exists(cam.trace_path))
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stderr, b"")


def _read_trace(cam):
    return [line for line in read_lines(cam.trace_path) if line.startswith("oniStreamReadFrame")]


if __name__ == "__main__":
    unittest.main()
