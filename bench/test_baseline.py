"""The benchmark's baseline on the virtual camera. Whether it holds frames
(--hold) or not, every frame it reads must go back before the library shuts
down, a held one only once the next is read or, the last, once the device is
closed, as camwatch's, and it must count what it read: a leak, a late release
or a wrong count would skew what camwatch is compared with."""

import re
import unittest

from camwatch_run import Camwatch, frame_reference_faults, required_path

SCENARIO = ("device vcam://0\n"
            "depth width=4 height=4 fps=200\n"
            "color width=4 height=4 fps=200\n")


class BaselineTest(unittest.TestCase):
    def run_baseline(self, args):
        with Camwatch(SCENARIO, binary=required_path("BASELINE_BIN"), args=args) as cam:
            cam.wait_for_trace("oniFrameRelease", count=10)
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(frame_reference_faults(result), [])
        reads = [c for c in result.calls("oniStreamReadFrame") if c.result == "0"]
        counts = re.findall(rb"^(?:depth|color) frames (\d+)$", result.output, re.M)
        self.assertEqual(sum(map(int, counts)), len(reads))
        return result

    @staticmethod
    def unreleased_at_each_read(result):
        """By stream, how many of its frames were still out at each of its reads."""
        out, stream_of, seen = {}, {}, {}
        for call in result.trace:
            if call.name == "oniStreamReadFrame" and call.result == "0":
                stream = call.args["stream"]
                seen.setdefault(stream, []).append(out.get(stream, 0))
                out[stream] = out.get(stream, 0) + 1
                stream_of[call.args["frame"]] = stream
            elif call.name == "oniFrameRelease" and call.args["frame"] in stream_of:
                out[stream_of[call.args["frame"]]] -= 1
        return seen

    def test_every_frame_read_goes_back_at_once_and_is_counted(self):
        result = self.run_baseline([])
        for counts in self.unreleased_at_each_read(result).values():
            self.assertEqual(set(counts), {0})

    def test_held_frames_go_back_after_the_next_read_and_the_last_after_close(self):
        result = self.run_baseline(["--hold"])
        # The one held is still out when the next is read, never two.
        for counts in self.unreleased_at_each_read(result).values():
            self.assertEqual((counts[0], set(counts[1:])), (0, {1}))
        last_read = {c.args["stream"]: c.args["frame"] for c in result.calls("oniStreamReadFrame")
                     if c.result == "0"}
        held = list(last_read.values())
        self.assertEqual(len(held), 2)
        closed = [i for i, c in enumerate(result.trace) if c.name == "oniDeviceClose"][-1]
        tail = [(c.name, c.args.get("frame")) for c in result.trace[closed + 1:]]
        self.assertEqual(sorted(tail[:-1]), sorted(("oniFrameRelease", f) for f in held))
        self.assertEqual(tail[-1], ("oniShutdown", None))


if __name__ == "__main__":
    unittest.main()
