"""Signals that come while camwatch starts up or tears down, stdin a
pseudo-terminal it controls: the terminal mode must be restored and the
process must die by that signal. The tracer stops camwatch at a library call
inside the phase, so the signal lands there and nowhere else. Any sanitizer
report on stderr fails the case.

Paths as for the end-to-end suite: CAMWATCH_BIN, VCAM_RUNTIME, CAMWATCH_TRACER.
"""

import signal
import unittest

from camwatch_run import Camwatch, CamwatchAssertions
from launcher import wait_until


def stopped(pid):
    """The process is in the stopped state (T)."""
    with open("/proc/%d/stat" % pid) as f:
        # The state follows the command name, which is in parentheses.
        return f.read().rpartition(")")[2].split()[0] == "T"


# The call after which the tracer stops camwatch, and one the phase ends before.
PHASE_CALLS = {"start-up": ("oniInitialize", "oniDeviceOpen"),
               "teardown": ("oniStreamUnregisterNewFrameCallback", "oniShutdown")}


class SignalsInTerminal(CamwatchAssertions):
    """Each signal in each phase, stdin a pty that camwatch controls."""

    def run_case(self, sig, phase):
        stop_after, not_reached = PHASE_CALLS[phase]
        cam = Camwatch(stdin="pty")
        cam.env["CAMWATCH_TRACE_STOP_AFTER"] = stop_after
        with cam:
            if phase == "teardown":
                cam.wait_for_frames(1)
                cam.press_key()
            wait_until(lambda: stopped(cam.pid), "camwatch stopped at the call asked for")
            cam.send_signal(sig)
            cam.send_signal(signal.SIGCONT)
            result = cam.finish()
            self.assertEqual(cam.terminal_attributes(), cam.attributes_before,
                             "terminal mode not restored")
        self.assertEqual(result.status, -sig, result.stderr.decode(errors="replace")[-2000:])
        self.assertTrue(result.calls(stop_after))
        self.assertEqual(result.calls(not_reached), [], "signal came after its phase")
        self.assertNoSanitizerReport(result)

    def test_each_signal_in_each_phase(self):
        # The phase between, frames flowing and a key awaited, is the console
        # suite's: there the signals also come as keys on the terminal.
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for phase in PHASE_CALLS:
                with self.subTest(signal=sig.name, phase=phase):
                    self.run_case(sig, phase)


if __name__ == "__main__":
    unittest.main(verbosity=2)
