"""camwatch-vcam as configured by the build: what the program it runs is given.

The program is a stand-in that prints its arguments and the two variables the
command sets; the virtual camera itself is run by the package checks.
"""

import os
import shutil
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
        env = {k: v for k, v in os.environ.items() if k != "VCAM_SCENARIO"}
        result = self.run_vcam(*SHOW, env=env)
        # Before installation the demo is not there yet, and the message names it.
        if result.returncode == 0:
            self.assertTrue(
                result.stdout.splitlines()[1].endswith("/share/camwatch-vcam/demo.vcam"))
        else:
            self.assertRegex(result.stderr, r"the scenario /\S*/share/camwatch-vcam/demo\.vcam: ")

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

    def test_help_on_standard_output(self):
        for option in ("-h", "--help"):
            with self.subTest(option=option):
                result = self.run_vcam(option, *SHOW)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stderr, "")
                self.assertTrue(result.stdout.startswith("usage: camwatch-vcam [-s SCENARIO]"),
                                result.stdout)
                self.assertIn("-h, --help", result.stdout)
                self.assertIn("VCAM_SCENARIO", result.stdout)

    def test_options_after_the_program_are_the_programs(self):
        result = self.run_vcam("-s", DEMO, *SHOW, "--help", "-h")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines()[2:], ["--help", "-h"])

    def test_vcam_scenario_is_played_unless_s_names_another(self):
        with tempfile.TemporaryDirectory() as folder:
            mine = os.path.join(folder, "mine.vcam")
            with open(mine, "w") as f:
                f.write("device vcam://mine\n")
            for args, env, played in (
                    ((), {"VCAM_SCENARIO": mine}, mine),
                    ((), {"VCAM_SCENARIO": "mine.vcam", "PWD": folder}, mine),
                    (("-s", DEMO), {"VCAM_SCENARIO": mine}, DEMO),
                    (("-s", DEMO), {"VCAM_SCENARIO": ""}, DEMO)):
                with self.subTest(args=args, env=env):
                    result = self.run_vcam(*args, *SHOW, cwd=folder,
                                           env=dict(os.environ, **env))
                    self.assertEqual(result.returncode, 0, result.stderr)
                    self.assertEqual(result.stdout.splitlines()[1], played)

    def assertRefused(self, result, message):
        self.assertEqual(result.returncode, 2)
        self.assertEqual(result.stdout, "")
        self.assertIn(message, result.stderr)

    def test_refuses_a_scenario_it_cannot_read_or_a_wrong_option(self):
        with tempfile.TemporaryDirectory() as folder:
            missing = os.path.join(folder, "x.vcam")
            for args, env, message in (
                    (["-s", missing, *SHOW], {}, missing + ": no such file"),
                    (SHOW, {"VCAM_SCENARIO": missing}, missing + ": no such file"),
                    (["-s", folder, *SHOW], {}, folder + ": it is a directory"),
                    (["-x", *SHOW], {}, "unknown option -x"),
                    (["--scenario=x", *SHOW], {}, "unknown option --scenario=x"),
                    (["-s"], {}, "-s needs a scenario file")):
                with self.subTest(args=args, env=env):
                    self.assertRefused(self.run_vcam(*args, env=dict(os.environ, **env)),
                                       message)

    def test_refuses_a_scenario_its_user_may_not_read(self):
        with tempfile.TemporaryDirectory() as folder:
            os.chmod(folder, 0o755)
            secret = os.path.join(folder, "secret.vcam")
            with open(secret, "w") as f:
                f.write("device vcam://0\n")
            os.chmod(secret, 0)
            vcam = [command()]
            if os.geteuid() == 0:
                # root reads every file: run as a user who cannot, from a copy
                # that user may run.
                copy = os.path.join(folder, "camwatch-vcam")
                shutil.copy(command(), copy)
                os.chmod(copy, 0o755)
                vcam = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", copy]
            result = run([*vcam, "-s", secret, *SHOW], text=True, timeout=30)
            self.assertRefused(result, secret + ": permission denied")

    def test_with_no_program_named_it_runs_camwatch_only_where_installed(self):
        # camwatch-vcam is packaged apart: camwatch may be missing from PATH.
        with tempfile.TemporaryDirectory() as folder:
            env = dict(os.environ, PATH=folder)
            for args in ((), ("-s", DEMO), ("--",)):
                with self.subTest(args=args, camwatch="missing"):
                    result = self.run_vcam(*args, env=env)
                    self.assertEqual(result.returncode, 127)
                    self.assertEqual(result.stdout, "")
                    self.assertEqual(result.stderr, "camwatch-vcam: camwatch is not installed; "
                                     "name an OpenNI2 program to run, or install camwatch\n")
            stand_in = os.path.join(folder, "camwatch")
            with open(stand_in, "w") as f:
                f.write('#!/bin/sh\necho "camwatch $#: $VCAM_SCENARIO"\n')
            os.chmod(stand_in, 0o755)
            with self.subTest(camwatch="installed"):
                result = self.run_vcam("-s", DEMO, env=env)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout, "camwatch 0: %s\n" % DEMO)

    def test_the_program_status_is_the_commands(self):
        result = self.run_vcam("-s", DEMO, "sh", "-c", "exit 7")
        self.assertEqual(result.returncode, 7)


if __name__ == "__main__":
    unittest.main()
