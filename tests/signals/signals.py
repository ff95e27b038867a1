"""Signals, pipes and odd standard streams for camwatch on the virtual camera.

SIGINT, SIGTERM and SIGHUP during start-up, while waiting for the key and
during teardown, with a pseudo-terminal as stdin: the terminal mode must be
restored and the process must die by that signal. Then `camwatch | head -n 1`,
stdout on /dev/full and stdin closed: each must end (or keep running) as
described, without hang or crash. Any sanitizer report on stderr fails the case.

Paths as for the end-to-end suite: CAMWATCH_BIN, VCAM_RUNTIME, CAMWATCH_TRACER.
"""

import signal
import sys
import time
import unittest

from camwatch_run import Camwatch, CamwatchAssertions, FRAME_LINE, run_into_head
from launcher import wait_until


def stopped(pid):
    """The process is in the stopped state (T)."""
    with open("/proc/%d/stat" % pid) as f:
        # The state follows the command name, which is in parentheses.
        return f.read().rpartition(")")[2].split()[0] == "T"


# The call after which the tracer stops camwatch, and one the phase ends
# before; "waiting" is reached by frame lines instead.
PHASE_CALLS = {"start-up": ("oniInitialize", "oniDeviceOpen"),
               "teardown": ("oniStreamUnregisterNewFrameCallback", "oniShutdown")}


class SignalsInTerminal(CamwatchAssertions):
    """Each signal in each phase, stdin a pty that camwatch controls."""

    def run_case(self, sig, phase):
        cam = Camwatch(stdin="pty")
        if phase in PHASE_CALLS:
            cam.env["CAMWATCH_TRACE_STOP_AFTER"] = PHASE_CALLS[phase][0]
        with cam:
            if phase == "teardown":
                cam.wait_for_frames(1)
                cam.press_key()
            if phase in PHASE_CALLS:
                wait_until(lambda: stopped(cam.pid), "camwatch stopped at the call asked for")
                cam.send_signal(sig)
                cam.send_signal(signal.SIGCONT)
            else:
                cam.wait_for_frames(1)
                cam.send_signal(sig)
            result = cam.finish()
            self.assertEqual(cam.terminal_attributes(), cam.attributes_before,
                             "terminal mode not restored")
        self.assertEqual(result.status, -sig, result.stderr.decode(errors="replace")[-2000:])
        if phase in PHASE_CALLS:
            stop_after, not_reached = PHASE_CALLS[phase]
            self.assertTrue(result.calls(stop_after))
            self.assertEqual(result.calls(not_reached), [], "signal came after its phase")
        self.assertNoSanitizerReport(result)

    def test_each_signal_in_each_phase(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for phase in ("start-up", "waiting", "teardown"):
                with self.subTest(signal=sig.name, phase=phase):
                    self.run_case(sig, phase)


class PipesAndStreams(CamwatchAssertions):
    def test_head_ends_it_promptly(self):
        started = time.monotonic()
        first, result = run_into_head(1)
        self.assertEqual(first, b'Device "vcam://0" already connected\n')
        self.assertEqual(result.status, -signal.SIGPIPE)
        self.assertNoSanitizerReport(result)
        print("  | head -n 1: ended by SIGPIPE after %.2f s" % (time.monotonic() - started),
              file=sys.stderr)

    def run_with_stdin_closed(self, driver_log):
        # Untraced, so that the driver's log, when there is one, is the first
        # file opened: it must not be taken for stdin.
        with Camwatch(stdin="closed", tracer=False, log=driver_log) as cam:
            cam.wait_for_frames(2)
            # Like end of input: no key, so frames go on until a signal.
            cam.wait_for_frames(len(FRAME_LINE.findall(cam.output)) + 10)
            self.assertTrue(cam.running(), "stopped by itself with stdin closed")
            cam.send_signal(signal.SIGTERM)
            result = cam.finish()
        self.assertEqual(result.status, -signal.SIGTERM)
        self.assertNoSanitizerReport(result)
        self.assertEqual(bool(result.log), driver_log)

    def test_stdin_closed_runs_like_end_of_input(self):
        for driver_log in (False, True):
            with self.subTest(driver_log=driver_log):
                self.run_with_stdin_closed(driver_log)


if __name__ == "__main__":
    unittest.main(verbosity=2)
