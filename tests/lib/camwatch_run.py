"""Runs a program on the virtual camera and reads what it did.

The one way every suite starts camwatch (or any binary that takes its place:
the benchmark's baseline, an installed /usr/bin/camwatch). A run gets its own
temporary folder with the scenario file, the driver log and the call trace.
stdin is a pipe, a file, /dev/null, closed, or a pseudo-terminal whose slave is
the program's controlling terminal ("pty") or just an open terminal that is
not ("pty-not-controlling"). stdout is a pipe, so output bytes are exactly
what was written, unless the caller hands another file. Waits are on output
lines or trace records with deadlines, never plain sleeps.

The pty is opened here rather than through pexpect: pexpect makes the terminal
the child's stdout and stderr as well, which would turn "\\n" into "\\r\\n" and
mix stderr into the output this module compares byte for byte.

Paths come from the environment ctest sets: CAMWATCH_BIN, VCAM_RUNTIME,
VCAM_RUNTIME_NODRIVER, CAMWATCH_TRACER.
"""

import fcntl
import os
import re
import resource
import select
import subprocess
import tempfile
import termios
import time
import unittest

# Generous: the machine is shared, and a deadline only matters when it fails.
DEFAULT_TIMEOUT = 15.0

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


def required_path(name):
    value = os.environ.get(name)
    if not value:
        raise unittest.SkipTest(name + " is not set (run through ctest)")
    # Runs start in their own folder, so relative paths would point elsewhere.
    return os.path.abspath(value)


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


class Camwatch:
    """One process on the virtual camera. Use as a context manager so it never
    outlives its caller.

    scenario  text of the scenario file, or None for the driver's default camera
    stdin     "pipe", "file" (holding stdin_bytes), "devnull", "closed", "pty",
              "pty-not-controlling"
    stdout    None for a pipe read here, or a path, file object or descriptor
              to write to instead (its output is then not read here)
    ignore_sigpipe  start the program with SIGPIPE ignored, as `env
              --ignore-signal=PIPE` would
    binary    the program to run; CAMWATCH_BIN by default
    args      its arguments (camwatch takes none; the benchmark's tools do)
    runtime   the library folder (LD_LIBRARY_PATH); VCAM_RUNTIME by default
    tracer    preload the call tracer; trace: have it write the call trace
    """

    def __init__(self, scenario=None, stdin="pipe", runtime=None, key_before_start=False,
                 fail_read=None, trace=True, tracer=True, binary=None, stdout=None,
                 stdin_bytes=b"", ignore_sigpipe=False, args=()):
        self.binary = binary or required_path("CAMWATCH_BIN")
        self.args = list(args)
        self.runtime = runtime or required_path("VCAM_RUNTIME")
        self.folder = tempfile.TemporaryDirectory(prefix="camwatch-run-")
        self.trace_path = os.path.join(self.folder.name, "trace")
        self.log_path = os.path.join(self.folder.name, "vcam.log")
        # A file, not a pipe: nobody reads stderr during the run, and a full
        # pipe would stall the program.
        self.stderr_path = os.path.join(self.folder.name, "stderr")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("VCAM_", "CAMWATCH_TRACE", "LD_"))}
        env["LD_LIBRARY_PATH"] = self.runtime
        env["VCAM_LOG"] = self.log_path
        if tracer:
            env["LD_PRELOAD"] = required_path("CAMWATCH_TRACER")
            if trace:
                env["CAMWATCH_TRACE"] = self.trace_path
        if scenario is not None:
            self.scenario_path = os.path.join(self.folder.name, "scenario.vcam")
            with open(self.scenario_path, "w") as f:
                f.write(scenario)
            env["VCAM_SCENARIO"] = self.scenario_path
        if fail_read is not None:
            env["CAMWATCH_TRACE_FAIL_READ"] = str(fail_read)
        self.env = env
        self.stdin_kind = stdin
        self.stdin_bytes = stdin_bytes
        self.stdout_target = stdout
        self.ignore_sigpipe = ignore_sigpipe
        self.key_before_start = key_before_start
        self.master = self.slave = self.key_writer = None
        self.proc = None
        self.output = bytearray()
        self.attributes_before = None

    # --- life cycle -----------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.kill()
        if self.proc is not None and self.proc.stdout is not None:
            self.proc.stdout.close()
        for fd in (self.master, self.slave, self.key_writer):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = self.key_writer = None
        self.folder.cleanup()
        return False

    def start(self):
        preexec = _no_core_files
        close_after_start = None
        if self.stdin_kind in ("pty", "pty-not-controlling"):
            self.master, self.slave = os.openpty()
            self.attributes_before = termios.tcgetattr(self.slave)
            stdin = self.slave
            if self.stdin_kind == "pty":
                preexec = _take_controlling_terminal
        elif self.stdin_kind == "devnull":
            stdin = subprocess.DEVNULL
        elif self.stdin_kind == "closed":
            stdin = None
            preexec = _close_stdin
        elif self.stdin_kind == "file":
            path = os.path.join(self.folder.name, "stdin")
            with open(path, "wb") as f:
                f.write(self.stdin_bytes)
            stdin = close_after_start = os.open(path, os.O_RDONLY)
        elif self.stdin_kind == "pipe":
            reader, self.key_writer = os.pipe()
            if self.key_before_start:
                os.write(self.key_writer, b"k")
            stdin = close_after_start = reader
        else:
            raise ValueError(self.stdin_kind)
        stdout = subprocess.PIPE if self.stdout_target is None else self.stdout_target
        if isinstance(stdout, str):
            stdout = close_after_stdout = os.open(stdout, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
        else:
            close_after_stdout = None
        with open(self.stderr_path, "wb") as stderr:
            # Python itself ignores SIGPIPE; restore_signals gives the child the default.
            self.proc = subprocess.Popen(
                [self.binary, *self.args], stdin=stdin, stdout=stdout, stderr=stderr,
                env=self.env, cwd=self.folder.name, start_new_session=True, preexec_fn=preexec,
                restore_signals=not self.ignore_sigpipe)
        if close_after_stdout is not None:
            os.close(close_after_stdout)
        if close_after_start is not None:
            os.close(close_after_start)
        if self.proc.stdout is not None:
            os.set_blocking(self.proc.stdout.fileno(), False)

    def kill(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    # --- input ----------------------------------------------------------------

    def press_key(self, key=b"q"):
        try:
            os.write(self.master if self.master is not None else self.key_writer, key)
        except BrokenPipeError:
            pass  # already gone: finish() tells how

    def close_input(self):
        """End of input on the pipe: no key."""
        os.close(self.key_writer)
        self.key_writer = None

    def close_output(self):
        """The reader goes away: the program's next write finds no one to read it."""
        self.proc.stdout.close()

    def send_signal(self, number):
        self.proc.send_signal(number)

    def terminal_attributes(self):
        return termios.tcgetattr(self.slave)

    def running(self):
        return self.proc.poll() is None

    # --- output ---------------------------------------------------------------

    def _read_some(self, deadline):
        """Reads what is there, waiting a little (never past the deadline);
        False at end of output."""
        if self.proc.stdout is None or self.proc.stdout.closed:
            time.sleep(min(max(deadline - time.monotonic(), 0), 0.05))
            return self.running()
        fd = self.proc.stdout.fileno()
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return True
        # Short waits, so that conditions on the trace or the log get rechecked.
        ready, _, _ = select.select([fd], [], [], min(remaining, 0.05))
        if not ready:
            return True
        try:
            chunk = os.read(fd, 65536)
        except BlockingIOError:
            return True
        if not chunk:
            return False
        self.output += chunk
        return True

    def read_for(self, seconds):
        """Keeps reading output for a while (so the program never blocks on a
        full pipe); False if the output ended first."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if not self._read_some(deadline):
                return False
        return True

    def wait_for(self, condition, timeout=DEFAULT_TIMEOUT, what="condition"):
        """Reads output until condition(output bytes) holds; fails on timeout."""
        deadline = time.monotonic() + timeout
        while not condition(self.output):
            if time.monotonic() >= deadline:
                raise AssertionError("timed out waiting for %s; output so far:\n%r"
                                     % (what, bytes(self.output[-2000:])))
            if not self._read_some(deadline):
                if condition(self.output):
                    break
                raise AssertionError("output ended while waiting for %s; output:\n%r"
                                     % (what, bytes(self.output[-2000:])))
        return self.output

    def wait_for_text(self, text, timeout=DEFAULT_TIMEOUT):
        return self.wait_for(lambda out: text in out, timeout, repr(text))

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
            return sum(1 for line in _lines(self.trace_path)
                       if line.split(" ", 1)[0] == name) >= count
        return self.wait_for(enough, timeout, "%d traced %s" % (count, name))

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the process to end and returns its Result."""
        deadline = time.monotonic() + timeout
        while self._read_some(deadline):
            if time.monotonic() >= deadline:
                self.kill()
                raise AssertionError("%s did not end in %ss; output:\n%r"
                                     % (self.binary, timeout, bytes(self.output[-2000:])))
        try:
            status = self.proc.wait(max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("%s closed its output but did not end" % self.binary)
        with open(self.stderr_path, "rb") as f:
            stderr = f.read()
        return Result(self.output, status, stderr, _lines(self.trace_path),
                      _lines(self.log_path))


def _no_core_files():
    # SIGQUIT and crashes must not leave core files behind.
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))


def _take_controlling_terminal():
    # Runs in the child after setsid(): stdin, the pty slave, becomes the
    # controlling terminal and this process group its foreground.
    _no_core_files()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def _close_stdin():
    _no_core_files()
    os.close(0)


def _lines(path):
    # Only a plain file: a caller may have put a FIFO in the trace's place.
    if not os.path.isfile(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode("latin-1").splitlines()


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
