"""--follow: the watched camera unplugged and plugged in again is reopened, its
streams and reporters brought back, and the run still ends on the key with the
teardown of whatever is open then."""

import types
import unittest

from camwatch_run import (BOTH, FRAME_LINE, SENSOR_COLOR, SENSOR_DEPTH, Camwatch,
                          CamwatchAssertions, extended_errors, frame_reference_faults, held_frames)

SMALL_DEPTH = "depth width=4 height=4 fps=60 middle=1234 fill=7\n"
SMALL_COLOR = "color width=4 height=4 fps=60 middle=0x0aff00 fill=0x112233\n"
# The events' clock starts when the library loads the driver: the unplug comes
# late enough for both streams to have started under valgrind or an emulator.
CAMERA = "device vcam://0\n" + SMALL_DEPTH + SMALL_COLOR
UNPLUG = "at 2000 disconnect vcam://0\n"
HEADER = b'Device "vcam://0" already connected\n'
GONE = b'Device "vcam://0" disconnected\n'
BACK = b'Device "vcam://0" connected\n'
REOPENED = b'Device "vcam://0" reopened\n'
# What --follow subscribes besides the device event reporter's three.
DEVICE_CALLBACKS = 3 + 2
# The calls that make and unmake a camera's run, in the order they must come.
LIFE_CYCLE_CALLS = ("oniDeviceOpen", "oniDeviceCreateStream", "oniStreamStart",
                    "oniStreamRegisterNewFrameCallback", "oniStreamUnregisterNewFrameCallback",
                    "oniUnregisterDeviceCallbacks", "oniStreamStop", "oniStreamDestroy",
                    "oniDeviceClose", "oniShutdown")


def non_frame_output(result):
    return FRAME_LINE.sub(b"", result.output)


def frame_kinds_after(output, line):
    """The kinds of the frame lines printed after `line`."""
    after = output.split(line, 1)[1] if line in output else b""
    return [m.group(0).split(b" ")[1] for m in FRAME_LINE.finditer(after)]


def handle(call):
    return call.args.get("stream") or call.args.get("handle") or call.args.get("device")


class Opening:
    """One successful open of a camera and what the run made on it."""

    def __init__(self, position, call):
        self.position = position
        self.device = call.args["device"]
        self.streams = {}  # sensor: handle, for the streams created and started

    def made(self):
        calls = [("oniDeviceOpen", self.device)]
        for sensor in (SENSOR_DEPTH, SENSOR_COLOR):
            if sensor in self.streams:
                calls += [("oniDeviceCreateStream", self.streams[sensor]),
                          ("oniStreamStart", self.streams[sensor])]
        return calls + [("oniStreamRegisterNewFrameCallback", self.streams[s])
                        for s in (SENSOR_DEPTH, SENSOR_COLOR) if s in self.streams]

    def unmade(self, device_callbacks=()):
        """As the teardown after a key: frame listeners off, device events off
        when at the end, streams stopped and destroyed, the camera closed."""
        ordered = [self.streams[s] for s in (SENSOR_DEPTH, SENSOR_COLOR) if s in self.streams]
        calls = [("oniStreamUnregisterNewFrameCallback", s) for s in ordered]
        calls += [("oniUnregisterDeviceCallbacks", h) for h in device_callbacks]
        for stream in ordered:
            calls += [("oniStreamStop", stream), ("oniStreamDestroy", stream)]
        return calls + [("oniDeviceClose", self.device)]


def life_cycle(result):
    """The life cycle calls, with their places in the trace."""
    return [(i, c) for i, c in enumerate(result.trace) if c.name in LIFE_CYCLE_CALLS]


def serial_reads(result):
    """The places of the opens of a camera only to read its serial number: the
    camera is closed again before anything else is made or unmade. Their URIs."""
    calls = life_cycle(result)
    reads = {}
    for (i, call), (j, after) in zip(calls, calls[1:]):
        if (call.name == "oniDeviceOpen" and call.result == "0"
                and after.name == "oniDeviceClose"
                and after.args["device"] == call.args["device"]):
            reads[i] = call.args["uri"]
            reads[j] = None
    return reads


def openings(result):
    """Every successful open of the run's camera, with the streams made on it."""
    found = []
    skipped = serial_reads(result)
    for position, call in life_cycle(result):
        if position in skipped:
            continue
        if call.name == "oniDeviceOpen" and call.result == "0":
            found.append(Opening(position, call))
        elif call.name == "oniDeviceCreateStream" and call.result == "0" and found:
            found[-1].streams[call.args["sensor"]] = call.args["stream"]
    return found


def held_after(result, opening, closing_position):
    """The frames the reporters held when the camera opened at `opening` closed."""
    trace = result.trace[opening.position:closing_position]
    held = held_frames(types.SimpleNamespace(trace=trace))
    return [("oniFrameRelease", held[s]) for s in
            (opening.streams.get(SENSOR_DEPTH), opening.streams.get(SENSOR_COLOR))
            if s is not None and held.get(s)]


def follow_faults(result, failed_reopens=0):
    """Each camera's run made and unmade in the order of the teardown after a
    key; between a close and what follows, only the frames the reporters held
    go back (the next open, a failed one, or the library's shutdown); every
    frame referenced goes back once. What broke that, as text."""
    faults = []
    runs = openings(result)
    device_callbacks = [c.args["handle"] for c in result.calls("oniRegisterDeviceCallbacks")]
    if len(device_callbacks) != DEVICE_CALLBACKS:
        faults.append("%d device callback registrations" % len(device_callbacks))
    expected = []
    for number, run in enumerate(runs):
        last = number == len(runs) - 1
        expected += run.made()
        expected += run.unmade(device_callbacks if last and not failed_reopens else ())
    if failed_reopens:
        expected += [("oniDeviceOpen", "0x0")] * failed_reopens
        expected += [("oniUnregisterDeviceCallbacks", h) for h in device_callbacks]
    expected.append(("oniShutdown", None))
    skipped = serial_reads(result)
    actual = [(c.name, handle(c)) for i, c in life_cycle(result)
              if runs and i >= runs[0].position and i not in skipped]
    if actual != expected:
        faults.append("life cycle %r, expected %r" % (actual, expected))
    for run in runs:
        closes = [i for i, c in enumerate(result.trace)
                  if c.name == "oniDeviceClose" and c.args["device"] == run.device
                  and i > run.position]
        if not closes:
            continue
        tail = []
        for call in result.trace[closes[0] + 1:]:
            if call.name in ("oniDeviceOpen", "oniUnregisterDeviceCallbacks", "oniShutdown"):
                break
            if call.name not in ("oniGetExtendedError", "oniDeviceGetInfo"):
                tail.append((call.name, call.args.get("frame")))
        if tail != held_after(result, run, closes[0]):
            faults.append("after closing %s: %r" % (run.device, tail))
    return faults + frame_reference_faults(result)


class FollowTest(CamwatchAssertions):
    def run_follow(self, scenario, last_line, frames_after=None, args=("--follow",)):
        """Runs the scenario until `last_line` is printed and, when it is given,
        3 frame lines of each stream are printed after `frames_after`; then the key."""
        with Camwatch(scenario, args=args) as cam:
            cam.wait_for_text(last_line)
            if frames_after is not None:
                cam.wait_for(lambda out: all(frame_kinds_after(bytes(out), frames_after)
                                             .count(kind) >= 3 for kind in BOTH),
                             what="frame lines after %r" % frames_after)
            self.assertTrue(cam.running(), "ended without a key")
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.status, 0, result.output[-2000:])
        self.assertEqual(result.stderr, b"")
        return result

    def assertReopenedOnce(self, result, uri, opened):
        """One reopening at `uri`: the driver saw the cameras `opened` and both
        streams started again, and each run was made and unmade in order."""
        self.assertEqual([line[5:] for line in result.log if line.startswith("open ")], opened)
        for sensor in ("depth", "color"):
            self.assertEqual(result.log.count("start %s %s" % (uri, sensor)),
                             2 if uri == "vcam://0" else 1)
        self.assertEqual(follow_faults(result), [])

    def test_camera_plugged_in_again_is_reopened_and_its_frames_resume(self):
        result = self.run_follow(CAMERA + UNPLUG + "at 2300 connect vcam://0\n",
                                 REOPENED, frames_after=REOPENED)
        self.assertEqual(non_frame_output(result), HEADER + GONE + BACK + REOPENED)
        self.assertTrue(frame_kinds_after(result.output[:result.output.index(GONE)], HEADER))
        self.assertReopenedOnce(result, "vcam://0", ["vcam://0", "vcam://0"])

    def test_another_camera_plugged_in_meanwhile_is_not_opened(self):
        scenario = (CAMERA + UNPLUG + "at 2200 connect vcam://1\n" + SMALL_DEPTH
                    + "at 2500 connect vcam://0\n")
        other = b'Device "vcam://1" connected\n'
        result = self.run_follow(scenario, REOPENED, frames_after=REOPENED)
        self.assertEqual(non_frame_output(result), HEADER + GONE + other + BACK + REOPENED)
        self.assertEqual({c.args["uri"] for c in result.calls("oniDeviceOpen")}, {'"vcam://0"'})
        self.assertReopenedOnce(result, "vcam://0", ["vcam://0", "vcam://0"])

    def test_failed_reopening_is_reported_and_the_run_goes_on_to_the_key(self):
        scenario = CAMERA + UNPLUG + "at 2300 connect vcam://0 open=fail\n"
        result = self.run_follow(scenario, b'Couldn\'t reopen device "vcam://0"\n')
        # The library's error text line is part of the same write.
        text = extended_errors(result)[-1]
        self.assertEqual(non_frame_output(result), HEADER + GONE + BACK
                         + b'Couldn\'t reopen device "vcam://0"\n' + text + b"\n")
        self.assertIn("open-fail vcam://0", result.log)
        # The lost camera's run went before the attempt, and nothing was made
        # after it: at the key only the device events and the library are left.
        self.assertEqual(follow_faults(result, failed_reopens=1), [])

    def test_without_follow_the_camera_plugged_in_again_is_left_alone(self):
        result = self.run_follow(CAMERA + UNPLUG + "at 2300 connect vcam://0\n"
                                 + "at 2600 connect vcam://1\n",
                                 b'Device "vcam://1" connected\n', args=())
        self.assertEqual(non_frame_output(result),
                         HEADER + GONE + BACK + b'Device "vcam://1" connected\n')
        self.assertEqual(len(result.calls("oniDeviceOpen")), 1)
        self.assertEqual(len(result.calls("oniRegisterDeviceCallbacks")), 3)
        self.assertFullTeardown(result)

    def test_camera_back_under_a_new_uri_is_known_by_its_serial_number(self):
        # As after USB enumerated the camera again; another camera, plugged in
        # meanwhile, is opened only to read its number.
        scenario = ("device vcam://0 serial=A001\n" + SMALL_DEPTH + SMALL_COLOR + UNPLUG
                    + "at 2200 connect vcam://7 serial=B002\n" + SMALL_DEPTH
                    + "at 2500 connect vcam://5 serial=A001\n")
        reopened = b'Device "vcam://5" reopened\n'
        result = self.run_follow(scenario, reopened, frames_after=reopened)
        self.assertEqual(non_frame_output(result),
                         HEADER + GONE + b'Device "vcam://7" connected\n'
                         + b'Device "vcam://5" connected\n' + reopened)
        self.assertEqual([uri for uri in serial_reads(result).values() if uri],
                         ['"vcam://7"', '"vcam://5"'])
        self.assertEqual([result.trace[run.position].args["uri"] for run in openings(result)],
                         ['"vcam://0"', '"vcam://5"'])
        self.assertReopenedOnce(result, "vcam://5",
                                ["vcam://0", "vcam://7", "vcam://5", "vcam://5"])


if __name__ == "__main__":
    unittest.main()
