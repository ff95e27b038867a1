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
    def test_camera_without_one_sensor_reports_the_other_only(self):
        sensors = {"depth": (DEPTH, SENSOR_DEPTH, 1234), "color": (COLOR, SENSOR_COLOR, 0x0AFF00)}
        for kind, missing in (("depth", "color"), ("color", "depth")):
            with self.subTest(missing=missing):
                line, sensor, value = sensors[kind]
                result = run_until_key("device vcam://0\n" + line + "\n", frames=3)
                message = "Couldn't start the %s stream" % missing
                self.assertOutputStartsWith(
                    result, HEADER + failure_lines(result, [message.encode()]))
                shown = {"depth": result.depth_values(), "color": result.color_values()}
                self.assertEqual(set(shown[kind]), {value})
                self.assertEqual(shown[missing], [])
                self.assertEqual([c.args["sensor"] for c in result.calls("oniDeviceCreateStream")],
                                 [sensor])
                self.assertFullTeardown(result, depth=kind == "depth", color=kind == "color")
                self.assertStreamLifeCycle(result, "vcam://0", kind)


class StreamFailuresTest(CamwatchAssertions):
    def test_create_failure_reports_create_and_start_and_keeps_the_other(self):
        for failing, working in (("depth", "color"), ("color", "depth")):
            with self.subTest(failing=failing):
                lines = {"depth": DEPTH, "color": COLOR}
                lines[failing] += " create=fail"
                result = run_until_key("device vcam://0\n%(depth)s\n%(color)s\n" % lines,
                                       frames=3)
                messages = ["Couldn't create %s stream", "Couldn't start the %s stream"]
                self.assertOutputStartsWith(result, HEADER + failure_lines(
                    result, [(m % failing).encode() for m in messages]))
                self.assertIn("create-fail vcam://0 " + failing, result.log)
                self.assertEqual(result.timestamps(failing.capitalize().encode()), [])
                self.assertFullTeardown(result, **{failing: False})
                self.assertStreamLifeCycle(result, "vcam://0", working)

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
