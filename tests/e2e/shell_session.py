"""An interactive shell with job control in a real pseudo-terminal, driven by
pexpect, that starts camwatch on the virtual camera the way a user would.

The environment comes from camwatch_run.Camwatch (scenario, driver log, call
trace); the shell itself runs without it, and each camwatch command line sets
it. Frame lines go to a file, so the terminal shows only what the shell and
camwatch's stderr write.
"""

import os
import re
import shlex
import signal
import subprocess
import termios
import time

import pexpect

from camwatch_run import DEFAULT_TIMEOUT, Camwatch, Result, FRAME_LINE

PROMPT = "cw-prompt$ "
SHELLS = {"bash": ["bash", "--norc", "--noprofile", "-i"], "dash": ["dash", "-i"]}
LFLAG = 3
STTY_LINE = re.compile(r"^[0-9a-f]+(?::[0-9a-f]+){10,}$", re.M)

# Environment names that camwatch's command line sets and the shell must not have.
CAMWATCH_ENV = ("LD_LIBRARY_PATH", "LD_PRELOAD", "CAMWATCH_TRACE", "VCAM_LOG", "VCAM_SCENARIO")


class ShellSession:
    def __init__(self, test, shell, scenario):
        self.setup = Camwatch(scenario)
        test.addCleanup(self.setup.folder.cleanup)
        self.folder = self.setup.folder.name
        self.out = os.path.join(self.folder, "out")
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("VCAM_", "CAMWATCH_", "LD_", "BASH_ENV", "PROMPT_COMMAND"))
               and k != "ENV"}
        env.update(PS1=PROMPT, TERM="dumb", HISTFILE="/dev/null")
        argv = SHELLS[shell]
        self.child = pexpect.spawn(argv[0], argv[1:], env=env, cwd=self.folder,
                                   timeout=DEFAULT_TIMEOUT, dimensions=(24, 250),
                                   preexec_fn=_default_signals)
        test.addCleanup(self.close)
        self.child.expect_exact(PROMPT)
        self.markers = 0
        self.run("ulimit -c 0")  # crashes on purpose leave no core files
        assignments = " ".join("%s=%s" % (name, shlex.quote(self.setup.env[name]))
                               for name in CAMWATCH_ENV if name in self.setup.env)
        self.camwatch = assignments + " " + shlex.quote(self.setup.binary)

    def close(self):
        # A job that hangs or spins must not outlive the test: every process of
        # the shell's session goes, whatever group or state it is in.
        for pid in _session_members(self.child.pid):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.child.isalive():
            self.child.close(force=True)

    # --- the shell --------------------------------------------------------

    def run(self, command):
        """Runs a command line at the prompt and returns what it printed."""
        self.markers += 1
        marker = "done%d" % self.markers
        # printf's format keeps the marker out of the echoed command line, and
        # the command's status is handed on to the next line's $?.
        self.child.sendline("%s; s=$?; printf '__%%s__\\n' %s; (exit $s)" % (command, marker))
        self.child.expect(r"__%s__\r?\n" % marker)
        printed = self.child.before.decode(errors="replace")
        self.child.expect_exact(PROMPT)
        return printed

    def status(self):
        """$? of the last command."""
        found = re.search(r"^status=(\d+)\r?$", self.run("echo status=$?"), re.M)
        assert found, "no status line"
        return int(found.group(1))

    def stty(self):
        found = STTY_LINE.findall(self.run("stty -g").replace("\r", ""))
        assert len(found) == 1, "no stty -g line"
        return found[0]

    def expect_prompt(self):
        try:
            self.child.expect_exact(PROMPT)
        except pexpect.TIMEOUT:
            raise AssertionError("no prompt: the foreground job hangs\n" + self.stacks()) from None

    def stacks(self):
        """Every thread's stack of the foreground job, for a hang's report."""
        group = self.foreground_group()
        if group == self.child.pid:
            return "(the shell is in the foreground)"
        try:
            traced = subprocess.run(["gdb", "-p", str(group), "-batch", "-ex",
                                     "thread apply all bt"], stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, timeout=60)
        except (OSError, subprocess.TimeoutExpired) as error:
            return "(no stacks: %s)" % error
        return traced.stdout.decode(errors="replace")

    def send(self, data):
        os.write(self.child.child_fd, data)

    # --- camwatch ---------------------------------------------------------

    def start(self, redirections=">out", background=False):
        self.child.sendline(self.camwatch + " " + redirections + (" &" if background else ""))
        if background:
            self.expect_prompt()

    def foreground_group(self):
        return os.tcgetpgrp(self.child.child_fd)

    def terminal_flags(self):
        return termios.tcgetattr(self.child.child_fd)[LFLAG]

    def wait_single_key_mode(self):
        """camwatch is the foreground job and has set its mode (bash's line
        editor sets the same flags while it reads a line)."""
        try:
            wait_until(lambda: self.foreground_group() != self.child.pid
                       and self.terminal_flags() & (termios.ECHO | termios.ICANON) == 0,
                       "single-key mode on the terminal")
        except AssertionError as error:
            try:
                self.child.expect(pexpect.TIMEOUT, timeout=0.5)
            except pexpect.EOF:
                pass
            raise AssertionError("%s; foreground %d (shell %d), lflag %#x, terminal shows %r\n%s"
                                 % (error, self.foreground_group(), self.child.pid,
                                    self.terminal_flags(), self.child.before[-300:],
                                    self.stacks())) from None

    def frames(self):
        try:
            with open(self.out, "rb") as f:
                return len(FRAME_LINE.findall(f.read()))
        except FileNotFoundError:
            return 0

    def wait_frames(self, count):
        wait_until(lambda: self.frames() >= count, "%d frame lines" % count)

    def wait_more_frames(self, more=5):
        self.wait_frames(self.frames() + more)

    def result(self, status):
        """The run's trace and driver log, for the teardown checks."""
        try:
            with open(self.out, "rb") as f:
                output = f.read()
        except FileNotFoundError:
            output = b""
        return Result(output, status, b"", _lines(self.setup.trace_path),
                      _lines(self.setup.log_path))


def _default_signals():
    # As in a user's terminal. Python ignores SIGPIPE, and a test run started in
    # the background of a script ignores SIGINT and SIGQUIT; the shell would hand
    # that on to camwatch, which keeps ignored signals ignored.
    for number in (signal.SIGPIPE, signal.SIGINT, signal.SIGQUIT, signal.SIGHUP,
                   signal.SIGTERM, signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU):
        signal.signal(number, signal.SIG_DFL)


def _session_members(session):
    """Processes of `session` other than its leader, from /proc."""
    members = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == session:
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                # The fields after the command name, which is in parentheses.
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[3]) == session:
            members.append(int(entry))
    return members


def wait_until(condition, what, timeout=DEFAULT_TIMEOUT):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.005)


def _lines(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("latin-1").splitlines()
    except FileNotFoundError:
        return []
