#!/usr/bin/env python3
"""Signals, pipes and odd standard streams for camwatch on the virtual camera.

SIGINT, SIGTERM and SIGHUP during start-up, while waiting for the key and
during teardown, with a pseudo-terminal as stdin: the terminal mode must be
restored and the process must die by that signal. Then `camwatch | head -n 1`,
stdout on /dev/full and stdin closed: each must end (or keep running) as
described, without hang or crash. Any sanitizer report on stderr fails the case.

Paths as for the end-to-end suite: CAMWATCH_BIN, VCAM_RUNTIME, CAMWATCH_TRACER.
"""

import fcntl
import os
import random
import select
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

TIMEOUT = 20.0
SANITIZER_MARKS = (b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer", b"runtime error:",
                   b"WARNING: ThreadSanitizer", b"==ERROR")


def camwatch_env(log_dir=None):
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = os.environ["VCAM_RUNTIME"]
    env.pop("VCAM_SCENARIO", None)
    env.pop("VCAM_LOG", None)
    if log_dir is not None:
        env["VCAM_LOG"] = os.path.join(log_dir, "vcam.log")
    return env


def become_terminal_owner():
    # Runs in the child: its stdin (the pty slave) becomes its controlling
    # terminal, with the child's group in the foreground, as under a shell.
    os.setsid()
    fcntl.ioctl(0, termios.TIOCSCTTY, 0)


def read_until(stream, predicate, timeout, sink):
    deadline = time.monotonic() + timeout
    while not predicate(sink):
        left = deadline - time.monotonic()
        if left <= 0:
            return False
        ready, _, _ = select.select([stream], [], [], left)
        if ready:
            chunk = os.read(stream.fileno(), 1 << 16)
            if not chunk:
                return predicate(sink)
            sink += chunk
    return True


def drain_and_wait(proc, sink, timeout=TIMEOUT):
    deadline = time.monotonic() + timeout
    while proc.poll() is None and time.monotonic() < deadline:
        read_until(proc.stdout, lambda _: False, 0.05, sink)
    if proc.poll() is None:
        proc.kill()
        proc.wait()
        return None
    read_until(proc.stdout, lambda _: False, 0.1, sink)
    return proc.returncode


def has_frame(output):
    return b"] Depth middle index" in output or b"] Color RGB value" in output


class SanitizerQuiet:
    def assertNoSanitizerReport(self, stderr):
        for mark in SANITIZER_MARKS:
            self.assertNotIn(mark, stderr, stderr.decode(errors="replace")[-3000:])


class TeardownHold:
    """Stops camwatch inside its teardown, deterministically.

    The call tracer writes to a FIFO that this side reads. Once the first
    teardown call shows up, the FIFO is filled to the brim, so camwatch blocks
    on its next traced call, half-way through the teardown, until the signal.
    """

    def __init__(self, work):
        self.path = os.path.join(work, "trace.fifo")
        os.mkfifo(self.path)
        self.reader = os.open(self.path, os.O_RDONLY | os.O_NONBLOCK)
        self.filler = os.open(self.path, os.O_WRONLY | os.O_NONBLOCK)

    def env(self):
        preload = [p for p in (os.environ.get("LD_PRELOAD", ""), os.environ["CAMWATCH_TRACER"]) if p]
        return {"CAMWATCH_TRACE": self.path, "LD_PRELOAD": " ".join(preload)}

    def hold_at_teardown(self, timeout):
        seen = bytearray()
        deadline = time.monotonic() + timeout
        while b"\noniStreamUnregisterNewFrameCallback" not in seen:
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            ready, _, _ = select.select([self.reader], [], [], left)
            if ready:
                seen += os.read(self.reader, 1 << 16)
                del seen[:-4096]
        try:
            while True:
                os.write(self.filler, b"x" * 4096)
        except BlockingIOError:
            pass
        time.sleep(0.1)  # camwatch reaches its next traced call and blocks there
        return True

    def close(self):
        os.close(self.reader)
        os.close(self.filler)


class SignalsInTerminal(unittest.TestCase, SanitizerQuiet):
    """Each signal in each phase, stdin a pty that camwatch controls."""

    def run_case(self, sig, phase):
        master, slave = os.openpty()
        with tempfile.TemporaryDirectory() as work:
            trace = TeardownHold(work) if phase == "teardown" else None
            try:
                before = termios.tcgetattr(slave)
                env = camwatch_env()
                if trace is not None:
                    env.update(trace.env())
                proc = subprocess.Popen([os.environ["CAMWATCH_BIN"]], stdin=slave,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        env=env, preexec_fn=become_terminal_owner)
                with proc:
                    output = bytearray()
                    if phase == "start-up":
                        time.sleep(random.uniform(0.0, 0.03))
                    else:
                        self.assertTrue(read_until(proc.stdout, has_frame, TIMEOUT, output),
                                        output)
                    if trace is not None:
                        os.write(master, b"q")
                        self.assertTrue(trace.hold_at_teardown(TIMEOUT), "no teardown traced")
                    proc.send_signal(sig)
                    status = drain_and_wait(proc, output)
                    stderr = proc.stderr.read()
                self.assertIsNotNone(status, "hung after %s in %s" % (sig.name, phase))
                self.assertEqual(status, -sig, stderr.decode(errors="replace")[-2000:])
                self.assertEqual(termios.tcgetattr(slave), before, "terminal mode not restored")
                self.assertNoSanitizerReport(stderr)
            finally:
                if trace is not None:
                    trace.close()
                os.close(master)
                os.close(slave)

    def test_each_signal_in_each_phase(self):
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            for phase in ("start-up", "waiting", "teardown"):
                with self.subTest(signal=sig.name, phase=phase):
                    self.run_case(sig, phase)


class PipesAndStreams(unittest.TestCase, SanitizerQuiet):
    def test_head_ends_it_promptly(self):
        started = time.monotonic()
        camwatch = subprocess.Popen([os.environ["CAMWATCH_BIN"]], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                    env=camwatch_env())
        head = subprocess.Popen(["head", "-n", "1"], stdin=camwatch.stdout,
                                stdout=subprocess.PIPE)
        camwatch.stdout.close()
        with head:
            first, _ = head.communicate(timeout=TIMEOUT)
        try:
            status = camwatch.wait(timeout=5.0)
        except subprocess.TimeoutExpired:
            camwatch.kill()
            camwatch.wait()
            self.fail("camwatch kept running after head left")
        elapsed = time.monotonic() - started
        self.assertEqual(first, b'Device "vcam://0" already connected\n')
        self.assertEqual(status, -signal.SIGPIPE)
        self.assertNoSanitizerReport(camwatch.stderr.read())
        camwatch.stdin.close()
        camwatch.stderr.close()
        print("  | head -n 1: ended by SIGPIPE after %.2f s" % elapsed, file=sys.stderr)

    def test_stdout_on_full_device(self):
        with open("/dev/full", "wb") as full:
            proc = subprocess.Popen([os.environ["CAMWATCH_BIN"]], stdin=subprocess.PIPE,
                                    stdout=full, stderr=subprocess.PIPE, env=camwatch_env())
            time.sleep(1.0)
            self.assertIsNone(proc.poll(), "gave up on a full stdout before the key")
            proc.stdin.write(b"q")
            proc.stdin.close()
            try:
                status = proc.wait(timeout=TIMEOUT)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                self.fail("hung with stdout on /dev/full")
        self.assertEqual(status, 0)
        self.assertNoSanitizerReport(proc.stderr.read())
        proc.stderr.close()

    def run_with_stdin_closed(self, log_dir):
        proc = subprocess.Popen(["sh", "-c", 'exec "$0" <&-', os.environ["CAMWATCH_BIN"]],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                env=camwatch_env(log_dir))
        output = bytearray()
        self.assertTrue(read_until(proc.stdout, has_frame, TIMEOUT, output), output)
        # Like end of input: no key, so frames go on until a signal.
        time.sleep(1.0)
        self.assertIsNone(proc.poll(), "stopped by itself with stdin closed")
        proc.send_signal(signal.SIGTERM)
        status = drain_and_wait(proc, output)
        self.assertEqual(status, -signal.SIGTERM)
        self.assertNoSanitizerReport(proc.stderr.read())
        proc.stdout.close()
        proc.stderr.close()

    def test_stdin_closed_runs_like_end_of_input(self):
        with self.subTest(driver_log=False):
            self.run_with_stdin_closed(None)
        # The driver's log is the first file opened: it must not be taken for stdin.
        with self.subTest(driver_log=True), tempfile.TemporaryDirectory() as log_dir:
            self.run_with_stdin_closed(log_dir)


if __name__ == "__main__":
    for name in ("CAMWATCH_BIN", "VCAM_RUNTIME", "CAMWATCH_TRACER"):
        if not os.environ.get(name):
            sys.exit(name + " is not set")
    unittest.main(verbosity=2)
