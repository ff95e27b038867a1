"""camwatch as a citizen of an interactive shell with job control, in a real
pseudo-terminal: each case checks `stty -g` before and after, the exit status
and what reached the shell. bash repairs the terminal of a job killed by a
signal, dash does not, so the signal cases run under dash where only camwatch
can have put the terminal back.

Racy cases repeat; the counts come from the environment so that a quick run
stays quick and scripts/check console runs the full counts:
  CAMWATCH_RUNS_DOUBLE_INTERRUPT, CAMWATCH_RUNS_STOP_CONTINUE.
"""

import os
import random
import signal
import statistics
import sys
import termios
import time
import unittest

from camwatch_run import run_to_end
from camwatch_run import CamwatchAssertions
from shell_session import ShellSession

SCENARIO = ("device vcam://0\n"
            "depth width=4 height=4 fps=100 middle=1234 fill=7\n"
            "color width=4 height=4 fps=100 middle=0x0aff00 fill=0x112233\n")


def runs(name, quick):
    return int(os.environ.get("CAMWATCH_RUNS_" + name, quick))


def report(text):
    # Kept in scripts/check's summary, as every line that begins "figure:".
    print("\nfigure: " + text, file=sys.stderr)


# Signals ThreadSanitizer takes for synchronous ones (a fault at the current
# instruction); the plain and AddressSanitizer builds run these cases.
TSAN_SYNCHRONOUS = ("SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT", "SIGPIPE")


class JobControlTest(CamwatchAssertions):
    def session(self, kind, scenario=SCENARIO):
        """A shell of `kind` and its terminal's `stty -g` before any run."""
        shell = ShellSession(self, kind, scenario)
        return shell, shell.stty()

    def assertEndsByKey(self, shell, before):
        """Single-key mode is on: one key without Enter ends the run with the
        full teardown, and the key does not reach the shell."""
        shell.wait_single_key_mode()
        shell.send(b"q")
        shell.expect_prompt()
        output = shell.run("echo status=$?")
        self.assertIn("status=0", output)
        self.assertNotIn("not found", output)
        self.assertEqual(shell.stty(), before)
        self.assertFullTeardown(shell.result(0))

    def test_1_ctrl_z_then_fg_sets_single_key_mode_again(self):
        for kind in ("bash", "dash"):
            with self.subTest(shell=kind):
                shell, before = self.session(kind)
                shell.start()
                shell.wait_single_key_mode()
                shell.wait_frames(2)
                shell.send(b"\x1a")
                shell.expect_prompt()
                self.assertEqual(shell.stty(), before, "terminal while stopped")
                shell.child.sendline("fg")
                shell.wait_more_frames()
                self.assertEndsByKey(shell, before)

    def test_2_background_run_leaves_the_shells_input_alone(self):
        shell, before = self.session("bash")
        shell.start(background=True)
        shell.wait_frames(2)
        self.assertIn("typed", shell.run("echo typed"))
        shell.run("ls >/dev/null")
        shell.wait_more_frames()
        self.assertIn("Running", shell.run("jobs"))
        self.assertEqual(shell.stty(), before)
        shell.run("kill %1; wait %1")
        self.assertEqual(shell.status(), 128 + signal.SIGTERM)

    def test_3_background_start_then_fg_sets_single_key_mode(self):
        for kind in ("bash", "dash"):
            with self.subTest(shell=kind):
                shell, before = self.session(kind)
                shell.start(background=True)
                shell.wait_frames(2)
                self.assertEqual(shell.stty(), before)
                shell.child.sendline("fg")
                self.assertEndsByKey(shell, before)

    def test_4_exits_in_the_background_never_stop_on_sigttou(self):
        for kind in ("bash", "dash"):
            with self.subTest(shell=kind, ending="kill after bg"):
                shell, before = self.session(kind)
                shell.start()
                shell.wait_single_key_mode()
                shell.send(b"\x1a")
                shell.expect_prompt()
                shell.run("bg")
                shell.wait_more_frames()
                shell.run("kill %1; wait %1")
                self.assertEqual(shell.status(), 128 + signal.SIGTERM)
                self.assertNotIn("Stopped", shell.run("jobs"))
                self.assertEqual(shell.stty(), before)
            with self.subTest(shell=kind, ending="failed write in the background"):
                shell, before = self.session(kind)
                shell.start(">/dev/full 2>err", background=True)
                shell.run("wait $!")
                self.assertEqual(shell.status(), 3)
                self.assertEqual(shell.stty(), before)
        with self.subTest(shell="bash", ending="reader gone after Ctrl+Z and bg"):
            shell, before = self.session("bash")
            shell.child.sendline("{ env --ignore-signal=PIPE %s 2>err; echo $? >status; } "
                                 "| head -n 1000 >out" % shell.camwatch)
            shell.wait_single_key_mode()
            shell.send(b"\x1a")
            shell.expect_prompt()
            shell.run("bg")
            shell.run("wait %1")
            self.assertEqual(shell.run("cat status").split()[-1], "3")
            self.assertEqual(shell.stty(), before)

    def runs_in_key_mode(self, kind, count):
        """`count` runs in one shell, each handed over once camwatch has set
        single-key mode, with the shell's own `stty -g` to compare with."""
        shell, before = self.session(kind)
        for _ in range(count):
            shell.start()
            shell.wait_single_key_mode()
            yield shell, before

    def test_5_double_ctrl_c_restores_the_terminal(self):
        count = runs("DOUBLE_INTERRUPT", 5)
        restored = 0
        for shell, before in self.runs_in_key_mode("dash", count):
            shell.wait_frames(shell.frames() + 2)
            spacing = random.uniform(0, 0.001)
            shell.send(b"\x03")
            _spin(spacing)
            shell.send(b"\x03")
            shell.expect_prompt()
            status = shell.status()
            self.assertEqual(status, 128 + signal.SIGINT)
            restored += shell.stty() == before
        report("double Ctrl+C: %d runs, terminal restored in %d" % (count, restored))
        self.assertEqual(restored, count)

    def test_6_crashes_restore_the_terminal(self):
        # The ending signals SIGINT, SIGTERM, SIGHUP and SIGQUIT are the console
        # suite's, on a terminal with nothing that could repair it either.
        shell, before = self.session("dash")
        for name in ("SIGSEGV", "SIGBUS", "SIGFPE", "SIGILL", "SIGABRT", "SIGPIPE"):
            with self.subTest(signal=name):
                if "TSAN_OPTIONS" in os.environ and name in TSAN_SYNCHRONOUS:
                    self.skipTest("ThreadSanitizer runs handlers of these at once, and one sent "
                                  "by kill() can land inside its allocator and deadlock it")
                shell.start()
                shell.wait_single_key_mode()
                os.kill(shell.foreground_group(), getattr(signal, name))
                shell.expect_prompt()
                printed = shell.child.before
                status = shell.status()
                self.assertEqual(shell.stty(), before)
                if b"Sanitizer:DEADLYSIGNAL" in printed:
                    # A sanitizer build: its handler, found at start, reports
                    # the crash after the restore and exits in its own way.
                    self.assertIn(name, ("SIGSEGV", "SIGBUS", "SIGFPE"))
                    self.assertNotEqual(status, 0)
                else:
                    self.assertEqual(status, 128 + getattr(signal, name))

    def test_6_uri_that_crashes_the_library_is_refused_by_the_virtual_camera(self):
        result = run_to_end("device vcam://caf\u00e9\n", stdin="devnull")
        self.assertEqual(result.status, 1)
        self.assertTrue(result.output.startswith(b"Initialize failed\n"))
        self.assertIn(b"byte of 0x80 or above", result.output)

    def test_7_closed_stdin_leaves_the_terminal_alone(self):
        # The terminal is still the session's, but it is not camwatch's stdin:
        # its mode stays the shell's and Ctrl+C still ends the run.
        shell, before = self.session("bash")
        shell.start("<&- >out")
        shell.wait_frames(5)
        cooked = termios.ECHO | termios.ICANON | termios.ISIG
        self.assertEqual(shell.terminal_flags() & cooked, cooked, "terminal mode changed")
        shell.send(b"\x03")
        shell.expect_prompt()
        self.assertEqual(shell.status(), 128 + signal.SIGINT)
        self.assertEqual(shell.stty(), before)

    def test_ctrl_z_and_fg_at_random_moments(self):
        count = runs("STOP_CONTINUE", 3)
        good = 0
        stop_ms = []  # Ctrl+Z to the shell's prompt: how late a stop comes
        for shell, before in self.runs_in_key_mode("bash", count):
            time.sleep(random.uniform(0, 0.3))  # the moment is the point, not a wait
            sent = time.monotonic()
            shell.send(b"\x1a")
            shell.expect_prompt()
            stop_ms.append((time.monotonic() - sent) * 1000)
            stopped_ok = shell.stty() == before
            shell.child.sendline("fg")
            shell.wait_more_frames()
            shell.wait_single_key_mode()
            shell.send(b"q")
            shell.expect_prompt()
            good += stopped_ok and shell.status() == 0 and shell.stty() == before
        report("Ctrl+Z/fg while frames flow: %d runs, all as expected in %d; Ctrl+Z to the "
               "prompt: median %.0f ms, longest %.0f ms"
               % (count, good, statistics.median(stop_ms), max(stop_ms)))
        self.assertEqual(good, count)


def _spin(seconds):
    """Busy-waits: sleeping cannot resolve sub-millisecond spacings."""
    end = time.perf_counter() + seconds
    while time.perf_counter() < end:
        pass


if __name__ == "__main__":
    unittest.main()
