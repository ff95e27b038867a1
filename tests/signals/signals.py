"""Signals, pipes and odd standard streams for camwatch on the virtual camera.

SIGINT, SIGTERM and SIGHUP during start-up, while waiting for the key and
during teardown, with a pseudo-terminal as stdin: the terminal mode must be
restored and the process must die by that signal. Then `camwatch | head -n 1`,
stdout on /dev/full and stdin closed: each must end (or keep running) as
described, without hang or crash. Any sanitizer report on stderr fails the case.

Paths as for the end-to-end suite: CAMWATCH_BIN, VCAM_RUNTIME, CAMWATCH_TRACER.
"""

import os
import select
import signal
import subprocess
import sys
import time
import unittest

from camwatch_run import DEFAULT_TIMEOUT, Camwatch, CamwatchAssertions, FRAME_LINE


class PhaseHold:
    """Stops camwatch at a chosen traced call, deterministically.

    The call tracer writes to a FIFO that this side reads. Once the call shows
    up, the FIFO is filled to the brim, so camwatch blocks on its next traced
    call, still in the phase that call belongs to, until the signal.
    """

    def __init__(self, path):
        self.path = path
        os.mkfifo(path)
        self.reader = os.open(path, os.O_RDONLY | os.O_NONBLOCK)
        self.filler = os.open(path, os.O_WRONLY | os.O_NONBLOCK)

    def hold_after(self, call, pid, timeout=DEFAULT_TIMEOUT):
        seen = bytearray()
        deadline = time.monotonic() + timeout
        mark = call.encode() + b" "
        while not seen.startswith(mark) and b"\n" + mark not in seen:
            left = deadline - time.monotonic()
            if left <= 0:
                raise AssertionError("%s never traced" % call)
            ready, _, _ = select.select([self.reader], [], [], left)
            if ready:
                seen += os.read(self.reader, 1 << 16)
                del seen[:-4096]
        try:
            while True:
                os.write(self.filler, b"x" * 4096)
        except BlockingIOError:
            pass
        # Once one thread is parked in the write, holding the tracer's lock,
        # every later traced call waits behind it.
        while not _waits_on_pipe_write(pid):
            if time.monotonic() > deadline:
                raise AssertionError("camwatch never blocked on its trace after " + call)
            time.sleep(0.005)

    def close(self):
        os.close(self.reader)
        os.close(self.filler)


def _waits_on_pipe_write(pid):
    tasks = "/proc/%d/task" % pid
    for task in os.listdir(tasks):
        try:
            with open(os.path.join(tasks, task, "wchan")) as f:
                if "pipe_write" in f.read():
                    return True
        except OSError:
            pass
    return False


# The call after which each phase is held; "waiting" is reached by frame lines.
PHASE_CALLS = {"start-up": "oniInitialize", "teardown": "oniStreamUnregisterNewFrameCallback"}


class SignalsInTerminal(CamwatchAssertions):
    """Each signal in each phase, stdin a pty that camwatch controls."""

    def run_case(self, sig, phase):
        cam = Camwatch(stdin="pty")
        hold = PhaseHold(cam.trace_path) if phase in PHASE_CALLS else None
        try:
            with cam:
                if phase == "teardown":
                    cam.wait_for_frames(1)
                    cam.press_key()
                if hold is not None:
                    hold.hold_after(PHASE_CALLS[phase], cam.proc.pid)
                else:
                    cam.wait_for_frames(1)
                cam.send_signal(sig)
                result = cam.finish()
                self.assertEqual(cam.terminal_attributes(), cam.attributes_before,
                                 "terminal mode not restored")
        finally:
            if hold is not None:
                hold.close()
        self.assertEqual(result.status, -sig, result.stderr.decode(errors="replace")[-2000:])
        self.assertNoSanitizerReport(result)

    def test_each_signal_in_each_phase(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for phase in ("start-up", "waiting", "teardown"):
                with self.subTest(signal=sig.name, phase=phase):
                    self.run_case(sig, phase)


class PipesAndStreams(CamwatchAssertions):
    def test_head_ends_it_promptly(self):
        started = time.monotonic()
        reader, writer = os.pipe()
        head = subprocess.Popen(["head", "-n", "1"], stdin=reader, stdout=subprocess.PIPE)
        os.close(reader)
        with head, Camwatch(stdout=writer) as cam:
            os.close(writer)
            first, _ = head.communicate(timeout=DEFAULT_TIMEOUT)
            result = cam.finish()
        self.assertEqual(first, b'Device "vcam://0" already connected\n')
        self.assertEqual(result.status, -signal.SIGPIPE)
        self.assertNoSanitizerReport(result)
        print("  | head -n 1: ended by SIGPIPE after %.2f s" % (time.monotonic() - started),
              file=sys.stderr)

    def test_stdout_on_full_device(self):
        with open("/dev/full", "wb") as full, Camwatch(stdout=full) as cam:
            cam.wait_for_trace("oniStreamReadFrame", 10)
            self.assertTrue(cam.running(), "gave up on a full stdout before the key")
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.status, 0)
        self.assertNoSanitizerReport(result)

    def run_with_stdin_closed(self, driver_log):
        # Untraced, so that the driver's log, when there is one, is the first
        # file opened: it must not be taken for stdin.
        cam = Camwatch(stdin="closed", tracer=False)
        if not driver_log:
            del cam.env["VCAM_LOG"]
        with cam:
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
