"""Runs a program on the virtual camera and reads what it did.

A run (camwatch, or any binary that takes its place: the benchmark's baseline,
an installed /usr/bin/camwatch) gets its own temporary folder with the
scenario file, the driver log and the call trace. Setup is that folder and the
command line and environment that go with it, also for a run that someone
else starts (an interactive shell); Camwatch is a Setup started by the
launcher, whose docstring says how stdin, stdout and stderr can be connected.

Paths come from the environment the build writes (test.env in the build
folder), which ctest sets: CAMWATCH_BIN, VCAM_RUNTIME, VCAM_RUNTIME_NODRIVER,
CAMWATCH_TRACER.
"""

import os
import re
import shlex
import tempfile
import unittest

from launcher import DEFAULT_TIMEOUT, Process, read_lines, suite_prefix

FRAME_LINE = re.compile(
    rb"\[(\d{8,})\] (?:Depth middle index +(-?\d+)|Color RGB value 0x([0-9a-f]{6})"
    rb"|(Depth|Color) middle pixel outside frame)\n"
)
BOTH = (b"Depth", b"Color")

SENSOR_DEPTH = "3"
SENSOR_COLOR = "2"
# What the tracer leaves in a frame pointer when it fails a read on purpose.
GARBAGE_FRAME = "0xdeadbeef"

TEARDOWN_CALLS = ("oniStreamUnregisterNewFrameCallback", "oniUnregisterDeviceCallbacks",
                  "oniStreamStop", "oniStreamDestroy", "oniDeviceClose", "oniShutdown")
SANITIZER_MARKS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:",
                   b"WARNING: ThreadSanitizer", b"==ERROR")
# Prefixes of the variables a run sets itself; none is taken from the caller.
RUN_VARIABLES = ("VCAM_", "CAMWATCH_TRACE", "LD_")


def required_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(name + " is not set (run through ctest)")
    # Runs start in their own folder, so relative paths would point elsewhere.
    return os.path.abspath(value)


def environment_without(prefixes, names=()):
    """This process's environment less the variables named or so prefixed."""
    return {k: v for k, v in os.environ.items()
            if not k.startswith(tuple(prefixes)) and k not in names}


class TraceCall:
    """One traced library call: `name key=value... -> result`."""

    def __init__(self, line):
        self.line = line
        head, _, result = line.partition(" -> ")
        self.result = result or None
        words = head.split(" ")
        self.name = words[0]
        self.args = {}
        for word in words[1:]:
            key, _, value = word.partition("=")
            self.args[key] = value

    def __repr__(self):
        return self.line


class Result:
    """What one run left behind."""

    def __init__(self, output, status, stderr, trace, log):
        self.output = bytes(output)
        self.status = status
        self.stderr = stderr
        self.trace = [TraceCall(line) for line in trace]
        self.log = log
        self.rusage = None  # the launcher's, when it started the run

    def frame_lines(self):
        return list(FRAME_LINE.finditer(self.output))

    def depth_values(self):
        return [int(m.group(2)) for m in self.frame_lines() if m.group(2) is not None]

    def color_values(self):
        return [int(m.group(3), 16) for m in self.frame_lines() if m.group(3) is not None]

    def timestamps(self, kind):
        """Timestamps of the frame lines of b"Depth" or b"Color"."""
        return [int(m.group(1)) for m in self.frame_lines()
                if m.group(0).split(b" ")[1] == kind]

    def calls(self, *names):
        return [c for c in self.trace if not names or c.name in names]

    def log_words(self, kind):
        return [line.split(" ") for line in self.log if line.split(" ")[0] == kind]


class Setup:
    """The folder, command line and environment of one run on the virtual camera.

    scenario  text of the scenario file, or None for the driver's default camera
    binary    the program to run; CAMWATCH_BIN by default
    args      its arguments (camwatch takes none; the benchmark's tools do)
    runtime   the library folder (LD_LIBRARY_PATH); VCAM_RUNTIME by default
    tracer    preload the call tracer; trace: have it write the call trace
    log       have the driver write its log
    prefix    a command prefix (valgrind, an emulator); None for CAMWATCH_PREFIX
    """

    def __init__(self, scenario=None, runtime=None, fail_read=None, trace=True, tracer=True,
                 binary=None, args=(), log=True, prefix=None):
        self.binary = binary or required_path("CAMWATCH_BIN")
        self.args = list(args)
        self.prefix = suite_prefix() if prefix is None else list(prefix)
        self.runtime = runtime or required_path("VCAM_RUNTIME")
        self.folder = tempfile.TemporaryDirectory(prefix="camwatch-run-")
        self.trace_path = os.path.join(self.folder.name, "trace")
        self.log_path = os.path.join(self.folder.name, "vcam.log")
        self.scenario_path = None
        # What the run sets on top of the caller's environment.
        self.variables = {"LD_LIBRARY_PATH": self.runtime}
        if log:
            self.variables["VCAM_LOG"] = self.log_path
        if tracer:
            self.variables["LD_PRELOAD"] = required_path("CAMWATCH_TRACER")
            if trace:
                self.variables["CAMWATCH_TRACE"] = self.trace_path
        if scenario is not None:
            self.scenario_path = os.path.join(self.folder.name, "scenario.vcam")
            with open(self.scenario_path, "w") as f:
                f.write(scenario)
            self.variables["VCAM_SCENARIO"] = self.scenario_path
        if fail_read is not None:
            self.variables["CAMWATCH_TRACE_FAIL_READ"] = str(fail_read)
        self.env = environment_without(RUN_VARIABLES)
        self.env.update(self.variables)

    def argv(self):
        return self.prefix + [self.binary, *self.args]

    def shell_command(self):
        """The run as a shell command line, for a shell whose environment has
        none of the run's variables."""
        return " ".join(["%s=%s" % (name, shlex.quote(value))
                         for name, value in self.variables.items()]
                        + [shlex.quote(word) for word in self.argv()])

    def result(self, output, status, stderr=b""):
        return Result(output, status, stderr, read_lines(self.trace_path),
                      read_lines(self.log_path))


class Camwatch(Process):
    """One process on the virtual camera, started by the launcher. Use as a
    context manager so it never outlives its caller.

    Setup's arguments say what runs; the launcher's Process arguments how it
    is connected: stdin ("pipe", "file" with stdin_bytes, "devnull", "closed",
    "pty", "pty-not-controlling"), stdout (None for a pipe read here, a path,
    file or descriptor, or "closed"), stderr (None to read it at the end, a
    path, or "closed"), ignore_sigpipe. Until start(), `env` may be changed.
    """

    def __init__(self, scenario=None, stdin="pipe", stdout=None, stderr=None, stdin_bytes=b"",
                 key_before_start=False, ignore_sigpipe=False, **setup):
        self.setup = Setup(scenario, **setup)
        self.trace_path = self.setup.trace_path
        self.log_path = self.setup.log_path
        self.scenario_path = self.setup.scenario_path
        self.folder = self.setup.folder
        self.binary = self.setup.binary
        super().__init__([self.setup.binary, *self.setup.args], env=self.setup.env,
                         cwd=self.folder.name, stdin=stdin, stdin_bytes=stdin_bytes,
                         key_before_start=key_before_start, stdout=stdout, stderr=stderr,
                         ignore_sigpipe=ignore_sigpipe, prefix=self.setup.prefix,
                         folder=self.folder.name)

    def close(self):
        super().close()
        self.folder.cleanup()

    def wait_for_frames(self, count, kinds=None, timeout=DEFAULT_TIMEOUT):
        """Waits for `count` frame lines in all, or of each of `kinds` (b"Depth",
        b"Color")."""
        def enough(out):
            found = [m.group(0).split(b" ")[1] for m in FRAME_LINE.finditer(out)]
            if kinds is None:
                return len(found) >= count
            return all(found.count(kind) >= count for kind in kinds)
        return self.wait_for(enough, timeout, "%d frame lines of %s" % (count, kinds or "any"))

    def wait_for_trace(self, name, count=1, timeout=DEFAULT_TIMEOUT):
        """Waits until the trace holds `count` calls of `name`."""
        def enough(_):
            return sum(1 for line in read_lines(self.trace_path)
                       if line.split(" ", 1)[0] == name) >= count
        return self.wait_for(enough, timeout, "%d traced %s" % (count, name))

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the process to end and returns its Result."""
        status = super().finish(timeout)
        result = self.setup.result(self.output, status, self.stderr_bytes())
        result.rusage = self.rusage
        return result


def run_until_key(scenario, frames=0, kinds=None, timeout=DEFAULT_TIMEOUT, **options):
    """Starts a run, waits for `frames` frame lines (of each of `kinds`),
    presses a key and returns the Result of the finished run."""
    with Camwatch(scenario, **options) as cam:
        if frames:
            cam.wait_for_frames(frames, kinds, timeout)
        cam.press_key()
        return cam.finish(timeout)


def run_to_end(scenario=None, timeout=DEFAULT_TIMEOUT, **options):
    """Runs a program that is expected to end by itself (a failure path)."""
    with Camwatch(scenario, **options) as cam:
        return cam.finish(timeout)


def run_into_head(lines, scenario=None, timeout=DEFAULT_TIMEOUT):
    """`camwatch | head -n LINES`: what head printed, and camwatch's Result."""
    reader, writer = os.pipe()
    try:
        with Process(["head", "-n", str(lines)], stdin=reader, prefix=()) as head, \
                Camwatch(scenario, stdout=writer) as cam:
            os.close(reader)
            os.close(writer)
            reader = writer = None
            head.finish(timeout)
            return bytes(head.output), cam.finish(timeout)
    finally:
        for fd in (reader, writer):
            if fd is not None:
                os.close(fd)


# --- reading the trace --------------------------------------------------------

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


def frame_reference_faults(result):
    """Every reference a read or an AddRef took must go back exactly once, by
    shutdown, and the garbage pointer of a failed read must never be touched;
    what broke that, as text."""
    faults = []
    references = {}
    shutdown_seen = False
    for call in result.trace:
        if call.name == "oniShutdown":
            shutdown_seen = True
            leaked = {f: n for f, n in references.items() if n}
            if leaked:
                faults.append("frames still referenced at shutdown: %r" % leaked)
        frame = call.args.get("frame")
        if call.name == "oniStreamReadFrame" and call.result == "0":
            references[frame] = references.get(frame, 0) + 1
        elif call.name == "oniFrameAddRef":
            if references.get(frame, 0) <= 0:
                faults.append("AddRef of unheld " + call.line)
            references[frame] = references.get(frame, 0) + 1
        elif call.name == "oniFrameRelease":
            if frame == GARBAGE_FRAME:
                faults.append("released a failed read's pointer")
            if references.get(frame, 0) <= 0:
                faults.append("release of unheld " + call.line)
            references[frame] = references.get(frame, 0) - 1
    if not shutdown_seen:
        faults.append("no oniShutdown in the trace")
    return faults


def teardown_faults(result, depth=True, color=True):
    """The order a run must leave in after a key: frame listeners off (depth,
    color), device callbacks off, depth stop/destroy, color stop/destroy,
    device close, held frames back (depth's, color's), shutdown, then nothing.
    What broke that, as text."""
    depth_stream = created_stream(result, SENSOR_DEPTH)
    color_stream = created_stream(result, SENSOR_COLOR)
    faults = []
    if (depth_stream is not None) != depth:
        faults.append("depth stream created: %s" % (depth_stream is not None))
    if (color_stream is not None) != color:
        faults.append("color stream created: %s" % (color_stream is not None))
    device_handles = [c.args["handle"] for c in result.calls("oniRegisterDeviceCallbacks")]
    if len(device_handles) != 3:
        faults.append("%d device callback registrations, expected 3" % len(device_handles))
    device = [c.args["device"] for c in result.calls("oniDeviceOpen") if c.result == "0"]
    if len(device) != 1:
        return faults + ["%d devices opened, expected 1" % len(device)]

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
    if actual[-len(expected):] != expected:
        faults.append("teardown %r, expected %r" % (actual[-len(expected):], expected))
    if [a[0] for a in actual].count("oniShutdown") != 1:
        faults.append("oniShutdown not called exactly once")

    # Between the device's close and the end only the held frames go back.
    closes = [i for i, c in enumerate(result.trace) if c.name == "oniDeviceClose"]
    if closes:
        held = held_frames(result)
        releases = [("oniFrameRelease", held[s]) for s in (depth_stream, color_stream)
                    if s is not None and held.get(s)]
        tail = [(c.name, c.args.get("frame")) for c in result.trace[closes[-1] + 1:]]
        if tail != releases + [("oniShutdown", None)]:
            faults.append("after close %r, expected %r"
                          % (tail, releases + [("oniShutdown", None)]))
    return faults + frame_reference_faults(result)


def stream_life_cycle_faults(result, uri, sensor, started=True):
    """Driver log: created, started if it could be, stopped and destroyed before
    the device closed and the driver shut down; every frame sent counted. What
    broke that, as text."""
    log = result.log
    if started:
        order = ["create", "start", "stop", "destroy"]
    else:
        order = ["create", "start-fail", "destroy"]
    lines = ["%s %s %s" % (step, uri, sensor) for step in order]
    missing = [line for line in lines + ["close " + uri] if line not in log]
    if missing:
        return ["not in the driver log: %r" % missing]
    faults = []
    positions = [log.index(line) for line in lines]
    if positions != sorted(positions) or positions[-1] > log.index("close " + uri):
        faults.append("driver log out of order: %r" % log)
    if not log or log[-1] != "shutdown":
        faults.append("driver log does not end with shutdown")
    if started:
        sent = [w for w in result.log_words("sent") if w[1:3] == [uri, sensor]]
        frames = [w for w in result.log_words("frame") if w[1:3] == [uri, sensor]]
        if len(sent) != 1 or int(sent[0][3]) != len(frames):
            faults.append("frames sent %r, frames logged %d" % (sent, len(frames)))
    return faults


def sanitizer_reports(stderr):
    return [mark for mark in SANITIZER_MARKS if mark in stderr]


class CamwatchAssertions(unittest.TestCase):
    maxDiff = None

    def assertOutputStartsWith(self, result, text):
        self.assertEqual(result.output[:len(text)], text, result.output[:2000])

    def assertFrameReferencesBalanced(self, result):
        self.assertEqual(frame_reference_faults(result), [])

    def assertFullTeardown(self, result, depth=True, color=True, status=0, stderr=b""):
        """The teardown after a key, or after a failed write (`status`, `stderr`)."""
        self.assertEqual(result.status, status, result.output[-2000:])
        self.assertEqual(result.stderr, stderr)
        self.assertEqual(teardown_faults(result, depth, color), [])

    def assertStreamLifeCycle(self, result, uri, sensor, started=True):
        self.assertEqual(stream_life_cycle_faults(result, uri, sensor, started), [])

    def assertNoSanitizerReport(self, result):
        self.assertEqual(sanitizer_reports(result.stderr), [],
                         result.stderr.decode(errors="replace")[-3000:])
