"""Assertions shared by the end-to-end tests: teardown order and frame
references from the call trace, stream life cycles from the driver log."""

import unittest

SENSOR_DEPTH = "3"
SENSOR_COLOR = "2"
GARBAGE_FRAME = "0xdeadbeef"

TEARDOWN_CALLS = ("oniStreamUnregisterNewFrameCallback", "oniUnregisterDeviceCallbacks",
                  "oniStreamStop", "oniStreamDestroy", "oniDeviceClose", "oniShutdown")


def created_stream(result, sensor):
    """Handle of the stream created for the sensor, or None."""
    for call in result.calls("oniDeviceCreateStream"):
        if call.args["sensor"] == sensor and call.result == "0":
            return call.args["stream"]
    return None


def extended_errors(result):
    """The texts oniGetExtendedError returned, in call order, as bytes."""
    texts = []
    for call in result.calls("oniGetExtendedError"):
        # The tracer quotes the text and escapes \\, ", \n, \t and \xNN.
        texts.append(call.result[1:-1].encode("latin-1").decode("unicode_escape")
                     .encode("latin-1"))
    return texts


def held_frames(result):
    """Frame each stream still holds at the end, replaying reads and references."""
    read_by = {}
    held = {}
    for call in result.trace:
        if call.name == "oniStreamReadFrame":
            stream = call.args["stream"]
            if call.result == "0":
                read_by[call.args["frame"]] = stream
            else:
                held[stream] = None
        elif call.name == "oniFrameAddRef":
            held[read_by[call.args["frame"]]] = call.args["frame"]
    return held


class CamwatchAssertions(unittest.TestCase):
    maxDiff = None

    def assertOutputStartsWith(self, result, text):
        self.assertEqual(result.output[:len(text)], text, result.output[:2000])

    def assertFrameReferencesBalanced(self, result):
        """Every reference a read or an AddRef took went back exactly once, by
        shutdown; the garbage pointer of a failed read was never touched."""
        references = {}
        shutdown_seen = False
        for call in result.trace:
            if call.name == "oniShutdown":
                shutdown_seen = True
                leaked = {f: n for f, n in references.items() if n}
                self.assertEqual(leaked, {}, "frames still referenced at shutdown")
            frame = call.args.get("frame")
            if call.name == "oniStreamReadFrame" and call.result == "0":
                references[frame] = references.get(frame, 0) + 1
            elif call.name == "oniFrameAddRef":
                self.assertGreater(references.get(frame, 0), 0, "AddRef of unheld " + call.line)
                references[frame] += 1
            elif call.name == "oniFrameRelease":
                self.assertNotEqual(frame, GARBAGE_FRAME, "released a failed read's pointer")
                self.assertGreater(references.get(frame, 0), 0, "release of unheld " + call.line)
                references[frame] -= 1
        self.assertTrue(shutdown_seen, "no oniShutdown in the trace")

    def assertFullTeardown(self, result, depth=True, color=True, status=0, stderr=b""):
        """The order camwatch must leave in after a key (or a failed write:
        `status`, `stderr`): frame listeners off (depth, color), device callbacks
        off, depth stop/destroy, color stop/destroy, device close, held frames
        back (depth's, color's), shutdown, then nothing."""
        self.assertEqual(result.status, status, result.output[-2000:])
        self.assertEqual(result.stderr, stderr)
        depth_stream = created_stream(result, SENSOR_DEPTH)
        color_stream = created_stream(result, SENSOR_COLOR)
        self.assertEqual(depth_stream is not None, depth, "depth stream created")
        self.assertEqual(color_stream is not None, color, "color stream created")
        device_handles = [c.args["handle"] for c in result.calls("oniRegisterDeviceCallbacks")]
        self.assertEqual(len(device_handles), 3)
        device = [c.args["device"] for c in result.calls("oniDeviceOpen") if c.result == "0"]
        self.assertEqual(len(device), 1)

        expected = []
        for stream in (depth_stream, color_stream):
            if stream is not None:
                expected.append(("oniStreamUnregisterNewFrameCallback", stream))
        expected += [("oniUnregisterDeviceCallbacks", h) for h in device_handles]
        for stream in (depth_stream, color_stream):
            if stream is not None:
                expected += [("oniStreamStop", stream), ("oniStreamDestroy", stream)]
        expected += [("oniDeviceClose", device[0]), ("oniShutdown", None)]
        actual = [(c.name, c.args.get("stream") or c.args.get("handle") or c.args.get("device"))
                  for c in result.trace if c.name in TEARDOWN_CALLS]
        self.assertEqual(actual[-len(expected):], expected)
        self.assertEqual(len([a for a in actual if a[0] == "oniShutdown"]), 1)

        # Between the device's close and the end only the held frames go back.
        close_index = max(i for i, c in enumerate(result.trace) if c.name == "oniDeviceClose")
        held = held_frames(result)
        releases = [("oniFrameRelease", held[s]) for s in (depth_stream, color_stream)
                    if s is not None and held.get(s)]
        tail = [(c.name, c.args.get("frame")) for c in result.trace[close_index + 1:]]
        self.assertEqual(tail, releases + [("oniShutdown", None)])
        self.assertFrameReferencesBalanced(result)

    def assertStreamLifeCycle(self, result, uri, sensor, started=True):
        """Driver log: created, started if it could be, stopped and destroyed
        before the device closed and the driver shut down; every frame sent
        counted."""
        log = result.log
        self.assertIn("create %s %s" % (uri, sensor), log)
        if started:
            order = ["create", "start", "stop", "destroy"]
        else:
            order = ["create", "start-fail", "destroy"]
        positions = [log.index("%s %s %s" % (step, uri, sensor)) for step in order]
        self.assertEqual(positions, sorted(positions), log)
        self.assertLess(positions[-1], log.index("close " + uri))
        self.assertEqual(log[-1], "shutdown")
        if started:
            sent = [w for w in result.log_words("sent") if w[1:3] == [uri, sensor]]
            frames = [w for w in result.log_words("frame") if w[1:3] == [uri, sensor]]
            self.assertEqual(len(sent), 1, log)
            self.assertEqual(int(sent[0][3]), len(frames))
