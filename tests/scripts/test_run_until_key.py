"""scripts/run-until-key, which the fresh-root check drives the demo with."""

import os
import subprocess
import sys
import unittest

RUN_UNTIL_KEY = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "run-until-key")

# Prints "ready", then reads one key in raw mode and exits with the status given.
KEY_READER = """
import sys, termios, tty
tty.setraw(0)
print("ready", end="\\r\\n", flush=True)
key = sys.stdin.read(1)
print("key " + key, end="\\r\\n", flush=True)
sys.exit(int(sys.argv[1]))
"""


def run(*args, timeout=60):
    return subprocess.run([sys.executable, RUN_UNTIL_KEY, *args], capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=timeout)


class RunUntilKeyTest(unittest.TestCase):
    def test_one_key_after_the_line_and_a_clean_exit_pass(self):
        result = run("^ready", sys.executable, "-c", KEY_READER, "0")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"key q", result.stdout)

    def test_a_failing_exit_after_the_key_fails(self):
        result = run("^ready", sys.executable, "-c", KEY_READER, "3")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"status 3", result.stderr)

    def test_a_line_that_never_comes_fails_at_the_deadline(self):
        result = run("--wait", "1", "^never", "sh", "-c", "echo other; exec sleep 60", timeout=30)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no line matched", result.stderr)

    def test_a_command_that_ends_before_the_line_fails(self):
        result = run("^ready", "sh", "-c", "echo other")
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"no line matched", result.stderr)


if __name__ == "__main__":
    unittest.main()
