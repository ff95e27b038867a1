"""Start-up and shut-down: the failure exits, the camera list, the key that ends
a run, and the device events of cameras coming, going and changing state."""

import unittest

from camwatch_run import (BOTH, FRAME_LINE, Camwatch, CamwatchAssertions, extended_errors,
                          required_path, run_to_end, run_until_key)

SMALL_DEPTH = "depth width=4 height=4 fps=60 middle=1234 fill=7\n"
SMALL_COLOR = "color width=4 height=4 fps=60 middle=0x0aff00 fill=0x112233\n"


class FailureExitsTest(CamwatchAssertions):
    def test_init_failure_prints_two_lines_and_calls_nothing_else(self):
        folder = required_path("VCAM_RUNTIME_NODRIVER")
        result = run_to_end(None, runtime=folder)
        self.assertEqual(result.status, 1)
        self.assertEqual(
            result.output,
            b"Initialize failed\n\tFound no files matching '" + folder.encode()
            + b"/OpenNI2/Drivers/lib*.so.0'\n\n")
        self.assertEqual([c.name for c in result.trace], ["oniInitialize", "oniGetExtendedError"])
        self.assertEqual(result.log, [])

    def test_driver_refusing_its_scenario_is_an_init_failure(self):
        with Camwatch("device vcam://0\ndepth width=four\n") as cam:
            result = cam.finish()
            scenario = cam.scenario_path
        self.assertEqual(result.status, 1)
        self.assertOutputStartsWith(result, b"Initialize failed\n\t")
        self.assertIn((scenario + ":2").encode(), result.stderr)
        self.assertEqual([c.name for c in result.trace], ["oniInitialize", "oniGetExtendedError"])

    def assertLeavesAfterFailedOpen(self, result):
        self.assertEqual(result.status, 2)
        registered = [c.args["handle"] for c in result.calls("oniRegisterDeviceCallbacks")]
        self.assertEqual(len(registered), 3)
        opens = result.calls("oniDeviceOpen")
        self.assertEqual(len(opens), 1)
        self.assertNotEqual(opens[0].result, "0")
        after_open = result.trace[result.trace.index(opens[0]) + 1:]
        self.assertEqual([(c.name, c.args.get("handle")) for c in after_open],
                         [("oniGetExtendedError", None)]
                         + [("oniUnregisterDeviceCallbacks", h) for h in registered])
        self.assertEqual(result.calls("oniDeviceCreateStream"), [])
        # Ended at once: a shutdown can deadlock against a driver's events.
        self.assertNotIn("shutdown", result.log)

    def test_no_camera_tries_any_device_and_exits_2(self):
        result = run_to_end("# no camera at all\n")
        self.assertEqual(
            result.output,
            b" No Device Connected!\nCouldn't open device\n"
            b"\tDeviceOpen using default: no devices found\n\n")
        self.assertEqual(result.calls("oniDeviceOpen")[0].args["uri"], "(null)")
        self.assertLeavesAfterFailedOpen(result)
        self.assertFalse([line for line in result.log if line.startswith("open")])

    def test_open_failure_exits_2_with_library_text(self):
        result = run_to_end("device vcam://0 open=fail\n" + SMALL_DEPTH)
        [text] = extended_errors(result)
        self.assertEqual(
            result.output,
            b'Device "vcam://0" already connected\nCouldn\'t open device\n' + text + b"\n")
        self.assertEqual(result.calls("oniDeviceOpen")[0].args["uri"], '"vcam://0"')
        self.assertLeavesAfterFailedOpen(result)
        self.assertIn("open-fail vcam://0", result.log)


class CameraListTest(CamwatchAssertions):
    def assertOnlyFrameLinesAfter(self, result, header):
        self.assertOutputStartsWith(result, header)
        rest = result.output[len(header):]
        frames = b"".join(m.group(0) for m in result.frame_lines())
        self.assertEqual(rest, frames)

    def test_one_camera_reports_both_streams_then_tears_down_in_order(self):
        scenario = "device vcam://0\n" + SMALL_DEPTH + SMALL_COLOR
        result = run_until_key(scenario, frames=3, kinds=BOTH)
        self.assertOnlyFrameLinesAfter(result, b'Device "vcam://0" already connected\n')
        self.assertIn(b"Depth middle index     1234\n", result.output)
        self.assertIn(b"Color RGB value 0x0aff00\n", result.output)
        self.assertFullTeardown(result)
        self.assertEqual(result.log[:3], ["init", "device vcam://0", "open vcam://0"])
        self.assertStreamLifeCycle(result, "vcam://0", "depth")
        self.assertStreamLifeCycle(result, "vcam://0", "color")

    def test_two_cameras_are_listed_and_only_the_first_is_opened(self):
        scenario = ("device vcam://first\n" + SMALL_DEPTH + SMALL_COLOR
                    + "device vcam://second\n" + SMALL_DEPTH)
        result = run_until_key(scenario, frames=3, kinds=BOTH)
        self.assertOnlyFrameLinesAfter(
            result,
            b'Device "vcam://first" already connected\nDevice "vcam://second" already connected\n')
        self.assertIn("open vcam://first", result.log)
        self.assertFalse([line for line in result.log if line.endswith("vcam://second")
                          and not line.startswith("device")])
        self.assertFullTeardown(result)

    def test_key_waiting_before_start_still_tears_down_fully(self):
        result = run_to_end("device vcam://0\n" + SMALL_DEPTH + SMALL_COLOR,
                            key_before_start=True)
        self.assertOutputStartsWith(result, b'Device "vcam://0" already connected\n')
        self.assertFullTeardown(result)
        self.assertStreamLifeCycle(result, "vcam://0", "depth")
        self.assertStreamLifeCycle(result, "vcam://0", "color")


class DeviceEventsTest(CamwatchAssertions):
    def test_connect_state_changes_and_disconnect_of_opened_camera(self):
        scenario = ("device vcam://0\n" + SMALL_DEPTH + SMALL_COLOR
                    + "at 150 connect vcam://1\n" + SMALL_COLOR
                    + "at 250 state vcam://0 3\n"
                    + "at 300 state vcam://0 0\n"
                    + "at 400 disconnect vcam://0\n"
                    + "at 500 state vcam://1 1\n")
        events = (b'Device "vcam://1" connected\n'
                  b'Device "vcam://0" error state changed to 3\n'
                  b'Device "vcam://0" error state changed to 0\n'
                  b'Device "vcam://0" disconnected\n'
                  b'Device "vcam://1" error state changed to 1\n')
        with Camwatch(scenario) as cam:
            # Losing the opened camera does not end the run; only a key does.
            cam.wait_for_text(b'Device "vcam://1" error state changed to 1\n')
            self.assertTrue(cam.running())
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.status, 0)
        non_frame = result.output
        for m in result.frame_lines():
            non_frame = non_frame.replace(m.group(0), b"", 1)
        self.assertEqual(non_frame, b'Device "vcam://0" already connected\n' + events)
        # The run ends as any other: the lost camera's streams and device are
        # still stopped, destroyed and closed; the new camera is never opened.
        self.assertFullTeardown(result)
        self.assertIn("connect vcam://1", result.log)
        self.assertFalse([line for line in result.log if line.startswith("open vcam://1")])

    def run_unplugged(self, events, last_line):
        """The opened camera, sending both streams, meets the timed events;
        the key comes once last_line is printed. The Result, and the output
        after the camera's disconnected line. The events' clock starts when
        the library loads the driver: the unplug comes late enough for both
        streams to have started under valgrind or an emulator."""
        scenario = "device vcam://0\n" + SMALL_DEPTH + SMALL_COLOR + events
        with Camwatch(scenario) as cam:
            cam.wait_for_text(last_line)
            self.assertTrue(cam.running())
            cam.press_key()
            result = cam.finish()
        gone = b'Device "vcam://0" disconnected\n'
        self.assertIn(gone, result.output)
        self.assertTrue(result.timestamps(b"Depth") and result.timestamps(b"Color"))
        after = result.output.split(gone, 1)[1]
        # Not a frame was sent after the unplug, so none can be printed.
        unplugged = result.log.index("disconnect vcam://0")
        self.assertEqual([line for line in result.log[unplugged:] if line.startswith("frame ")],
                         [])
        # The library hands frames and events to camwatch on threads of its
        # own, so a frame sent just before the unplug may print just after
        # its line; none may print once the later events have.
        sent = {int(line.split()[-1]) for line in result.log[:unplugged]
                if line.startswith("frame ")}
        in_flight = [int(m.group(1)) for m in FRAME_LINE.finditer(after)]
        self.assertLessEqual(set(in_flight), sent)
        self.assertLessEqual(len(in_flight), 2, "one frame in flight per stream at most")
        self.assertTrue(after.endswith(last_line), after)
        after = FRAME_LINE.sub(b"", after)
        self.assertFullTeardown(result)
        self.assertStreamLifeCycle(result, "vcam://0", "depth")
        self.assertStreamLifeCycle(result, "vcam://0", "color")
        return result, after

    def test_unplugged_camera_goes_quiet_and_the_run_still_ends_on_the_key(self):
        # The other camera's arrival, 400 ms (24 frame periods) later, tells
        # that the silence is not a late frame.
        _, after = self.run_unplugged("at 2000 disconnect vcam://0\nat 2400 connect vcam://1\n",
                                      b'Device "vcam://1" connected\n')
        self.assertEqual(after, b'Device "vcam://1" connected\n')

    def test_camera_plugged_in_again_is_announced_and_not_reopened(self):
        result, after = self.run_unplugged(
            "at 2000 disconnect vcam://0\nat 2200 connect vcam://0\nat 2500 connect vcam://1\n",
            b'Device "vcam://1" connected\n')
        self.assertEqual(after, b'Device "vcam://0" connected\nDevice "vcam://1" connected\n')
        self.assertEqual(len(result.calls("oniDeviceOpen")), 1)
        self.assertEqual([line for line in result.log if line.startswith("open")],
                         ["open vcam://0"])


if __name__ == "__main__":
    unittest.main()
