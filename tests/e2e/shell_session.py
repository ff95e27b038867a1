"""An interactive shell with job control in a real pseudo-terminal, driven by
pexpect, that starts camwatch on the virtual camera the way a user would.

The run's folder, command line and environment come from camwatch_run.Setup
(scenario, driver log, call trace); the shell itself runs without them, and
each camwatch command line sets them. Frame lines go to a file, so the
terminal shows only what the shell and camwatch's stderr write.
"""

import os
import re
import signal
import termios

import pexpect

from camwatch_run import FRAME_LINE, Setup, environment_without
from launcher import DEFAULT_TIMEOUT, LFLAG, stacks, wait_until

PROMPT = "cw-prompt$ "
SHELLS = {"bash": ["bash", "--norc", "--noprofile", "-i"], "dash": ["dash", "-i"]}
STTY_LINE = re.compile(r"^[0-9a-f]+(?::[0-9a-f]+){10,}$", re.M)


class ShellSession:
    def __init__(self, test, shell, scenario):
        self.setup = Setup(scenario)
        test.addCleanup(self.setup.folder.cleanup)
        self.folder = self.setup.folder.name
        self.out = os.path.join(self.folder, "out")
        env = environment_without(("VCAM_", "CAMWATCH_", "LD_", "BASH_ENV", "PROMPT_COMMAND"),
                                  ("ENV",))
        env.update(PS1=PROMPT, TERM="dumb", HISTFILE="/dev/null")
        argv = SHELLS[shell]
        self.child = pexpect.spawn(argv[0], argv[1:], env=env, cwd=self.folder,
                                   timeout=DEFAULT_TIMEOUT, dimensions=(24, 250),
                                   preexec_fn=_default_signals)
        test.addCleanup(self.close)
        self.child.expect_exact(PROMPT)
        self.markers = 0
        self.run("ulimit -c 0")  # crashes on purpose leave no core files
        self.camwatch = self.setup.shell_command()

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
        return stacks(group, self.setup.prefix, self.setup.binary)

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
        return self.setup.result(output, status)


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
