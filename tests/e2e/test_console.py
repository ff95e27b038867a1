"""What stdin is and how a run ends: a key on a pipe or a terminal, end of
input that is no key, signals, and a reader that goes away."""

import signal
import termios
import unittest

from camwatch_run import BOTH, FRAME_LINE, Camwatch, CamwatchAssertions, run_into_head, run_to_end
from launcher import LFLAG

SCENARIO = ("device vcam://0\n"
            "depth width=4 height=4 fps=60 middle=1234 fill=7\n"
            "color width=4 height=4 fps=60 middle=0x0aff00 fill=0x112233\n")


class TerminalTest(CamwatchAssertions):
    def assertTerminalRawWhileRunning(self, cam):
        during = cam.terminal_attributes()
        self.assertFalse(during[LFLAG] & termios.ECHO, "echo still on")
        self.assertFalse(during[LFLAG] & termios.ICANON, "still canonical")
        self.assertTrue(during[LFLAG] & termios.ISIG, "signal keys lost")

    def assertTerminalRestored(self, cam):
        after = cam.terminal_attributes()
        self.assertEqual(after, cam.attributes_before)
        self.assertTrue(after[LFLAG] & termios.ECHO)
        self.assertTrue(after[LFLAG] & termios.ICANON)

    def test_key_on_terminal_ends_run_and_restores_it(self):
        with Camwatch(SCENARIO, stdin="pty") as cam:
            cam.wait_for_frames(2, BOTH)
            self.assertTerminalRawWhileRunning(cam)
            cam.press_key(b"x")
            result = cam.finish()
            self.assertTerminalRestored(cam)
        self.assertFullTeardown(result)

    def test_signals_on_terminal_kill_by_same_signal_and_restore_it(self):
        # ^C and ^\ go through the terminal, so they also prove ISIG stayed on.
        for name, deliver in (("SIGINT", lambda cam: cam.press_key(b"\x03")),
                              ("SIGQUIT", lambda cam: cam.press_key(b"\x1c")),
                              ("SIGTERM", lambda cam: cam.send_signal(signal.SIGTERM)),
                              ("SIGHUP", lambda cam: cam.send_signal(signal.SIGHUP))):
            with self.subTest(signal=name):
                with Camwatch(SCENARIO, stdin="pty") as cam:
                    cam.wait_for_frames(2, BOTH)
                    self.assertTerminalRawWhileRunning(cam)
                    deliver(cam)
                    result = cam.finish()
                    self.assertTerminalRestored(cam)
                self.assertEqual(result.status, -getattr(signal, name))
                self.assertNoSanitizerReport(result)

    def test_terminal_that_is_not_ours_is_left_alone(self):
        # Changing a terminal we do not control would stop a background job;
        # a byte on it still counts as a key.
        with Camwatch(SCENARIO, stdin="pty-not-controlling") as cam:
            cam.wait_for_frames(2, BOTH)
            self.assertEqual(cam.terminal_attributes(), cam.attributes_before)
            cam.press_key(b"x\n")
            result = cam.finish()
            self.assertEqual(cam.terminal_attributes(), cam.attributes_before)
        self.assertFullTeardown(result)


class NonTerminalInputTest(CamwatchAssertions):
    def assertRunsUntilSignal(self, cam, number):
        """Frames go on after the first ones, with no key, until the signal ends the run."""
        cam.wait_for_frames(4, BOTH)
        cam.wait_for_frames(len(FRAME_LINE.findall(cam.output)) + 10)
        self.assertTrue(cam.running())
        cam.send_signal(number)
        result = cam.finish()
        self.assertEqual(result.status, -number)
        self.assertEqual(result.stderr, b"")

    def test_end_of_input_is_no_key_and_sigterm_ends_the_run(self):
        with Camwatch(SCENARIO, stdin="devnull") as cam:
            self.assertRunsUntilSignal(cam, signal.SIGTERM)

    def test_byte_in_a_file_is_a_key_and_an_empty_file_is_none(self):
        result = run_to_end(SCENARIO, stdin="file", stdin_bytes=b"q")
        self.assertFullTeardown(result)
        with Camwatch(SCENARIO, stdin="file") as cam:
            self.assertRunsUntilSignal(cam, signal.SIGTERM)

    def test_closed_pipe_is_no_key_either(self):
        with Camwatch(SCENARIO) as cam:
            cam.close_input()
            self.assertRunsUntilSignal(cam, signal.SIGINT)

    def test_output_to_head_ends_promptly(self):
        first_lines, result = run_into_head(3, SCENARIO)
        self.assertEqual(len(first_lines.splitlines()), 3)
        self.assertEqual(first_lines.splitlines(keepends=True)[0],
                         b'Device "vcam://0" already connected\n')
        self.assertEqual(result.status, -signal.SIGPIPE)
        self.assertNoSanitizerReport(result)


if __name__ == "__main__":
    unittest.main()
