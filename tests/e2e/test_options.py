"""The command line: help and version, wrong command lines, the camera list,
the camera chosen with -d, and the video modes asked with --depth-mode and
--color-mode, on the virtual camera with the call trace."""

import os
import re
import unittest

from camwatch_run import (BOTH, SENSOR_COLOR, SENSOR_DEPTH, Camwatch, CamwatchAssertions,
                          created_stream, extended_errors, required_path, run_to_end,
                          run_until_key, teardown_faults)

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
USAGE = b"usage: camwatch [-hVlsf] [-d CAMERA] [--depth-mode MODE] [--color-mode MODE]\n"


def camera(uri, middle, extra=""):
    """A camera whose depth frames tell it apart by their middle value."""
    return ("device %s%s\ndepth width=4 height=4 fps=60 middle=%d\n"
            "color width=4 height=4 fps=60\n" % (uri, extra, middle))


def package_version():
    """The upstream part of debian/changelog's first version."""
    with open(os.path.join(ROOT, "debian", "changelog")) as f:
        version = re.match(r"camwatch \((?:\d+:)?([^ )]+)\)", f.readline()).group(1)
    return version.rsplit("-", 1)[0] if "-" in version else version


class HelpAndVersionTest(CamwatchAssertions):
    def assertTouchedNothing(self, result):
        self.assertEqual(result.trace, [])
        self.assertEqual(result.log, [])

    def test_help_in_both_spellings_goes_to_stdout_without_a_library_call(self):
        outputs = []
        for option in ("-h", "--help"):
            with self.subTest(option=option):
                result = run_to_end(camera("vcam://0", 1), args=[option])
                self.assertEqual(result.status, 0)
                self.assertEqual(result.stderr, b"")
                self.assertOutputStartsWith(result, USAGE)
                for name in (b"--help", b"--version", b"--list", b"--device", b"--depth-mode",
                             b"--color-mode", b"--stats", b"--follow"):
                    self.assertIn(name, result.output)
                self.assertTouchedNothing(result)
                # It fits a terminal of 80 columns.
                self.assertLessEqual(max(map(len, result.output.splitlines())), 79)
                outputs.append(result.output)
        self.assertEqual(outputs[0], outputs[1])

    def test_version_is_the_packages(self):
        for option in ("-V", "--version"):
            with self.subTest(option=option):
                result = run_to_end(camera("vcam://0", 1), args=[option])
                self.assertEqual(result.status, 0)
                self.assertEqual(result.output,
                                 b"camwatch " + package_version().encode() + b"\n")
                self.assertEqual(result.stderr, b"")
                self.assertTouchedNothing(result)


class UsageErrorTest(CamwatchAssertions):
    def test_wrong_command_lines_exit_64_with_two_lines_on_stderr(self):
        cases = [
            (["--bogus"], b'unknown option "--bogus"'),
            (["-d"], b"option -d needs a value"),
            (["--device="], b"option --device needs a camera, not an empty value"),
            (["--depth-mode", "640x0"], b'option --depth-mode: wrong mode "640x0": the height'
                                        b" must be a whole number from 1 to 65535"),
            (["--color-mode", "640x480:RGB"],
             b'option --color-mode: wrong mode "640x480:RGB": the format must be a pixel format'
             b" name such as DEPTH_1_MM or RGB888, or its number"),
            # Only the start of a very long value is repeated.
            (["--depth-mode=" + "9" * 5000 + "x1"],
             b'option --depth-mode: wrong mode "' + b"9" * 64 + b'"...: the width must be a'
             b" whole number from 1 to 65535"),
            (["watch"], b'unexpected argument "watch"'),
            (["--list", "--stats"], b"--list cannot be combined with --stats"),
        ]
        for args, message in cases:
            with self.subTest(args=args[0][:40]):
                result = run_to_end(camera("vcam://0", 1), args=args)
                self.assertEqual(result.status, 64)
                self.assertEqual(result.output, b"")
                self.assertEqual(result.stderr, b"camwatch: " + message + b"\n" + USAGE)
                self.assertEqual(result.trace, [])
                self.assertEqual(result.log, [])


class ListTest(CamwatchAssertions):
    def assertListedWithoutRunning(self, result):
        """No device event subscribed, every camera opened closed again, the
        library shut down last, and no stream."""
        self.assertEqual(result.calls("oniRegisterDeviceCallbacks"), [])
        self.assertEqual(result.calls("oniDeviceCreateStream"), [])
        opened = [c.args["device"] for c in result.calls("oniDeviceOpen") if c.result == "0"]
        self.assertEqual([c.args["device"] for c in result.calls("oniDeviceClose")], opened)
        self.assertEqual(result.trace[-1].name, "oniShutdown")

    def test_every_camera_in_library_order_with_its_modes_or_why_it_did_not_open(self):
        scenario = ("device vcam://0\n"
                    "ir width=8 height=2 fps=15\n"
                    "color width=4 height=4 fps=60 format=201\n"
                    "depth width=640 height=480 fps=30 format=101\n"
                    "device vcam://broken open=fail\n"
                    "depth\n"
                    "device vcam://depth-only\n"
                    "depth format=250\n")
        result = run_to_end(scenario, args=["--list"])
        self.assertEqual(result.status, 0)
        self.assertEqual(result.stderr, b"")
        head = b' usb 0000:0000 name "virtual camera" vendor "camwatch"\n'
        self.assertEqual(
            result.output,
            b'camera 0: "vcam://0"' + head
            + b"  depth 640x480@30:DEPTH_100_UM (101)\n"
            b"  color 4x4@60:YUV422 (201)\n"
            b"  ir 8x2@15:GRAY16 (203)\n"
            b'camera 1: "vcam://broken"' + head
            + b"  not opened: vcam: the scenario makes opening vcam://broken fail\n"
            b'camera 2: "vcam://depth-only"' + head
            + b"  depth 640x480@30:250 (250)\n")
        self.assertListedWithoutRunning(result)
        self.assertEqual(len(result.calls("oniDeviceOpen")), 3)

    def test_no_camera_exits_2_and_says_so_on_stderr(self):
        result = run_to_end("# no camera\n", args=["-l"])
        self.assertEqual(result.status, 2)
        self.assertEqual(result.output, b"")
        self.assertEqual(result.stderr, b"camwatch: no camera is connected\n")
        self.assertListedWithoutRunning(result)

    def test_a_library_that_cannot_start_lists_nothing_and_exits_1(self):
        result = run_to_end(None, args=["--list"],
                            runtime=required_path("VCAM_RUNTIME_NODRIVER"))
        self.assertEqual(result.status, 1)
        self.assertOutputStartsWith(result, b"Initialize failed\n\t")
        self.assertEqual([c.name for c in result.trace], ["oniInitialize", "oniGetExtendedError"])


THREE = camera("vcam://a", 111) + camera("vcam://b", 222) + camera("vcam://c", 333)
LISTED = (b'Device "vcam://a" already connected\nDevice "vcam://b" already connected\n'
          b'Device "vcam://c" already connected\n')


class DeviceChoiceTest(CamwatchAssertions):
    def assertWatched(self, result, uri, middle):
        self.assertOutputStartsWith(result, LISTED)
        self.assertEqual(set(result.depth_values()), {middle})
        self.assertEqual([line for line in result.log if line.startswith("open")],
                         ["open " + uri])
        self.assertFullTeardown(result)
        self.assertStreamLifeCycle(result, uri, "depth")

    def test_an_index_from_0_in_list_order(self):
        for index, uri, middle in (("1", "vcam://b", 222), ("2", "vcam://c", 333),
                                   ("0", "vcam://a", 111)):
            with self.subTest(index=index):
                result = run_until_key(THREE, frames=2, kinds=BOTH, args=["-d", index])
                self.assertWatched(result, uri, middle)

    def test_a_listed_uri(self):
        result = run_until_key(THREE, frames=2, kinds=BOTH, args=["--device=vcam://c"])
        self.assertWatched(result, "vcam://c", 333)

    def test_a_name_nothing_answers_to_is_tried_on_every_camera_then_handed_to_the_library(self):
        result = run_to_end(THREE, args=["--device", "vcam://elsewhere"])
        text = extended_errors(result)[-1]
        self.assertEqual(result.output, LISTED + b"Couldn't open device\n" + text + b"\n")
        self.assertEqual(result.status, 2)
        # Each listed camera is opened for its serial number, and closed again.
        self.assertEqual([c.args["uri"] for c in result.calls("oniDeviceOpen")],
                         ['"vcam://a"', '"vcam://b"', '"vcam://c"', '"vcam://elsewhere"'])
        self.assertEqual(len(result.calls("oniDeviceClose")), 3)
        self.assertNotEqual(result.calls("oniDeviceOpen")[-1].result, "0")
        self.assertIn(b"vcam://elsewhere", text)
        # Then the path of any failed open: device events off, no stream.
        self.assertEqual(len(result.calls("oniUnregisterDeviceCallbacks")), 3)
        self.assertEqual(result.calls("oniDeviceCreateStream"), [])

    def test_an_index_past_the_list_is_no_index(self):
        result = run_to_end(THREE, args=["-d", "3"])
        self.assertEqual(result.status, 2)
        self.assertEqual(result.calls("oniDeviceOpen")[-1].args["uri"], '"3"')


class VideoModeTest(CamwatchAssertions):
    SCENARIO = ("device vcam://0\n"
                "depth width=4 height=4 fps=60 middle=1234\n"
                "color width=4 height=2 fps=60 format=200\n")

    def test_an_offered_mode_is_set_after_both_creations_and_before_either_start(self):
        result = run_until_key(self.SCENARIO, frames=2, kinds=BOTH,
                               args=["--depth-mode", "4x4@60:DEPTH_1_MM", "--color-mode=4x2"])
        depth = created_stream(result, SENSOR_DEPTH)
        color = created_stream(result, SENSOR_COLOR)
        steps = [(c.name, c.args.get("stream"), c.args.get("mode"), c.result)
                 for c in result.calls("oniDeviceCreateStream", "oniStreamSetProperty",
                                       "oniStreamStart")]
        self.assertEqual([s[0] for s in steps[:2]], ["oniDeviceCreateStream"] * 2)
        self.assertEqual(steps[2:], [
            ("oniStreamSetProperty", depth, "4x4@60:100", "0"),
            ("oniStreamSetProperty", color, "4x2@60:200", "0"),
            ("oniStreamStart", depth, None, "0"),
            ("oniStreamStart", color, None, "0")])
        self.assertEqual(set(result.depth_values()), {1234})
        self.assertEqual(result.stderr, b"")
        self.assertFullTeardown(result)

    def assertRefusedBeforeAnyStream(self, result, stderr):
        self.assertEqual(result.status, 4)
        self.assertEqual(result.output, b'Device "vcam://0" already connected\n')
        self.assertEqual(result.stderr, stderr)
        self.assertEqual(result.calls("oniDeviceCreateStream", "oniStreamSetProperty",
                                      "oniStreamStart"), [])
        # Device events off, the camera closed, the library shut down, in that order.
        self.assertEqual(teardown_faults(result, depth=False, color=False), [])
        self.assertEqual(result.log[-2:], ["close vcam://0", "shutdown"])

    def test_a_mode_not_offered_is_refused_with_the_modes_there_are(self):
        cases = [
            (["--depth-mode", "8x8"],
             b"camwatch: --depth-mode 8x8: the depth sensor offers no such mode; it offers:\n"
             b"  depth 4x4@60:DEPTH_1_MM (100)\n"),
            (["--depth-mode", "4x4@30"],
             b"camwatch: --depth-mode 4x4@30: the depth sensor offers no such mode;"
             b" it offers:\n  depth 4x4@60:DEPTH_1_MM (100)\n"),
            # The depth mode is offered; the color one is not, so neither is set.
            (["--depth-mode", "4x4", "--color-mode", "4x2:YUV422"],
             b"camwatch: --color-mode 4x2:YUV422: the color sensor offers no such mode;"
             b" it offers:\n  color 4x2@60:RGB888 (200)\n"),
        ]
        for args, stderr in cases:
            with self.subTest(args=args):
                result = run_to_end(self.SCENARIO, args=args)
                self.assertRefusedBeforeAnyStream(result, stderr)

    def test_a_mode_the_driver_refuses_ends_the_run_before_any_start(self):
        cam = Camwatch(self.SCENARIO, args=["--depth-mode", "4x4", "--color-mode", "4x2"])
        cam.env["CAMWATCH_TRACE_REFUSE_MODE"] = "1"
        with cam:
            result = cam.finish()
        self.assertEqual(result.status, 4)
        self.assertEqual(result.output, b'Device "vcam://0" already connected\n')
        self.assertTrue(result.stderr.startswith(
            b"camwatch: --depth-mode 4x4: the depth stream refused the mode"
            b" 4x4@60:DEPTH_1_MM (100)"), result.stderr)
        self.assertTrue(result.stderr.endswith(
            b"; the depth sensor offers:\n  depth 4x4@60:DEPTH_1_MM (100)\n"), result.stderr)
        # The depth mode was the first refused; color's was never asked.
        [refused] = result.calls("oniStreamSetProperty")
        self.assertEqual(refused.result, "1 injected")
        self.assertEqual(result.calls("oniStreamStart", "oniStreamRegisterNewFrameCallback"), [])
        # Both streams made are taken down in the order of a run's end.
        depth = created_stream(result, SENSOR_DEPTH)
        color = created_stream(result, SENSOR_COLOR)
        device = result.calls("oniDeviceOpen")[0].args["device"]
        tail = [(c.name, c.args.get("stream") or c.args.get("device"))
                for c in result.trace[result.trace.index(refused) + 1:]
                if c.name != "oniGetExtendedError"]
        self.assertEqual(tail, [("oniUnregisterDeviceCallbacks", None)] * 3
                         + [("oniStreamStop", depth), ("oniStreamDestroy", depth),
                            ("oniStreamStop", color), ("oniStreamDestroy", color),
                            ("oniDeviceClose", device), ("oniShutdown", None)])
        self.assertEqual(result.log[-4:], ["destroy vcam://0 depth", "destroy vcam://0 color",
                                           "close vcam://0", "shutdown"])

    def test_a_mode_asked_of_a_missing_sensor_is_refused(self):
        result = run_to_end("device vcam://0\ndepth width=4 height=4 fps=60\n",
                            args=["--color-mode", "4x4"])
        self.assertRefusedBeforeAnyStream(
            result, b"camwatch: --color-mode 4x4: the camera has no color sensor\n")


# The cases below need the virtual camera's device options name=, vendor=,
# usb= and serial=, and its sensor option modes=.

class IdentityAndModesTest(CamwatchAssertions):
    def test_list_shows_identity_serial_and_every_offered_mode_in_order(self):
        scenario = ("device vcam://0 name=Cam-A vendor=Acme usb=1d27:0601 serial=0001\n"
                    "depth width=640 height=480 fps=30 modes=320x240@60:100,320x240@30:101\n"
                    "color width=4 height=4 fps=60\n"
                    "device vcam://1 name=Cam-B serial=SN-2\n"
                    "depth\n")
        result = run_to_end(scenario, args=["--list"])
        self.assertEqual(result.status, 0)
        self.assertEqual(
            result.output,
            b'camera 0: "vcam://0" usb 1d27:0601 serial "0001" name "Cam-A" vendor "Acme"\n'
            b"  depth 640x480@30:DEPTH_1_MM (100)\n"
            b"  depth 320x240@60:DEPTH_1_MM (100)\n"
            b"  depth 320x240@30:DEPTH_100_UM (101)\n"
            b"  color 4x4@60:RGB888 (200)\n"
            b'camera 1: "vcam://1" usb 0000:0000 serial "SN-2" name "Cam-B" vendor "camwatch"\n'
            b"  depth 640x480@30:DEPTH_1_MM (100)\n")
        self.assertEqual(result.stderr, b"")

    def test_a_serial_number_opens_each_camera_until_the_one_that_has_it(self):
        # "7" is past the list's end, so no index: a serial number.
        scenario = (camera("vcam://a", 111, " serial=5") + camera("vcam://b", 222, " serial=6")
                    + camera("vcam://c", 333, " serial=7"))
        for serial, uri, middle in (("7", "vcam://c", 333), ("6", "vcam://b", 222)):
            with self.subTest(serial=serial):
                result = run_until_key(scenario, frames=2, kinds=BOTH, args=["-d", serial])
                self.assertOutputStartsWith(result, LISTED)
                self.assertEqual(set(result.depth_values()), {middle})
                opened = [line for line in result.log
                          if line.split(" ")[0] in ("open", "close")]
                tried = {"vcam://c": ["open vcam://a", "close vcam://a",
                                      "open vcam://b", "close vcam://b", "open vcam://c"],
                         "vcam://b": ["open vcam://a", "close vcam://a", "open vcam://b"]}
                self.assertEqual(opened, tried[uri] + ["close " + uri])
                self.assertStreamLifeCycle(result, uri, "depth")
                self.assertEqual(result.stderr, b"")

    SEVERAL = ("device vcam://0\n"
               "depth width=4 height=4 fps=60 middle=77 "
               "modes=8x8@30:100,8x8@60:101,8x8@60:100\n"
               "color width=4 height=4 fps=60\n")

    def test_the_first_offered_mode_that_matches_is_the_one_set(self):
        result = run_until_key(self.SEVERAL, frames=2, kinds=BOTH, args=["--depth-mode", "8x8@60"])
        [depth_set] = result.calls("oniStreamSetProperty")
        self.assertEqual((depth_set.args["mode"], depth_set.result), ("8x8@60:101", "0"))
        self.assertIn("mode vcam://0 depth 8x8@60:101", result.log)
        self.assertEqual(set(result.depth_values()), {77})
        self.assertEqual(result.stderr, b"")
        self.assertFullTeardown(result)

    def test_a_mode_not_offered_lists_every_mode_of_the_sensor(self):
        result = run_to_end(self.SEVERAL, args=["--depth-mode", "8x8:GRAY8"])
        self.assertEqual(result.status, 4)
        self.assertEqual(
            result.stderr,
            b"camwatch: --depth-mode 8x8:GRAY8: the depth sensor offers no such mode; it offers:\n"
            b"  depth 4x4@60:DEPTH_1_MM (100)\n"
            b"  depth 8x8@30:DEPTH_1_MM (100)\n"
            b"  depth 8x8@60:DEPTH_100_UM (101)\n"
            b"  depth 8x8@60:DEPTH_1_MM (100)\n")
        self.assertEqual(teardown_faults(result, depth=False, color=False), [])


if __name__ == "__main__":
    unittest.main()
