"""Starts every program the tests and the benchmark run, and reads what it did.

A Process is one program: stdin a pipe, a file, /dev/null, closed, a
descriptor, or a pseudo-terminal that is its controlling terminal ("pty") or
just an open terminal ("pty-not-controlling"); stdout a pipe read here, a file,
a descriptor, the terminal or closed; stderr captured to a file, or the same.
A command prefix (valgrind, an emulator) goes in front of the program; by
default it comes from CAMWATCH_PREFIX, so a whole suite can run under one.
Waits have deadlines; a process that outlives one is killed, and the failure
carries every thread's stack. Its resource usage comes from wait4.

The child is forked here rather than by subprocess, whose Popen would reap the
process itself and lose the resource usage, and cannot close stdout or stderr.
The pty is opened here rather than through pexpect: pexpect makes the terminal
stdout and stderr as well, which turns "\\n" into "\\r\\n" and mixes stderr
into output compared byte for byte.

    python3 launcher.py [--wait S] [--prefix P] --until REGEX -- COMMAND...

runs COMMAND with the terminal as all three standard descriptors, as a person
at a console would, copies what it prints, presses one key once a line matches
REGEX and expects status 0 soon after: the status is then 0, else 1.
"""

import argparse
import ctypes
import errno
import fcntl
import os
import re
import resource
import select
import shlex
import signal
import sys
import tempfile
import termios
import time

# Generous: the machine is shared, and a deadline only matters when it fails.
DEFAULT_TIMEOUT = 15.0
PREFIX_VARIABLE = "CAMWATCH_PREFIX"
# termios.tcgetattr's list: the local mode flags (ECHO, ICANON, ISIG).
LFLAG = 3
# After the key, a healthy program is gone well within this.
EXIT_SECONDS = 30


class Hang(AssertionError):
    """A process that outlived its deadline; `stacks` holds every thread's stack."""

    def __init__(self, message, stacks):
        super().__init__(message + "\n" + stacks)
        self.stacks = stacks


def read_lines(path):
    """Lines of a plain file, [] when there is none (a caller may have put a
    FIFO in its place)."""
    if not os.path.isfile(path):
        return []
    with open(path, "rb") as f:
        return f.read().decode("latin-1").splitlines()


def wait_until(condition, what, timeout=DEFAULT_TIMEOUT):
    """Polls condition() until it holds; fails naming `what` at the deadline."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.005)


def suite_prefix():
    return shlex.split(os.environ.get(PREFIX_VARIABLE, ""))


PTRACE_PEEKUSER = 3


def ptrace_missing():
    """True under qemu-user, which implements no ptrace, so that gdb run there
    takes no stacks (tests/emulator/ptrace_probe.cpp shows it). A peek at a
    process not traced by us has no effect: it fails with ESRCH where ptrace
    exists, with ENOSYS where it does not."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.ptrace.restype = ctypes.c_long
    libc.ptrace(PTRACE_PEEKUSER, os.getppid(), None, None)
    return ctypes.get_errno() == errno.ENOSYS


def stack_pattern():
    """What stacks() gives for a live process here: gdb's frames, or under an
    emulator without ptrace, gdb's word that it cannot attach."""
    return "ptrace: Function not implemented" if ptrace_missing() else r"(?m)^#0 "


def stacks(pid, prefix=(), program=None):
    """Every thread's stack of `pid`, as text. Under valgrind the program's own
    stacks come through valgrind's gdbserver."""
    command = ["gdb", "-batch"]
    if prefix and os.path.basename(prefix[0]) == "valgrind" and program:
        command += [program, "-ex", "target remote | vgdb --pid=%d" % pid]
    else:
        command += ["-p", str(pid)]
    try:
        traced = run(command + ["-ex", "thread apply all bt"], timeout=120, stderr="stdout")
    except (OSError, Hang) as error:
        return "(no stacks: %s)" % error
    return traced.stdout.decode(errors="replace")


class Completed:
    """What run() returns: status, output, stderr (bytes, or text) and rusage."""

    def __init__(self, returncode, stdout, stderr, rusage):
        self.returncode, self.stdout, self.stderr, self.rusage = returncode, stdout, stderr, rusage


def run(argv, timeout=60, text=False, check=False, **options):
    """Runs a tool to its end (stdin /dev/null by default) and returns its
    Completed; stderr="stdout" merges the two. Never under the suite's prefix:
    that is for the programs under test."""
    options.setdefault("stdin", "devnull")
    options.setdefault("prefix", ())
    with Process(argv, **options) as process:
        status = process.finish(timeout)
        stderr = process.stderr_bytes()
    output = bytes(process.output)
    if text:
        output, stderr = output.decode(), stderr.decode()
    if check and status != 0:
        raise RuntimeError("%s ended with status %d: %s" % (argv[0], status, stderr))
    return Completed(status, output, stderr, process.rusage)


class Process:
    """One program; use as a context manager so it never outlives its caller.

    stdin   "pipe" (press_key writes it), "file" (holding stdin_bytes),
            "devnull", "closed", "pty", "pty-not-controlling", or a descriptor
    stdout  None for a pipe read here, a path, file object or descriptor to
            write to instead, "pty" (the terminal stdin is) or "closed"
    stderr  None for a file read at the end, or as stdout, or "stdout"
    ignore_sigpipe  start it with SIGPIPE ignored, as `env --ignore-signal=PIPE`
    prefix  put in front of argv; None for CAMWATCH_PREFIX's
    folder  where the stdin and stderr files go; a temporary one by default
    """

    def __init__(self, argv, env=None, cwd=None, stdin="pipe", stdin_bytes=b"",
                 key_before_start=False, stdout=None, stderr=None, ignore_sigpipe=False,
                 prefix=None, folder=None):
        self.prefix = suite_prefix() if prefix is None else list(prefix)
        self.program = argv[0]
        self.argv = self.prefix + list(argv)
        self.env, self.cwd, self.ignore_sigpipe = env, cwd, ignore_sigpipe
        self.stdin_kind, self.stdin_bytes = stdin, stdin_bytes
        self.key_before_start = key_before_start
        self.stdout_target, self.stderr_target = stdout, stderr
        self.own_folder = None if folder else tempfile.TemporaryDirectory(prefix="launch-")
        self.scratch = folder or self.own_folder.name
        self.stderr_path = os.path.join(self.scratch, "stderr")
        self.echo = None  # a binary file that gets a copy of the output as it comes
        self.pid = self.status = self.rusage = None
        self.master = self.slave = self.key_writer = self.reader = None
        self.output = bytearray()
        self.attributes_before = None

    # --- life cycle -----------------------------------------------------------

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        self.kill()
        for fd in (self.master, self.slave, self.key_writer, self.reader):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = self.key_writer = self.reader = None
        if self.own_folder is not None:
            self.own_folder.cleanup()

    def start(self):
        to_close = []  # the parent's copies of what the child gets
        stdin = self._stdin(to_close)
        stdout = self._target(self.stdout_target, to_close, output=True)
        stderr = stdout if self.stderr_target == "stdout" else \
            self._target(self.stderr_target, to_close, output=False)
        error_reader, error_writer = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            self._child((stdin, stdout, stderr), error_writer)
        os.close(error_writer)
        if self.stdout_target == "pty":
            # The output ends when the program's last copy of the terminal goes.
            to_close.append(self.slave)
            self.slave = None
        for fd in to_close:
            os.close(fd)
        with os.fdopen(error_reader, "rb") as errors:
            failed = errors.read()
        if failed:
            os.waitpid(self.pid, 0)
            self.status = 127
            number = int(failed)
            raise OSError(number, os.strerror(number), self.argv[0])

    def _stdin(self, to_close):
        kind = self.stdin_kind
        if isinstance(kind, int):
            return kind
        if kind in ("pty", "pty-not-controlling"):
            self.master, self.slave = os.openpty()
            self.attributes_before = termios.tcgetattr(self.slave)
            return self.slave
        if kind == "devnull":
            return _opened(os.devnull, os.O_RDONLY, to_close)
        if kind == "closed":
            return None
        if kind == "file":
            path = os.path.join(self.scratch, "stdin")
            with open(path, "wb") as f:
                f.write(self.stdin_bytes)
            return _opened(path, os.O_RDONLY, to_close)
        if kind == "pipe":
            reader, self.key_writer = os.pipe()
            if self.key_before_start:
                os.write(self.key_writer, b"k")
            to_close.append(reader)
            return reader
        raise ValueError(kind)

    def _target(self, target, to_close, output):
        """The descriptor the child gets for stdout (output) or stderr."""
        writing = os.O_WRONLY | os.O_CREAT | os.O_TRUNC
        if target is None:
            if not output:
                return _opened(self.stderr_path, writing, to_close)
            self.reader, writer = os.pipe()
            os.set_blocking(self.reader, False)
            to_close.append(writer)
            return writer
        if target == "closed":
            return None
        if target == "pty":
            if self.slave is None:
                raise ValueError("the output goes to the terminal only when stdin is one")
            if output:
                self.reader = os.dup(self.master)
                os.set_blocking(self.reader, False)
            return self.slave
        if isinstance(target, str):
            return _opened(target, writing, to_close)
        return target if isinstance(target, int) else target.fileno()

    def _child(self, descriptors, error_writer):
        # Only os-level calls between fork and exec: the parent may have threads.
        try:
            high = [None if fd is None else fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
                    for fd in descriptors]
            for target, fd in enumerate(high):
                if fd is None:
                    try:
                        os.close(target)
                    except OSError:
                        pass
                else:
                    os.dup2(fd, target)
            # Nothing else of the parent's: only the error pipe, until the exec.
            os.closerange(3, error_writer)
            os.closerange(error_writer + 1, os.sysconf("SC_OPEN_MAX"))
            os.setsid()
            if self.stdin_kind == "pty":
                # stdin, the pty slave, becomes the controlling terminal and
                # this process group its foreground.
                fcntl.ioctl(0, termios.TIOCSCTTY, 0)
            # Crashes on purpose must not leave core files behind.
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            # Python ignores SIGPIPE and SIGXFSZ; the program gets the default.
            if not self.ignore_sigpipe:
                signal.signal(signal.SIGPIPE, signal.SIG_DFL)
            signal.signal(signal.SIGXFSZ, signal.SIG_DFL)
            if self.cwd:
                os.chdir(self.cwd)
            if self.env is None:
                os.execvp(self.argv[0], self.argv)
            os.execvpe(self.argv[0], self.argv, self.env)
        except OSError as error:
            os.write(error_writer, str(error.errno or errno.EINVAL).encode())
        finally:
            os._exit(127)

    def kill(self):
        if self.pid is not None and self.status is None:
            try:
                os.kill(self.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self._reaped(*os.wait4(self.pid, 0)[1:])

    def _reaped(self, status, usage):
        self.status = os.waitstatus_to_exitcode(status)
        self.rusage = usage

    def poll(self):
        """The exit status (negative: the signal), or None while it runs."""
        if self.status is None:
            pid, status, usage = os.wait4(self.pid, os.WNOHANG)
            if pid:
                self._reaped(status, usage)
        return self.status

    def running(self):
        return self.poll() is None

    def stacks(self):
        return stacks(self.pid, self.prefix, self.program)

    def hang(self, message):
        """Kills the process and returns the Hang to raise, with its stacks."""
        found = self.stacks()
        self.kill()
        return Hang("%s %s; output:\n%r" % (self.program, message, bytes(self.output[-2000:])),
                    found)

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
        os.close(self.reader)
        self.reader = None

    def send_signal(self, number):
        os.kill(self.pid, number)

    def terminal_attributes(self):
        return termios.tcgetattr(self.slave if self.slave is not None else self.master)

    # --- output ---------------------------------------------------------------

    def _read_some(self, deadline):
        """Reads what is there, waiting a little (never past the deadline);
        False at the end of the output, or of the process when it is not read."""
        remaining = deadline - time.monotonic()
        if self.reader is None:
            time.sleep(min(max(remaining, 0), 0.01))
            return self.running()
        if remaining <= 0:
            return True
        # Short waits, so that conditions on files get rechecked.
        ready, _, _ = select.select([self.reader], [], [], min(remaining, 0.05))
        if not ready:
            return True
        try:
            chunk = os.read(self.reader, 65536)
        except BlockingIOError:
            return True
        except OSError as error:  # a terminal whose every slave is closed
            if error.errno != errno.EIO:
                raise
            chunk = b""
        if not chunk:
            return False
        self.output += chunk
        if self.echo is not None:
            self.echo.write(chunk)
            self.echo.flush()
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

    def finish(self, timeout=DEFAULT_TIMEOUT):
        """Reads to the end of the output, waits for the exit and returns the
        status; a Hang, with the stacks, past the deadline."""
        deadline = time.monotonic() + timeout
        while self._read_some(deadline):
            if time.monotonic() >= deadline:
                raise self.hang("did not end in %ss" % timeout)
        while self.poll() is None:
            if time.monotonic() >= deadline:
                raise self.hang("closed its output but did not end in %ss" % timeout)
            time.sleep(0.005)
        return self.status

    def stderr_bytes(self):
        try:
            with open(self.stderr_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""


def _opened(path, flags, to_close):
    fd = os.open(path, flags, 0o666)
    to_close.append(fd)
    return fd


def line_matches(pattern):
    """A condition on output: some whole line (a terminal's "\\r" dropped)
    matches the regular expression."""
    compiled = re.compile(pattern)

    def matched(output):
        lines = bytes(output).split(b"\n")[:-1]
        return any(compiled.search(line.rstrip(b"\r").decode(errors="replace"))
                   for line in lines)
    return matched


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Runs a command in a terminal until a line matches, then presses one key.")
    parser.add_argument("--until", required=True, metavar="REGEX",
                        help="the line to wait for (a Python regular expression)")
    parser.add_argument("--wait", type=float, default=900.0,
                        help="seconds to wait for that line (default 900)")
    parser.add_argument("--prefix", default=None,
                        help="command prefix (default: $%s)" % PREFIX_VARIABLE)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    prefix = None if args.prefix is None else shlex.split(args.prefix)
    started = time.monotonic()
    with Process(command, stdin="pty", stdout="pty", stderr="pty", prefix=prefix) as process:
        process.echo = sys.stdout.buffer
        try:
            process.wait_for(line_matches(args.until), args.wait, "a line matching")
        except AssertionError:
            print("\nlauncher: no line matched %r" % args.until, file=sys.stderr)
            return 1
        # How long a user waits for it, as a figure a check's summary keeps.
        print("\nfigure: %s: the line came %.1f s after the start"
              % (command[-1], time.monotonic() - started))
        process.press_key()
        try:
            status = process.finish(EXIT_SECONDS)
        except Hang as hang:
            print("\nlauncher: still running %d s after the key\n%s"
                  % (EXIT_SECONDS, hang.stacks), file=sys.stderr)
            return 1
    if status != 0:
        print("\nlauncher: ended with status %d after the key" % status, file=sys.stderr)
        return 1
    print("\nlauncher: ended with status 0 after the key")
    return 0


if __name__ == "__main__":
    sys.exit(main())
