"""scripts/setup with apt, dpkg-query, id and sudo replaced by stand-ins.

The stand-ins record what they were asked to do and never change the machine;
the script always runs as a user other than root here.
"""

import os
import shutil
import tempfile
import unittest

from launcher import run

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SETUP = os.path.join(ROOT, "scripts", "setup")
# Real tools the script uses besides the stand-ins.
REAL_TOOLS = ["bash", "env", "sort", "grep", "sh", "cat"]

DPKG_QUERY = """#!/bin/sh
# Installed: the packages named in $INSTALLED.
for p in $INSTALLED; do
    [ "$p" = "$3" ] && { printf 'install ok installed'; exit 0; }
done
exit 1
"""
ID = "#!/bin/sh\necho 1000\n"
SUDO = """#!/bin/sh
# -n true succeeds unless $SUDO_NEEDS_PASSWORD; other commands are recorded.
if [ "$1" = -n ]; then [ -z "$SUDO_NEEDS_PASSWORD" ]; exit; fi
echo "$*" >>"$LOG"
"""


class SetupTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="setup-test-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.bin = os.path.join(self.folder, "bin")
        os.mkdir(self.bin)
        for tool in REAL_TOOLS:
            os.symlink(shutil.which(tool), os.path.join(self.bin, tool))
        self.write_tool("dpkg-query", DPKG_QUERY)
        self.write_tool("id", ID)
        self.write_tool("sudo", SUDO)
        self.log = os.path.join(self.folder, "log")

    def write_tool(self, name, text):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)

    def run_setup(self, *levels, installed="", **env):
        environment = {"PATH": self.bin, "LOG": self.log, "INSTALLED": installed}
        environment.update(env)
        return run([SETUP, *levels], env=environment, text=True, timeout=60)

    def sudo_calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def installed_by_apt(self):
        installs = [c for c in self.sudo_calls() if " install " in c]
        self.assertEqual(len(installs), 1, self.sudo_calls())
        return set(installs[0].split("--no-install-recommends ")[1].split())

    def test_build_is_the_default_and_installs_only_what_is_missing(self):
        result = self.run_setup(installed="cmake make")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.installed_by_apt(), {"g++", "pkg-config", "libopenni2-dev"})
        self.assertIn("installing 3 packages", result.stdout)
        self.assertTrue(any(" update" in c for c in self.sudo_calls()))

    def test_a_level_brings_the_levels_it_builds_on(self):
        result = self.run_setup("bench")
        self.assertEqual(result.returncode, 0, result.stderr)
        wanted = self.installed_by_apt()
        for package in ("libopenni2-dev", "libgtest-dev", "libbenchmark-dev", "valgrind"):
            self.assertIn(package, wanted)
        self.assertNotIn("lintian", wanted)
        self.assertNotIn("g++-mingw-w64-x86-64", wanted)

    def test_nothing_missing_leaves_apt_alone(self):
        everything = "cmake make g++ pkg-config libopenni2-dev"
        result = self.run_setup("build", installed=everything)
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(self.sudo_calls(), [])

    def test_dpkg_exclusion_covers_only_the_camera_library(self):
        self.run_setup()
        excludes = [c for c in self.sudo_calls() if "path-exclude" in c]
        self.assertEqual(len(excludes), 1, self.sudo_calls())
        self.assertIn("path-exclude=/usr/share/doc/libopenni2*/examples/*", excludes[0])

    def test_without_usable_sudo_it_names_the_packages_and_fails(self):
        # In this order: the second case takes sudo away for good.
        cases = {"sudo wants a password": lambda: None,
                 "no sudo": lambda: os.remove(os.path.join(self.bin, "sudo"))}
        for case, prepare in cases.items():
            with self.subTest(case):
                prepare()
                result = self.run_setup(installed="cmake make g++ pkg-config",
                                        SUDO_NEEDS_PASSWORD="yes")
                self.assertEqual(result.returncode, 1)
                self.assertIn("apt-get install --no-install-recommends libopenni2-dev",
                              result.stderr)
                self.assertEqual(self.sudo_calls(), [])

    def test_an_unknown_level_is_refused(self):
        result = self.run_setup("build", "bogus")
        self.assertEqual(result.returncode, 2)
        self.assertIn("usage", result.stderr)
        self.assertEqual(self.sudo_calls(), [])


if __name__ == "__main__":
    unittest.main()
