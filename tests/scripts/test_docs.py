"""The user documents against each other and against the tree.

The README shows camwatch's output and options, the man pages list its
statuses and messages, and the READMEs name scripts, options, levels, labels,
sections and paths: a change to one side that the other misses is caught here.
Nothing is built; camwatch runs on the virtual camera and camwatch-vcam on
stand-in programs, when ctest gives their paths.
"""

import os
import re
import stat
import tempfile
import unittest

from camwatch_run import Camwatch
from launcher import run

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
READMES = ["README.md", "HACKING.md", "tests/e2e/README.md", "tools/vcam/README.md",
           "tools/tracer/README.md"]
ROFF_ESCAPES = {r"\(dq": '"', r"\(aq": "'", r"\(mu": "x", r"\-": "-", r"\ ": " ", r"\e": "\\"}


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def section(text, heading, level="## "):
    """The body of a Markdown section, up to the next heading of its level."""
    match = re.search(r"^%s%s\n(.*?)(?=^%s|\Z)" % (re.escape(level), re.escape(heading), level),
                      text, re.MULTILINE | re.DOTALL)
    if not match:
        raise AssertionError("no section %r" % heading)
    return match.group(1)


def first_column(table):
    return [line.split("|")[1] for line in table.splitlines()
            if line.startswith("|") and not line.startswith("|---")][1:]


def man_source(page, name):
    match = re.search(r'^\.SH "?%s"?\n(.*?)(?=^\.SH |\Z)' % re.escape(name), read(page),
                      re.MULTILINE | re.DOTALL)
    if not match:
        raise AssertionError("%s has no section %s" % (page, name))
    return match.group(1)


def man_statuses(page):
    return set(re.findall(r"^\.TP\n\.B (\d+)$", man_source(page, "EXIT STATUS"), re.MULTILINE))


def man_section(page, name):
    """A man page section as plain text: font macros and escapes gone, blanks folded."""
    return plain_roff(man_source(page, name))


def plain_roff(source):
    lines = []
    for line in source.splitlines():
        font = re.match(r"\.(B|I|BI|IB|BR|RB|IR|RI)\s+(.*)", line)
        if font:
            words = [word[1:-1] if word.startswith('"') else word
                     for word in re.findall(r'"[^"]*"|\S+', font.group(2))]
            line = (" " if len(font.group(1)) == 1 else "").join(words)
        elif line.startswith("."):
            line = ""
        lines.append(line)
    text = re.sub(r"\\f[BIRP]", "", "\n".join(lines))
    for escape, plain in ROFF_ESCAPES.items():
        text = text.replace(escape, plain)
    return re.sub(r"\s+", " ", text)


def code_lines(text):
    """Lines of fenced or indented code, and the code spans of the prose."""
    fenced = re.findall(r"^```[a-z]*\n(.*?)^```", text, re.MULTILINE | re.DOTALL)
    indented = re.findall(r"^(?: {4}|\t)(.*)$", text, re.MULTILINE)
    spans = re.findall(r"`([^`\n]+)`", text)
    return "\n".join(fenced).splitlines() + indented + spans


def src_literals(pattern, names=None):
    """What `pattern` finds in the program's sources (or those named)."""
    found = set()
    folder = os.path.join(ROOT, "src")
    for name in names or os.listdir(folder):
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            found.update(re.findall(pattern, f.read()))
    return found


def fenced_block(text, heading):
    """The first fenced block of a README section."""
    match = re.search(r"^```\n(.*?)^```", section(text, heading), re.MULTILINE | re.DOTALL)
    if not match:
        raise AssertionError("no fenced block under %r" % heading)
    return match.group(1)


class ReadmeTest(unittest.TestCase):
    """What the README shows of camwatch is what camwatch does."""

    def test_the_sample_output_is_the_demos(self):
        intro = read("README.md").split("\n## ", 1)[0]
        sample = re.search(r"^```\n(.*?)^```", intro, re.MULTILINE | re.DOTALL).group(1)
        wanted = sample.encode().splitlines(keepends=True)
        with Camwatch(read("tools/vcam/scenarios/demo.vcam")) as cam:
            # The demo's second camera is gone after six seconds.
            cam.wait_for(lambda out: all(line in out.splitlines(keepends=True)
                                         for line in wanted),
                         timeout=30, what="the README's sample lines")
            cam.press_key()
            result = cam.finish()
        self.assertEqual(result.status, 0)
        lines = result.output.splitlines(keepends=True)
        # Each kind of line in the README's order.
        for kind in (b"Depth", b"Color", b"Device"):
            shown = [line for line in wanted if kind in line]
            self.assertEqual([line for line in lines if line in shown][:len(shown)], shown)

    def test_the_options_are_what_camwatch_help_prints(self):
        binary = os.environ.get("CAMWATCH_BIN")
        if not binary:
            self.skipTest("CAMWATCH_BIN is not set (run through ctest)")
        printed = run([binary, "--help"], timeout=30, text=True)
        self.assertEqual(printed.returncode, 0)
        self.assertEqual(fenced_block(read("README.md"), "Options"), printed.stdout)

    def test_man_sections_it_names_exist(self):
        for readme in READMES:
            for page, name in re.findall(r"`man (camwatch(?:-vcam)?)` \(([A-Z][A-Z ]+)\)",
                                         read(readme)):
                with self.subTest(readme=readme, section=name):
                    man_source("man/%s.1" % page, name)


class CamwatchPageTest(unittest.TestCase):
    def test_the_exit_statuses_are_the_programs(self):
        statuses = src_literals(r"constexpr int k\w+ = (\d+);", ["ExitStatus.h"])
        self.assertEqual(statuses, man_statuses("man/camwatch.1"))

    def test_the_messages_on_standard_error_are_in_the_man_page(self):
        # A write error's reason is the system's: only its fixed start is ours.
        # Pieces of messages put together in the code start with no word.
        messages = {re.sub(r"(error:).*|\\n", lambda m: m.group(1) or "", message)
                    for message in src_literals(r'"(camwatch: [a-z][^"%]*)')}
        self.assertTrue(messages)
        page = plain_roff(read("man/camwatch.1"))
        for message in messages:
            with self.subTest(message=message):
                self.assertIn(message.strip(), page)


class CamwatchVcamStatusTest(unittest.TestCase):
    def test_every_status_of_its_own_is_in_the_man_page(self):
        command = os.environ.get("CAMWATCH_VCAM")
        if not command:
            self.skipTest("CAMWATCH_VCAM is not set (run through ctest)")
        with tempfile.TemporaryDirectory() as folder:
            scenario = os.path.join(folder, "one.vcam")
            with open(scenario, "w") as f:
                f.write("device vcam://0\n")
            runs = [["-x"],                                        # a wrong option
                    ["-s", os.path.join(folder, "none.vcam")],     # no scenario
                    ["-s", scenario, scenario],                    # not executable
                    ["-s", scenario, os.path.join(folder, "absent")]]
            seen = {str(run([command, *args], timeout=30).returncode) for args in runs}
        self.assertEqual(seen, man_statuses("man/camwatch-vcam.1"))


class NamesInTheReadmesTest(unittest.TestCase):
    def commands(self):
        for readme in READMES:
            for line in code_lines(read(readme)):
                yield readme, line

    def test_scripts_and_their_options_exist(self):
        for readme, line in self.commands():
            for script, options in re.findall(r"(?<![\w/])(scripts/[a-z-]+)((?: +--?[a-z][\w-]*)*)",
                                              line):
                with self.subTest(readme=readme, command=script + options):
                    path = os.path.join(ROOT, script)
                    self.assertTrue(os.stat(path).st_mode & stat.S_IXUSR)
                    for option in options.split():
                        self.assertIn(option, read(script))

    def test_setup_levels_exist(self):
        levels = run([os.path.join(ROOT, "scripts/setup"), "--levels"], check=True,
                     text=True).stdout.split()
        for readme, line in self.commands():
            for level in re.findall(r"scripts/setup ([a-z][\w-]*)", line):
                with self.subTest(readme=readme, level=level):
                    self.assertIn(level, levels)

    def test_ctest_labels_exist(self):
        labels = set()
        for folder, folders, files in os.walk(ROOT):
            folders[:] = [name for name in folders if not name.startswith(("build", ".git"))]
            if "CMakeLists.txt" in files:
                with open(os.path.join(folder, "CMakeLists.txt")) as f:
                    for found in re.findall(r'LABELS "?([\w;]+)', f.read()):
                        labels.update(found.split(";"))
        for readme in READMES:
            for label in re.findall(r"ctest [^\n`]*-L (\w+)", read(readme)):
                with self.subTest(readme=readme, label=label):
                    self.assertIn(label, labels)

    def test_builds_are_configured_through_a_preset(self):
        # By hand, the cache decides what is left out: a tree that the demo
        # configured keeps no tests. A preset says it each time.
        presets = re.findall(r'"name": "([\w-]+)"', read("CMakePresets.json"))
        for readme, line in self.commands():
            with self.subTest(readme=readme, line=line):
                self.assertNotRegex(line, r"cmake -S ")
                for preset in re.findall(r"--preset[ =]([\w-]+)", line):
                    self.assertIn(preset, presets)

    def test_paths_are_in_the_tree_or_made_by_the_build(self):
        top = "scripts|tools|tests|bench|man|debian|packaging|cmake|src|\\.ci"
        for readme in READMES:
            for path in re.findall(r"`((?:%s)/[\w./-]*)`" % top, read(readme)):
                with self.subTest(readme=readme, path=path):
                    folder, name = os.path.split(path.rstrip("/"))
                    made = os.path.exists(os.path.join(ROOT, folder, "CMakeLists.txt")) and \
                        re.search(r"add_executable\(%s\b" % re.escape(name),
                                  read(os.path.join(folder, "CMakeLists.txt")))
                    self.assertTrue(os.path.exists(os.path.join(ROOT, path)) or made, path)


if __name__ == "__main__":
    unittest.main()
