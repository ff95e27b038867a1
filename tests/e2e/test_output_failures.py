"""Report lines that cannot be written: the run ends with the full teardown,
one line on stderr names the error, the status is 3 and a terminal on stdin
gets its mode back. Closed standard descriptors at start."""

import os
import tempfile
import unittest

from camwatch_run import BOTH, Camwatch, FRAME_LINE, run_to_end
from camwatch_run import CamwatchAssertions
from launcher import read_lines, run, wait_until

SCENARIO = ("device vcam://0\n"
            "depth width=4 height=4 fps=200 middle=1234 fill=7\n"
            "color width=4 height=4 fps=200 middle=0x0aff00 fill=0x112233\n")

# fps=0: frames as fast as possible, so a run that ends by itself does it at once.
FAST = ("device vcam://0\n"
        "depth width=4 height=4 fps=0\n")

OUTPUT_FAILURE = 3


def write_error(reason):
    return ("camwatch: write error: %s\n" % reason).encode()


class OutputFailureTest(CamwatchAssertions):
    def test_help_that_cannot_be_written_is_an_output_failure(self):
        result = run_to_end(None, args=["--help"], stdout="closed")
        self.assertEqual(result.status, OUTPUT_FAILURE)
        self.assertEqual(result.stderr, write_error("Bad file descriptor"))
        self.assertEqual(result.trace, [])  # no library call

    def test_dev_full_ends_the_run_with_status_3(self):
        # Single-key mode is set before the first line, which is the one that fails.
        with Camwatch(SCENARIO, stdin="pty", stdout="/dev/full") as cam:
            result = cam.finish()
            self.assertEqual(cam.terminal_attributes(), cam.attributes_before)
        self.assertFullTeardown(result, status=OUTPUT_FAILURE,
                                stderr=write_error("No space left on device"))

    def test_full_file_system_ends_the_run_on_a_whole_line(self):
        mount_point = tempfile.mkdtemp(prefix="camwatch-full-")
        self.addCleanup(os.rmdir, mount_point)
        try:
            mounted = run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mount_point])
        except FileNotFoundError:
            self.skipTest("no mount command")
        if mounted.returncode != 0:
            self.skipTest("cannot mount a small tmpfs here: "
                          + mounted.stderr.decode(errors="replace").strip())
        self.addCleanup(run, ["umount", mount_point], check=True)
        path = os.path.join(mount_point, "log")
        result = run_to_end(SCENARIO, stdout=path)
        self.assertFullTeardown(result, status=OUTPUT_FAILURE,
                                stderr=write_error("No space left on device"))
        with open(path, "rb") as f:
            written = f.read()
        self.assertGreater(len(written), 32 * 1024, "the file system did not fill up")
        # What reached the file is lines; only the last may be cut by the full disk.
        body = written[:written.rfind(b"\n") + 1]
        for line in body.splitlines(keepends=True)[1:]:
            self.assertRegex(line, FRAME_LINE)

    def test_reader_gone_with_sigpipe_ignored_ends_the_run(self):
        with Camwatch(SCENARIO, stdin="pty", ignore_sigpipe=True) as cam:
            cam.wait_for_frames(2, BOTH)
            self.assertNotEqual(cam.terminal_attributes(), cam.attributes_before,
                                "single-key mode not set")
            cam.close_output()
            result = cam.finish()
            self.assertEqual(cam.terminal_attributes(), cam.attributes_before)
        self.assertFullTeardown(result, status=OUTPUT_FAILURE, stderr=write_error("Broken pipe"))

    def test_failure_message_when_the_open_fails_keeps_status_2(self):
        result = run_to_end("device vcam://0 open=fail\n", stdout="/dev/full")
        self.assertEqual(result.status, 2)
        self.assertEqual(result.stderr, write_error("No space left on device"))
        self.assertEqual(result.calls("oniShutdown"), [])


class ClosedDescriptorTest(CamwatchAssertions):
    def start_with_closed(self, descriptor, stdin="devnull", **setup):
        """Starts camwatch on FAST with `descriptor` closed, the others
        `stdin` and files."""
        folder = tempfile.TemporaryDirectory(prefix="camwatch-closed-")
        self.addCleanup(folder.cleanup)
        out = os.path.join(folder.name, "out")
        streams = {"stdin": stdin, "stdout": out, "stderr": None}
        streams[("stdin", "stdout", "stderr")[descriptor]] = "closed"
        cam = Camwatch(FAST, **streams, **setup)
        self.addCleanup(cam.close)
        cam.start()
        return cam, out

    def test_closed_stdout_fails_before_anything_starts(self):
        cam, _ = self.start_with_closed(1, stdin="pty")
        result = cam.finish()
        self.assertEqual(cam.terminal_attributes(), cam.attributes_before, "terminal changed")
        self.assertEqual(result.status, OUTPUT_FAILURE)
        self.assertEqual(result.stderr, write_error("Bad file descriptor"))
        self.assertFalse(os.path.exists(cam.trace_path), "the library was called")
        self.assertFalse(os.path.exists(cam.log_path), "the driver was loaded")

    def test_closed_stdin_is_no_key(self):
        # Untraced, so that the driver's log is the first file opened: it must
        # neither be taken for stdin nor lose its lines to /dev/null.
        cam, out = self.start_with_closed(0, tracer=False)
        result = self.assert_runs_on_dev_null(cam, out, 0, lines=2000)
        self.assertEqual(result.stderr, b"")
        self.assertEqual(result.log[:1], ["init"])
        self.assertIn("start vcam://0 depth", result.log)

    def test_closed_stderr_goes_to_dev_null(self):
        cam, out = self.start_with_closed(2)
        self.assert_runs_on_dev_null(cam, out, 2, lines=100)

    def assert_runs_on_dev_null(self, cam, out, descriptor, lines):
        """Closed at start, `descriptor` is /dev/null, stdout still the file
        `out`, and the run goes on until a signal."""
        wait_until(lambda: len(read_lines(out)) >= lines or not cam.running(),
                   "%d lines or the end" % lines)
        self.assertTrue(cam.running(), "the run ended by itself")
        self.assertEqual(os.readlink("/proc/%d/fd/%d" % (cam.pid, descriptor)), "/dev/null")
        self.assertEqual(os.readlink("/proc/%d/fd/1" % cam.pid), os.path.realpath(out))
        cam.send_signal(15)
        result = cam.finish()
        self.assertEqual(result.status, -15)
        return result


if __name__ == "__main__":
    unittest.main()
