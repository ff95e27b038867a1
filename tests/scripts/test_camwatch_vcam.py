"""camwatch-vcam as configured by the build: what the program it runs is given.

The program is a stand-in that prints its arguments and the two variables the
command sets; the virtual camera itself is run by the package checks.
"""

import os
import tempfile
import unittest

from launcher import run

DEMO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "vcam",
                    "scenarios", "demo.vcam")
SHOW = ["sh", "-c", 'printf "%s\\n" "$LD_LIBRARY_PATH" "$VCAM_SCENARIO" "$@"', "show"]


def command():
    path = os.environ.get("CAMWATCH_VCAM")
    if not path:
        raise unittest.SkipTest("CAMWATCH_VCAM is not set (run through ctest)")
    return path


class CamwatchVcamTest(unittest.TestCase):
    def run_vcam(self, *args, cwd=None, env=None):
        return run([command(), *args], text=True, cwd=cwd, env=env, timeout=30)

    def test_runs_the_program_with_the_virtual_camera_first(self):
        env = dict(os.environ, LD_LIBRARY_PATH="/opt/other")
        result = self.run_vcam("-s", DEMO, *SHOW, "one", "two words", env=env)
        self.assertEqual(result.returncode, 0, result.stderr)
        library_path, scenario, *args = result.stdout.splitlines()
        folders = library_path.split(":")
        self.assertTrue(folders[0].endswith("/camwatch/vcam"), library_path)
        self.assertEqual(folders[1:], ["/opt/other"])
        self.assertEqual(scenario, DEMO)
        self.assertEqual(args, ["one", "two words"])

    def test_the_default_scenario_is_the_installed_demo(self):
        result = self.run_vcam(*SHOW)
        # Before installation the demo is not there yet, and the message names it.
        named = result.stdout.splitlines()[1] if result.returncode == 0 else result.stderr
        self.assertTrue(named.rstrip().endswith("/share/camwatch/demo.vcam"), named)

    def test_a_relative_scenario_is_made_absolute(self):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "mine.vcam"), "w") as f:
                f.write("device vcam://0\n")
            env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
            env["PWD"] = folder
            result = self.run_vcam("-s", "mine.vcam", *SHOW, cwd=folder, env=env)
            self.assertEqual(result.returncode, 0, result.stderr)
            library_path, scenario = result.stdout.splitlines()
            self.assertNotIn(":", library_path)
            self.assertEqual(scenario, os.path.join(folder, "mine.vcam"))

    def test_refuses_a_missing_scenario_or_a_wrong_option(self):
        for args in (["-s", "/nonexistent/x.vcam"], ["-x"]):
            with self.subTest(args=args):
                result = self.run_vcam(*args, *SHOW)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, "")
                self.assertTrue(result.stderr)

    def test_the_program_status_is_the_commands(self):
        result = self.run_vcam("-s", DEMO, "sh", "-c", "exit 7")
        self.assertEqual(result.returncode, 7)


if __name__ == "__main__":
    unittest.main()
