"""The benchmark's baseline on the virtual camera: every frame it reads must
go back before the library shuts down, and it must count what it read: a leak,
a late release or a wrong count would skew what camwatch is compared with."""

import re
import unittest

from camwatch_run import Camwatch, frame_reference_faults, required_path

SCENARIO = ("device vcam://0\n"
            "depth width=4 height=4 fps=200\n"
            "color width=4 height=4 fps=200\n")


class BaselineTest(unittest.TestCase):
    def test_every_frame_read_goes_back_and_is_counted(self):
        with Camwatch(SCENARIO, binary=required_path("BASELINE_BIN")) as cam:
            cam.wait_for_trace("oniFrameRelease", count=10)
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.status, 0, result.stderr)
        self.assertEqual(frame_reference_faults(result), [])
        reads = [c for c in result.calls("oniStreamReadFrame") if c.result == "0"]
        counts = re.findall(rb"^(?:depth|color) frames (\d+)$", result.output, re.M)
        self.assertEqual(sum(map(int, counts)), len(reads))


if __name__ == "__main__":
    unittest.main()
