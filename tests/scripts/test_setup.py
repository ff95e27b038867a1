"""scripts/setup with apt, dpkg-query, dpkg-checkbuilddeps, id and sudo
replaced by stand-ins, and binfmt_misc by a folder.

The stand-ins record what they were asked to do and never change the machine;
the script always runs as a user other than root here.
"""

import os
import re
import shutil
import tempfile
import unittest

from launcher import run

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SETUP = os.path.join(ROOT, "scripts", "setup")
# Real tools the script uses besides the stand-ins.
REAL_TOOLS = ["bash", "env", "sort", "grep", "sed", "sh", "cat", "dirname"]

DPKG_QUERY = """#!/bin/sh
# Installed: the packages named in $INSTALLED.
for p in $INSTALLED; do
    [ "$p" = "$3" ] && { printf 'install ok installed'; exit 0; }
done
exit 1
"""
DPKG_CHECKBUILDDEPS = """#!/bin/sh
# Unmet: the packages on the line of $UNMET that starts with ARCHITECTURE:PROFILES
# and that the list given with -d names.
arch= profiles= depends=
while [ $# -gt 1 ]; do
    case "$1" in
        -a) arch="$2"; shift 2 ;; -P) profiles="$2"; shift 2 ;; -d) depends="$2"; shift 2 ;;
        *) shift ;;
    esac
done
[ -f "$1" ] || { echo "no control file: $1" >&2; exit 2; }
names=
for name in $(printf '%s\\n' "$UNMET" | sed -n "s/^$arch:$profiles //p"); do
    case ", $depends," in *", ${name%%:*}"[!a-z0-9.+-]*) names="${names:+$names }$name" ;; esac
done
[ -z "$names" ] && exit 0
echo "dpkg-checkbuilddeps: error: Unmet build dependencies: $names" >&2
exit 1
"""
ID = "#!/bin/sh\necho 1000\n"
HOSTNAME = "#!/bin/sh\necho testhost\n"
# Resolves the names in $RESOLVES only.
GETENT = """#!/bin/sh
for name in $RESOLVES; do [ "$name" = "$2" ] && { echo "127.0.1.1 $2"; exit 0; }; done
exit 2
"""
SUDO = """#!/bin/sh
# -n true succeeds unless $SUDO_NEEDS_PASSWORD; other commands are recorded
# with the folder they ran in. Their input is read, as tee's would be: a
# writer into the pipe must not meet a reader gone (SIGPIPE, status 141).
if [ "$1" = -n ]; then [ -z "$SUDO_NEEDS_PASSWORD" ]; exit; fi
echo "$* [in $(pwd)]" >>"$LOG"
cat >/dev/null
"""
BUILD_DEPENDS = (":nocheck cmake libopenni2-dev debhelper-compat\n"
                 ": cmake libopenni2-dev libgtest-dev debhelper-compat")
# What scripts/setup adds to the Build-Depends on this machine's architecture:
# a compiler, make, and dpkg-checkbuilddeps.
TOOLS = "g++, make, dpkg-dev"
# The Debian package's helper, which only the package level installs.
HELPER = "debhelper-compat (= 13)"


class SetupTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="setup-test-")
        self.addCleanup(shutil.rmtree, self.folder)
        self.bin = os.path.join(self.folder, "bin")
        os.mkdir(self.bin)
        for tool in REAL_TOOLS:
            os.symlink(shutil.which(tool), os.path.join(self.bin, tool))
        self.write_tool("dpkg-query", DPKG_QUERY)
        self.write_tool("dpkg-checkbuilddeps", DPKG_CHECKBUILDDEPS)
        self.write_tool("id", ID)
        self.write_tool("sudo", SUDO)
        self.write_tool("hostname", HOSTNAME)
        self.write_tool("getent", GETENT)
        self.etc = os.path.join(self.folder, "etc")
        os.mkdir(self.etc)
        self.log = os.path.join(self.folder, "log")
        self.binfmt = os.path.join(self.folder, "binfmt_misc")
        os.mkdir(self.binfmt)
        open(os.path.join(self.binfmt, "register"), "w").close()

    def write_tool(self, name, text):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write(text)
        os.chmod(path, 0o755)

    def emulator_entry(self, cpu, flags):
        with open(os.path.join(self.binfmt, "qemu-" + cpu), "w") as f:
            f.write("enabled\ninterpreter /usr/libexec/qemu-binfmt/%s-binfmt-P\n"
                    "flags: %s\n" % (cpu, flags))

    def run_setup(self, *levels, installed="", unmet=BUILD_DEPENDS, **env):
        environment = {"PATH": self.bin, "LOG": self.log, "INSTALLED": installed,
                       "UNMET": unmet, "CAMWATCH_BINFMT_MISC": self.binfmt,
                       "CAMWATCH_ETC": self.etc, "RESOLVES": ""}
        environment.update(env)
        return run([SETUP, *levels], env=environment, text=True, timeout=60)

    def sudo_calls(self):
        if not os.path.exists(self.log):
            return []
        with open(self.log) as f:
            return f.read().splitlines()

    def apt_calls(self, command):
        """The arguments after apt-get's options of each apt-get COMMAND run."""
        marker = "-o APT::Color=0 %s " % command
        return [c.split(marker)[1] for c in self.sudo_calls() if marker in c]

    def satisfied(self):
        """(options, the entries of the dependency string) of each apt-get satisfy."""
        calls = []
        for call in self.apt_calls("satisfy"):
            asked = call.split(" [in ")[0].split("--no-install-recommends ")[1]
            options, depends = re.match(r"((?:-[aP] \S+ ?)*)(.*)", asked).groups()
            calls.append((options.strip(), depends.split(", ")))
        return calls

    def installed_by_apt(self):
        installs = self.apt_calls("install")
        self.assertEqual(len(installs), 1, self.sudo_calls())
        return set(installs[0].split(" [in ")[0].split("--no-install-recommends ")[1].split())

    def test_build_is_the_default_and_installs_its_build_depends_without_the_helper(self):
        result = self.run_setup()
        self.assertEqual(result.returncode, 0, result.stderr)
        # debhelper-compat is no demo's: not asked for, not installed.
        self.assertIn("installing for build: cmake libopenni2-dev\n", result.stdout)
        self.assertEqual(self.apt_calls("build-dep") + self.apt_calls("install"), [])
        [(options, entries)] = self.satisfied()
        self.assertEqual(options, "-P nocheck")
        # The tools, then every entry of debian/control's field, restrictions
        # and all, but the package's helper.
        self.assertEqual(entries[:3], TOOLS.split(", "))
        self.assertNotIn(HELPER, entries)
        self.assertEqual({re.split(r"[\s:(<]", entry)[0] for entry in entries[3:]},
                         field("debian/control", "Build-Depends") - {"debhelper-compat"})
        self.assertIn("dash <!nocheck>", entries)
        self.assertIn("python3-pexpect:native <!nocheck>", entries)
        calls = self.sudo_calls()
        update = next(i for i, c in enumerate(calls) if " update " in c)
        satisfy = next(i for i, c in enumerate(calls) if " satisfy " in c)
        self.assertLess(update, satisfy, calls)

    def test_only_a_level_that_builds_the_package_gets_its_helper(self):
        self.emulator_entry("aarch64", "PF")
        for levels, helper in ((("test", "arm64"), False), (("package", "arm64"), True)):
            with self.subTest(levels=levels):
                if os.path.exists(self.log):
                    os.remove(self.log)
                result = self.run_setup(*levels, installed="crossbuild-essential-arm64 "
                                        "qemu-user-static binfmt-support lintian groff",
                                        unmet=BUILD_DEPENDS + "\narm64:cross libgtest-dev:arm64")
                self.assertEqual(result.returncode, 0, result.stderr)
                sets = dict(self.satisfied())
                native = "" if "test" in levels else "-P nocheck"
                self.assertEqual(set(sets), {native, "-a arm64 -P cross"})
                self.assertEqual(HELPER in sets[native], helper)
                self.assertNotIn(HELPER, sets["-a arm64 -P cross"])
                # A cross build's tools come with crossbuild-essential.
                self.assertEqual(sets[native][:3], TOOLS.split(", "))
                self.assertFalse(set(TOOLS.split(", ")) & set(sets["-a arm64 -P cross"]))
                self.assertEqual("debhelper-compat" in result.stdout, helper, result.stdout)

    def test_a_level_brings_the_levels_it_builds_on(self):
        result = self.run_setup("bench", "package", installed="groff")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.installed_by_apt(), {"libbenchmark-dev", "valgrind", "lintian"})
        # The whole Build-Depends, which hold the nocheck profile's.
        [(options, entries)] = self.satisfied()
        self.assertEqual(options, "")
        self.assertIn(HELPER, entries)

    def test_a_cross_level_adds_its_architecture_and_the_cross_build_depends(self):
        self.emulator_entry("aarch64", "PF")
        result = self.run_setup("arm64", unmet="arm64:cross libgtest-dev:arm64")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.installed_by_apt(),
                         {"crossbuild-essential-arm64", "qemu-user-static", "binfmt-support"})
        [(options, entries)] = self.satisfied()
        self.assertEqual(options, "-a arm64 -P cross")
        self.assertIn("libgtest-dev <!nocheck>", entries)
        calls = self.sudo_calls()
        architecture = next(i for i, c in enumerate(calls)
                            if c.startswith("dpkg --add-architecture arm64 "))
        update = next(i for i, c in enumerate(calls) if " update " in c)
        self.assertLess(architecture, update, calls)

    def test_nothing_missing_leaves_apt_alone(self):
        self.emulator_entry("aarch64", "PF")
        everything = "crossbuild-essential-arm64 qemu-user-static binfmt-support lintian groff"
        result = self.run_setup("build", "package", "arm64", installed=everything, unmet="")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(self.sudo_calls(), [])

    def test_without_dpkg_dev_the_build_depends_are_taken_as_missing(self):
        os.remove(os.path.join(self.bin, "dpkg-checkbuilddeps"))
        result = self.run_setup("test", unmet="")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(len(self.apt_calls("satisfy")), 1, self.sudo_calls())

    def test_dpkg_exclusion_covers_only_the_camera_library_and_comes_first(self):
        self.run_setup("package")
        calls = self.sudo_calls()
        excludes = [i for i, c in enumerate(calls) if "path-exclude" in c]
        self.assertEqual(len(excludes), 1, calls)
        self.assertIn("path-exclude=/usr/share/doc/libopenni2*/examples/*", calls[excludes[0]])
        first_apt = min(i for i, c in enumerate(calls) if "apt-get" in c)
        self.assertLess(excludes[0], first_apt, calls)

    def test_without_usable_sudo_it_names_what_to_run_and_fails(self):
        # In this order: the second case takes sudo away for good.
        cases = {"sudo wants a password": lambda: None,
                 "no sudo": lambda: os.remove(os.path.join(self.bin, "sudo"))}
        for case, prepare in cases.items():
            with self.subTest(case):
                prepare()
                result = self.run_setup("package", installed="groff",
                                        SUDO_NEEDS_PASSWORD="yes")
                self.assertEqual(result.returncode, 1)
                self.assertIn("lintian cmake libopenni2-dev", result.stderr)
                self.assertIn("apt-get install --no-install-recommends lintian\n",
                              result.stderr)
                self.assertIn("as root: apt-get satisfy --no-install-recommends -P nocheck "
                              "'%s, %s, cmake, " % (TOOLS, HELPER), result.stderr)
                self.assertEqual(self.sudo_calls(), [])

    def test_an_emulator_entry_with_the_open_binary_flag_is_registered_again(self):
        # As systemd-binfmt registers qemu-user-static's entry; with no entry
        # at all the same is asked.
        for case, flags in {"with O": "OPF", "no entry": None}.items():
            with self.subTest(case):
                if os.path.exists(self.log):
                    os.remove(self.log)
                if flags:
                    self.emulator_entry("arm", flags)
                else:
                    os.remove(os.path.join(self.binfmt, "qemu-arm"))
                result = self.run_setup(
                    "armhf", installed="crossbuild-essential-armhf qemu-user-static binfmt-support",
                    unmet="")
                self.assertEqual(result.returncode, 0, result.stderr)
                binfmt = [c.split(" [in ")[0] for c in self.sudo_calls() if "update-binfmts" in c]
                self.assertEqual(binfmt, ["update-binfmts --import qemu-arm",
                                          "update-binfmts --disable qemu-arm",
                                          "update-binfmts --enable qemu-arm"])
                # The stand-ins changed nothing, so the entry still does not serve.
                self.assertIn("qemu-arm-static -L / PROGRAM", result.stderr)
                self.assertEqual(self.apt_calls("install") + self.apt_calls("satisfy"), [])

    def test_ci_gives_root_subordinate_ids_and_a_host_name_even_with_every_package(self):
        # sbuild and autopkgtest need both before the first package build; a
        # machine where every package is already there must still get them.
        self.emulator_entry("aarch64", "PF")
        self.emulator_entry("arm", "PF")
        everything = " ".join(
            run(["bash", "-c", 'sed -n "s/^    \\[[a-z0-9]*\\]=\\"\\(.*\\)\\"$/\\1/p" ' + SETUP],
                text=True).stdout.split())
        with open(os.path.join(self.etc, "subuid"), "w") as f:
            f.write("user:100000:65536\n")
        with open(os.path.join(self.etc, "subgid"), "w") as f:
            f.write("root:1000000:65536\n")
        result = self.run_setup("ci", installed=everything, unmet="")
        self.assertEqual(result.returncode, 0, result.stderr)
        written = [c.split(" [in ")[0] for c in self.sudo_calls()]
        self.assertEqual(written, ["tee -a %s/hosts" % self.etc, "tee -a %s/subuid" % self.etc])
        self.assertEqual(self.apt_calls("install") + self.apt_calls("satisfy"), [])

        os.remove(self.log)
        with open(os.path.join(self.etc, "subuid"), "a") as f:
            f.write("root:1000000:65536\n")
        result = self.run_setup("ci", installed=everything, unmet="", RESOLVES="testhost")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(self.sudo_calls(), [])

    def test_an_unknown_level_is_refused(self):
        for level in ("bogus", "a]b", ""):
            with self.subTest(level):
                result = self.run_setup("build", level)
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage", result.stderr)
                self.assertEqual(self.sudo_calls(), [])


def field(path, name):
    """The package names of a control file's fields of that name, in every
    stanza, architectures and restrictions left out."""
    with open(os.path.join(ROOT, path)) as f:
        text = f.read()
    values = re.findall(r"^%s:(.*?)(?=^\S|\Z)" % name, text, re.MULTILINE | re.DOTALL)
    return {re.split(r"[\s:(<]", item.strip())[0]
            for value in values for item in value.split(",") if item.strip()}


class ToolsTest(unittest.TestCase):
    def test_the_tools_it_adds_are_met_once_installed(self):
        # As dpkg-checkbuilddeps reads them: an architecture qualifier it
        # refuses (dpkg-dev:native) would leave them unmet for good,
        # and every run of the demo would ask for root to install nothing.
        # The test level installs them.
        control = os.path.join(ROOT, "debian", "control")
        result = run(["dpkg-checkbuilddeps", "-d", TOOLS, control], text=True, timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)


class AutopkgtestDependsTest(unittest.TestCase):
    def test_the_package_tests_need_nothing_the_build_depends_leave_out(self):
        # The installed packages' tests need a part of the one list besides
        # the packages under test; g++ and make are what scripts/setup adds
        # to it.
        built = field("debian/control", "Package")
        needed = field("debian/tests/control", "Depends") - built - {"g++", "make"}
        # Every test's field is read, the end-to-end one's too.
        self.assertIn("python3-pexpect", needed)
        self.assertLessEqual(needed, field("debian/control", "Build-Depends"))


if __name__ == "__main__":
    unittest.main()
