"""scripts/demo in a terminal: what was typed while it built does not end the
run; a key pressed once camwatch runs does.

The demo is run from a copy of itself beside a stand-in for scripts/setup, with
a stand-in for cmake first on PATH that waits, "building", until the test has
typed; its build folder is the build tree under test, where camwatch and the
virtual camera come from.
"""

import os
import re
import shutil
import stat
import tempfile
import unittest

from launcher import Process

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
# Blocks on the FIFO until the test opens it, after its keys are typed.
CMAKE_STAND_IN = """#!/bin/sh
echo building >&2
: <"$DEMO_TEST_FIFO"
"""
SETUP_STAND_IN = "#!/bin/sh\n"
SCENARIO = "device vcam://0\ndepth width=4 height=4 fps=30 middle=77\n"
FRAME = re.compile(rb"\] Depth middle index +77\r\n")


class DemoTest(unittest.TestCase):
    def setUp(self):
        self.build = os.environ.get("CAMWATCH_BUILD_DIR")
        if not self.build:
            self.skipTest("CAMWATCH_BUILD_DIR is not set (run through ctest)")

    def start_demo(self, folder):
        os.makedirs(os.path.join(folder, "scripts"))
        shutil.copy(os.path.join(SCRIPTS, "demo"), os.path.join(folder, "scripts", "demo"))
        os.makedirs(os.path.join(folder, "bin"))
        for path, text in ((("scripts", "setup"), SETUP_STAND_IN),
                           (("bin", "cmake"), CMAKE_STAND_IN)):
            stand_in = os.path.join(folder, *path)
            with open(stand_in, "w") as f:
                f.write(text)
            os.chmod(stand_in, stat.S_IRWXU)
        os.symlink(self.build, os.path.join(folder, "build"))
        scenario = os.path.join(folder, "small.vcam")
        with open(scenario, "w") as f:
            f.write(SCENARIO)
        fifo = os.path.join(folder, "built")
        os.mkfifo(fifo)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("VCAM_", "LD_"))}
        env.update(PATH=os.path.join(folder, "bin") + os.pathsep + env["PATH"],
                   VCAM_SCENARIO=scenario, DEMO_TEST_FIFO=fifo)
        demo = Process([os.path.join(folder, "scripts", "demo")], env=env, stdin="pty",
                       stdout="pty", stderr="stdout", prefix=())
        demo.start()
        self.addCleanup(demo.close)
        return demo, fifo

    def test_keys_typed_while_it_builds_do_not_end_the_run(self):
        with tempfile.TemporaryDirectory() as folder:
            demo, fifo = self.start_demo(folder)
            demo.wait_for_text(b"building", timeout=30)
            # A whole line and one still being typed, both pending.
            demo.press_key(b"q\nabc")
            # Typed into the terminal before the build "ends": wait until the
            # line discipline holds it, seen through its echo.
            demo.wait_for_text(b"abc", timeout=30)
            os.close(os.open(fifo, os.O_WRONLY))
            demo.wait_for_text(b'Device "vcam://0" already connected', timeout=30)
            demo.wait_for(lambda out: len(FRAME.findall(out)) >= 3, timeout=30,
                          what="three frame lines")
            self.assertTrue(demo.running())
            demo.press_key(b"k")
            self.assertEqual(demo.finish(timeout=30), 0)


if __name__ == "__main__":
    unittest.main()
