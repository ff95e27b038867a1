"""The launcher every suite starts programs with: its command-line entry, which
the fresh-root check drives the demo with, and what a wrong descriptor, prefix,
status or deadline there would hide from every suite."""

import os
import sys
import unittest

import launcher

ENTRY = launcher.__file__

# Prints "ready", then reads one key in raw mode and exits with the status given.
KEY_READER = """
import sys, termios, tty
tty.setraw(0)
print("ready", end="\\r\\n", flush=True)
key = sys.stdin.read(1)
print("key " + key, end="\\r\\n", flush=True)
sys.exit(int(sys.argv[1]))
"""


def python(code, *args):
    return [sys.executable, "-c", code, *args]


def entry(*args, timeout=90):
    return launcher.run([sys.executable, ENTRY, *args], timeout=timeout)


class CommandLineTest(unittest.TestCase):
    def test_one_key_after_the_line_and_a_clean_exit_pass(self):
        result = entry("--until", "^ready$", "--", *python(KEY_READER, "0"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"key q", result.stdout)
        self.assertRegex(result.stdout, rb"\nfigure: .*: the line came \d+\.\d s after the start\n")

    def test_a_failing_exit_after_the_key_fails(self):
        result = entry("--until", "^ready", "--", *python(KEY_READER, "3"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"status 3", result.stderr)

    def test_a_line_that_never_comes_fails_at_the_deadline(self):
        result = entry("--wait", "1", "--until", "^never", "--", "sh", "-c",
                       "echo other; exec sleep 60")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no line matched", result.stderr)

    def test_a_command_that_ends_before_the_line_fails(self):
        result = entry("--until", "^ready", "--", "sh", "-c", "echo other")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no line matched", result.stderr)

    def test_the_terminal_is_every_standard_descriptor_and_controls_the_command(self):
        show = ("import os, sys, tty\n"
                "names = {os.ttyname(fd) for fd in (0, 1, 2)}\n"
                "foreground = os.tcgetpgrp(0) == os.getpgrp()\n"
                "tty.setraw(0)\n"
                "print(len(names), foreground, end='\\r\\n', flush=True)\n"
                "sys.stdin.read(1)\n")
        result = entry("--until", "^1 True", "--", *python(show))
        self.assertEqual(result.returncode, 0, result.stderr)


class ProcessTest(unittest.TestCase):
    def test_each_standard_descriptor_can_be_closed(self):
        probe = ("import os\n"
                 "for fd in (0, 2):\n"
                 "    try:\n"
                 "        os.fstat(fd)\n"
                 "    except OSError:\n"
                 "        os.write(1, b'closed %d\\n' % fd)\n")
        for fd, closed in ((0, "stdin"), (2, "stderr")):
            with self.subTest(closed=closed):
                result = launcher.run(python(probe), **{closed: "closed"})
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, b"closed %d\n" % fd)
        # With stdout closed the program's first write to it fails.
        result = launcher.run(python("import os; os.write(1, b'x')"), stdout="closed")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(b"Bad file descriptor", result.stderr)

    def test_nothing_but_the_standard_descriptors_is_inherited(self):
        leaked_reader, leaked_writer = os.pipe()
        os.set_inheritable(leaked_reader, True)
        self.addCleanup(os.close, leaked_reader)
        self.addCleanup(os.close, leaked_writer)
        result = launcher.run(python("import os, sys; os.fstat(int(sys.argv[1]))",
                                     str(leaked_reader)))
        self.assertIn(b"Bad file descriptor", result.stderr)

    def test_the_prefix_comes_first_and_the_suite_prefix_from_the_environment(self):
        echo = python("import sys; print(' '.join(sys.argv[1:]))")
        with launcher.Process(["a", "b"], prefix=echo) as process:
            self.assertEqual(process.finish(), 0)
        self.assertEqual(process.output, b"a b\n")
        os.environ[launcher.PREFIX_VARIABLE] = "env X=1"
        self.addCleanup(os.environ.pop, launcher.PREFIX_VARIABLE)
        with launcher.Process(["sh", "-c", "echo $X"], prefix=None) as process:
            process.finish()
        self.assertEqual(process.output, b"1\n")
        # Tools the tests run for themselves are never under it.
        self.assertEqual(launcher.run(["sh", "-c", "echo ${X:-none}"]).stdout, b"none\n")

    def test_status_signal_and_resource_usage(self):
        spin = python("import sys\nsum(range(3_000_000))\nsys.exit(4)")
        result = launcher.run(spin)
        self.assertEqual(result.returncode, 4)
        self.assertGreater(result.rusage.ru_utime + result.rusage.ru_stime, 0.01)
        with launcher.Process(["sleep", "60"]) as process:
            process.send_signal(15)
            self.assertEqual(process.finish(), -15)

    def test_a_missing_program_raises_at_start(self):
        with self.assertRaises(FileNotFoundError):
            launcher.run(["/nonexistent/program"])

    def test_a_hang_is_killed_at_its_deadline_with_its_stacks(self):
        with launcher.Process(["sleep", "60"], stdout=os.devnull) as process:
            with self.assertRaises(launcher.Hang) as hang:
                process.finish(timeout=0.5)
            self.assertFalse(process.running())
        self.assertRegex(hang.exception.stacks, launcher.stack_pattern())

    def test_stdin_kinds(self):
        cat = ["cat"]
        self.assertEqual(launcher.run(cat, stdin="file", stdin_bytes=b"abc").stdout, b"abc")
        self.assertEqual(launcher.run(cat).stdout, b"")
        with launcher.Process(cat, stdin="pipe", key_before_start=True) as process:
            process.close_input()
            self.assertEqual(process.finish(), 0)
        self.assertEqual(process.output, b"k")


if __name__ == "__main__":
    unittest.main()
