"""Runs the real camwatch against the virtual camera and collects what it did.

A run gets its own temporary folder with the scenario file, the driver log and
the call trace. stdin is a pipe, /dev/null or a pseudo-terminal whose slave is
camwatch's controlling terminal (or, "pty-not-controlling", just an open
terminal that is not camwatch's); stdout is a pipe, so output bytes are
exactly what camwatch wrote, unless a path to write to is given. Waits are on
output lines with deadlines, never plain sleeps.

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
    """What one camwatch run left behind."""

    def __init__(self, output, status, stderr, trace, log):
        self.output = output
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
    """One camwatch process. Use as a context manager so it never outlives a test."""

    def __init__(self, scenario=None, stdin="pipe", runtime=None, key_before_start=False,
                 fail_read=None, trace=True, stdout=None, ignore_sigpipe=False):
        self.binary = required_path("CAMWATCH_BIN")
        self.runtime = runtime or required_path("VCAM_RUNTIME")
        self.tracer = required_path("CAMWATCH_TRACER")
        self.folder = tempfile.TemporaryDirectory(prefix="camwatch-e2e-")
        self.trace_path = os.path.join(self.folder.name, "trace")
        self.log_path = os.path.join(self.folder.name, "vcam.log")
        # A file, not a pipe: nobody reads stderr during the run, and a full
        # pipe would stall camwatch.
        self.stderr_path = os.path.join(self.folder.name, "stderr")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("VCAM_", "CAMWATCH_TRACE", "LD_"))}
        env["LD_LIBRARY_PATH"] = self.runtime
        env["VCAM_LOG"] = self.log_path
        env["LD_PRELOAD"] = self.tracer
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
        self.stdout_path = stdout
        self.ignore_sigpipe = ignore_sigpipe
        self.key_before_start = key_before_start
        self.master = self.slave = self.key_writer = None
        self.proc = None
        self.output = b""
        self.attributes_before = None

    # --- life cycle -----------------------------------------------------------

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.kill()
        self._close_pipes()
        for fd in (self.master, self.slave, self.key_writer):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = self.key_writer = None
        self.folder.cleanup()
        return False

    def start(self):
        preexec = _no_core_files
        if self.stdin_kind in ("pty", "pty-not-controlling"):
            self.master, self.slave = os.openpty()
            self.attributes_before = termios.tcgetattr(self.slave)
            stdin = self.slave
            if self.stdin_kind == "pty":
                preexec = _take_controlling_terminal
        elif self.stdin_kind == "devnull":
            stdin = subprocess.DEVNULL
        elif self.stdin_kind == "pipe":
            reader, self.key_writer = os.pipe()
            if self.key_before_start:
                os.write(self.key_writer, b"k")
            stdin = reader
        else:
            raise ValueError(self.stdin_kind)
        with open(self.stderr_path, "wb") as stderr, \
                open(self.stdout_path or os.devnull, "wb") as stdout_file:
            stdout = stdout_file if self.stdout_path else subprocess.PIPE
            self.proc = subprocess.Popen(
                [self.binary], stdin=stdin, stdout=stdout, stderr=stderr,
                env=self.env, cwd=self.folder.name, start_new_session=True, preexec_fn=preexec,
                restore_signals=not self.ignore_sigpipe)  # Python ignores SIGPIPE
        if self.stdin_kind == "pipe":
            os.close(stdin)
        if self.proc.stdout is not None:
            os.set_blocking(self.proc.stdout.fileno(), False)

    def kill(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def _close_pipes(self):
        if self.proc is not None and self.proc.stdout is not None:
            self.proc.stdout.close()

    def close_output(self):
        """The reader goes away: camwatch's next write finds no one to read it."""
        self._close_pipes()

    # --- input ----------------------------------------------------------------

    def press_key(self, key=b"q"):
        os.write(self.master if self.master is not None else self.key_writer, key)

    def send_signal(self, number):
        self.proc.send_signal(number)

    def terminal_attributes(self):
        return termios.tcgetattr(self.slave)

    # --- output ---------------------------------------------------------------

    def _read_some(self, deadline):
        """Reads what is there, waiting a little (never past the deadline);
        False at end of output."""
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return True
        if self.proc.stdout is None or self.proc.stdout.closed:
            # Output goes to a file or nowhere: only the end of the process ends it.
            try:
                self.proc.wait(min(remaining, 0.05))
            except subprocess.TimeoutExpired:
                return True
            return False
        fd = self.proc.stdout.fileno()
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

    def wait_for(self, condition, timeout=DEFAULT_TIMEOUT, what="condition"):
        """Reads output until condition(output bytes) holds; fails the test on timeout."""
        deadline = time.monotonic() + timeout
        while not condition(self.output):
            if time.monotonic() >= deadline:
                raise AssertionError("timed out waiting for %s; output so far:\n%r"
                                     % (what, self.output[-2000:]))
            if not self._read_some(deadline):
                if condition(self.output):
                    break
                raise AssertionError("output ended while waiting for %s; output:\n%r"
                                     % (what, self.output[-2000:]))
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

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Waits for the process to end and returns its Result."""
        deadline = time.monotonic() + timeout
        while self._read_some(deadline):
            if time.monotonic() >= deadline:
                self.kill()
                raise AssertionError("camwatch did not end in %ss; output:\n%r"
                                     % (timeout, self.output[-2000:]))
        try:
            status = self.proc.wait(max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            self.kill()
            raise AssertionError("camwatch closed its output but did not end")
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


def _lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1").splitlines()
    except FileNotFoundError:
        return []


BOTH = (b"Depth", b"Color")


def run_until_key(scenario, frames=0, kinds=None, timeout=DEFAULT_TIMEOUT, **options):
    """Starts camwatch, waits for `frames` frame lines (of each of `kinds`),
    presses a key and returns the Result of the finished run."""
    with Camwatch(scenario, **options) as cam:
        if frames:
            cam.wait_for_frames(frames, kinds, timeout)
        cam.press_key()
        return cam.finish(timeout)


def run_to_end(scenario=None, timeout=DEFAULT_TIMEOUT, **options):
    """Runs camwatch that is expected to end by itself (a failure path)."""
    with Camwatch(scenario, **options) as cam:
        return cam.finish(timeout)
