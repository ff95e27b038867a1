"""Streams that are missing, cannot be created or cannot be started: the lines
camwatch prints for them and that it still waits for a key and cleans up."""

import unittest

from camwatch_run import (SENSOR_COLOR, SENSOR_DEPTH, Camwatch, CamwatchAssertions,
                          created_stream, extended_errors, run_until_key)

DEPTH = "depth width=4 height=4 fps=60 middle=1234 fill=7"
COLOR = "color width=4 height=4 fps=60 middle=0x0aff00 fill=0x112233"
HEADER = b'Device "vcam://0" already connected\n'


def failure_lines(result, messages):
    """The failure lines, each message followed by the extended error the
    library gave right after it."""
    texts = extended_errors(result)
    return b"".join(m + b"\n" + t + b"\n" for m, t in zip(messages, texts))


class MissingSensorsTest(CamwatchAssertions):
    def test_camera_without_color_reports_depth_only(self):
        result = run_until_key("device vcam://0\n" + DEPTH + "\n", frames=3)
        expected = HEADER + failure_lines(result, [b"Couldn't start the color stream"])
        self.assertOutputStartsWith(result, expected)
        self.assertEqual(set(result.depth_values()), {1234})
        self.assertEqual(result.color_values(), [])
        self.assertEqual([c.args["sensor"] for c in result.calls("oniDeviceCreateStream")],
                         [SENSOR_DEPTH])
        self.assertFullTeardown(result, color=False)
        self.assertStreamLifeCycle(result, "vcam://0", "depth")

    def test_camera_without_depth_reports_color_only(self):
        result = run_until_key("device vcam://0\n" + COLOR + "\n", frames=3)
        expected = HEADER + failure_lines(result, [b"Couldn't start the depth stream"])
        self.assertOutputStartsWith(result, expected)
        self.assertEqual(set(result.color_values()), {0x0AFF00})
        self.assertEqual(result.depth_values(), [])
        self.assertEqual([c.args["sensor"] for c in result.calls("oniDeviceCreateStream")],
                         [SENSOR_COLOR])
        self.assertFullTeardown(result, depth=False)
        self.assertStreamLifeCycle(result, "vcam://0", "color")


class StreamFailuresTest(CamwatchAssertions):
    def test_depth_create_failure_reports_create_and_start(self):
        result = run_until_key("device vcam://0\n" + DEPTH + " create=fail\n" + COLOR + "\n",
                               frames=3)
        expected = HEADER + failure_lines(
            result, [b"Couldn't create depth stream", b"Couldn't start the depth stream"])
        self.assertOutputStartsWith(result, expected)
        self.assertIn("create-fail vcam://0 depth", result.log)
        self.assertEqual(result.timestamps(b"Depth"), [])
        self.assertFullTeardown(result, depth=False)

    def test_color_create_failure_keeps_depth_running(self):
        result = run_until_key("device vcam://0\n" + DEPTH + "\n" + COLOR + " create=fail\n",
                               frames=3)
        expected = HEADER + failure_lines(
            result, [b"Couldn't create color stream", b"Couldn't start the color stream"])
        self.assertOutputStartsWith(result, expected)
        self.assertFullTeardown(result, color=False)
        self.assertStreamLifeCycle(result, "vcam://0", "depth")

    def test_start_failure_keeps_stream_listened_to_and_destroyed(self):
        result = run_until_key("device vcam://0\n" + DEPTH + " start=fail\n" + COLOR + "\n",
                               frames=3)
        expected = HEADER + failure_lines(result, [b"Couldn't start the depth stream"])
        self.assertOutputStartsWith(result, expected)
        depth = created_stream(result, SENSOR_DEPTH)
        self.assertIn(depth, [c.args["stream"]
                              for c in result.calls("oniStreamRegisterNewFrameCallback")])
        self.assertEqual(result.timestamps(b"Depth"), [])
        self.assertFullTeardown(result)
        self.assertStreamLifeCycle(result, "vcam://0", "depth", started=False)
        self.assertStreamLifeCycle(result, "vcam://0", "color")

    def test_no_usable_stream_still_waits_for_the_key(self):
        scenario = ("device vcam://0\n" + DEPTH + " create=fail\n" + COLOR + " start=fail\n"
                    + "at 300 connect vcam://1\n")
        plugged = b'Device "vcam://1" connected\n'
        messages = [b"Couldn't create depth stream", b"Couldn't start the depth stream",
                    b"Couldn't start the color stream"]
        with Camwatch(scenario) as cam:
            # Still there for a camera plugged in after start-up.
            cam.wait_for_text(plugged)
            self.assertTrue(cam.running(), "ended without a key")
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.output, HEADER + failure_lines(result, messages) + plugged)
        self.assertFullTeardown(result, depth=False)
        self.assertStreamLifeCycle(result, "vcam://0", "color", started=False)


if __name__ == "__main__":
    unittest.main()
