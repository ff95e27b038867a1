"""GStreamer's openni2src, an OpenNI2 program none of us wrote, on the virtual camera.

gst-launch-1.0 runs `openni2src num-buffers=3 ! filesink`, with the virtual
camera's loading folder first in its library path and the scenario named, as
camwatch-vcam runs a program; the raw frames it writes are checked against the
scenario. What openni2src hands on, found by running it (GStreamer 1.22):

  sourcetype=depth   GRAY16_LE, 2 bytes a pixel: the depth as the camera gives it
  sourcetype=color   RGB, 3 bytes a pixel: red, green, blue
  sourcetype=both    RGBA: the color's three bytes, and as alpha the depth's
                     high byte only (depth >> 8), its low byte lost

GStreamer's raw video rows are padded to a multiple of 4 bytes (a 6 pixels
wide RGB row is 20 bytes, not 18): the buffer is cut into rows at that stride
before the middle pixel is taken at index ((height + 1) * width) / 2 of the
packed pixels, as camwatch takes it. Skipped when gst-launch-1.0 or the
openni2src element (Debian's gstreamer1.0-plugins-bad) is missing.
"""

import os
import re
import shutil
import tempfile
import unittest

from launcher import run

FRAMES = 3
SECONDS = 60
# Odd height: the middle index lands at the start of a row, where a frame
# copied with the wrong row length would show it; a width whose RGB rows are
# padded.
WIDTH, HEIGHT = 6, 5
SCENARIO = """device vcam://0
depth width=%(w)d height=%(h)d fps=30 middle=1000 middle_step=5 fill=7
color width=%(w)d height=%(h)d fps=30 fill=0x010203
""" % {"w": WIDTH, "h": HEIGHT}
# The depth's high and low bytes told apart, in the middle and elsewhere.
BOTH_SCENARIO = """device vcam://0
depth width=%(w)d height=%(h)d fps=30 middle=0x1234 fill=0x0507
color width=%(w)d height=%(h)d fps=30 fill=0x010203
""" % {"w": WIDTH, "h": HEIGHT}
CAPS = re.compile(r"filesink0\.GstPad:sink: caps = video/x-raw, format=\(string\)(\w+), "
                  r"width=\(int\)(\d+), height=\(int\)(\d+)")


def missing_gstreamer():
    """Why the tests cannot run here, or None."""
    if not shutil.which("gst-launch-1.0") or not shutil.which("gst-inspect-1.0"):
        return "gst-launch-1.0 is not installed (Debian's gstreamer1.0-tools)"
    if run(["gst-inspect-1.0", "openni2src"], timeout=SECONDS).returncode != 0:
        return "GStreamer has no openni2src element (Debian's gstreamer1.0-plugins-bad)"
    return None


class OpenNI2SrcTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.runtime = os.environ.get("VCAM_RUNTIME")
        if not cls.runtime:
            raise unittest.SkipTest("VCAM_RUNTIME is not set (run through ctest)")
        reason = missing_gstreamer()
        if reason:
            raise unittest.SkipTest(reason)

    def frames(self, scenario, sourcetype):
        """The caps' format and the frames, each a list of pixels (bytes)."""
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "camera.vcam")
            with open(path, "w") as f:
                f.write(scenario)
            raw = os.path.join(folder, "frames.raw")
            env = dict(os.environ, VCAM_SCENARIO=path, LD_LIBRARY_PATH=self.runtime)
            result = run(["gst-launch-1.0", "-v", "openni2src", "sourcetype=" + sourcetype,
                          "num-buffers=%d" % FRAMES, "!", "filesink", "location=" + raw],
                         env=env, text=True, stderr="stdout", timeout=SECONDS)
            self.assertEqual(result.returncode, 0, result.stdout)
            caps = CAPS.search(result.stdout)
            self.assertIsNotNone(caps, result.stdout)
            self.assertEqual((int(caps.group(2)), int(caps.group(3))), (WIDTH, HEIGHT))
            with open(raw, "rb") as f:
                data = f.read()
        size = {"GRAY16_LE": 2, "RGB": 3, "RGBA": 4}[caps.group(1)]
        stride = (WIDTH * size + 3) // 4 * 4
        self.assertEqual(len(data), FRAMES * HEIGHT * stride)
        rows = [data[at:at + WIDTH * size] for at in range(0, len(data), stride)]
        pixels = [row[at:at + size] for row in rows for at in range(0, len(row), size)]
        frame_pixels = WIDTH * HEIGHT
        return caps.group(1), [pixels[at:at + frame_pixels]
                               for at in range(0, len(pixels), frame_pixels)]

    def assertMiddles(self, frames, middles, fill):
        index = ((HEIGHT + 1) * WIDTH) // 2
        self.assertEqual([frame[index] for frame in frames], middles)
        for frame in frames:
            self.assertEqual(set(frame[:index] + frame[index + 1:]), {fill})

    def test_depth_frames_carry_the_scenarios_depth(self):
        pixel_format, frames = self.frames(SCENARIO, "depth")
        self.assertEqual(pixel_format, "GRAY16_LE")
        self.assertMiddles(frames, [value.to_bytes(2, "little") for value in (1000, 1005, 1010)],
                           (7).to_bytes(2, "little"))

    def test_color_frames_carry_the_scenarios_color(self):
        pixel_format, frames = self.frames(SCENARIO, "color")
        self.assertEqual(pixel_format, "RGB")
        self.assertMiddles(frames, [bytes.fromhex("0aff00")] * FRAMES, bytes.fromhex("010203"))

    def test_both_gives_the_color_with_the_depths_high_byte_as_alpha(self):
        pixel_format, frames = self.frames(BOTH_SCENARIO, "both")
        self.assertEqual(pixel_format, "RGBA")
        self.assertMiddles(frames, [bytes.fromhex("0aff0012")] * FRAMES,
                           bytes.fromhex("01020305"))


if __name__ == "__main__":
    unittest.main()
