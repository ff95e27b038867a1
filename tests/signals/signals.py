"""Signals, pipes and odd standard streams for camwatch on the virtual camera.

SIGINT, SIGTERM and SIGHUP during start-up, while waiting for the key and
during teardown, with a pseudo-terminal as stdin: the terminal mode must be
restored and the process must die by that signal. Then `camwatch | head -n 1`:
it must end without hang or crash. Any sanitizer report on stderr fails the case.

Paths as for the end-to-end suite: CAMWATCH_BIN, VCAM_RUNTIME, CAMWATCH_TRACER.
"""

import signal
import sys
import time
import unittest

from camwatch_run import Camwatch, CamwatchAssertions, run_into_head
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


if __name__ == "__main__":
    unittest.main(verbosity=2)
