#!/usr/bin/env python3
"""Checks the camwatch Debian package: usage test_package.py <deb>.

Its metadata and contents, then an extraction into a throwaway root (dpkg -x)
and a run of the installed binary on the installed virtual camera until a key. tests/lib
must be on PYTHONPATH.
"""

import gzip
import os
import re
import sys
import tempfile

from camwatch_run import Camwatch
from launcher import run

LIBRARY = "usr/lib/x86_64-linux-gnu/libOpenNI2.so.0"
EXPECTED_FILES = {
    "./usr/bin/camwatch",
    "./usr/bin/camwatch-vcam",
    "./usr/lib/x86_64-linux-gnu/camwatch/vcam/libOpenNI2.so.0",
    "./usr/lib/x86_64-linux-gnu/camwatch/vcam/OpenNI2/Drivers/libvcam.so.0",
    "./usr/share/camwatch/demo.vcam",
    "./usr/share/doc/camwatch/changelog.gz",
    "./usr/share/doc/camwatch/copyright",
    "./usr/share/man/man1/camwatch-vcam.1.gz",
    "./usr/share/man/man1/camwatch.1.gz",
}


def fail(message):
    print("package: FAIL: " + message)
    sys.exit(1)


def check_metadata(deb):
    depends = run(["dpkg-deb", "-f", deb, "Depends"], check=True, text=True).stdout
    if not re.search(r"(^|, )libopenni2-0( |,|$)", depends):
        fail("Depends lacks libopenni2-0: " + depends)
    listing = run(["dpkg-deb", "-c", deb], check=True, text=True).stdout
    files = {line.split(" -> ")[0].split()[-1] for line in listing.splitlines()
             if not line.startswith("d")}
    if files != EXPECTED_FILES:
        fail("package holds %r, expected %r" % (sorted(files), sorted(EXPECTED_FILES)))
    print("package: depends on " + depends.strip())


def check_man_page(root):
    # The page itself is linted by scripts/check man; here it must only be the
    # same page, compressed.
    with gzip.open(os.path.join(root, "usr/share/man/man1/camwatch.1.gz")) as f:
        installed = f.read()
    with open(os.path.join(os.path.dirname(__file__), "..", "man", "camwatch.1"), "rb") as f:
        if f.read() != installed:
            fail("installed man page differs from man/camwatch.1")


def run_installed(root, runtime):
    binary = os.path.join(root, "usr/bin/camwatch")
    with Camwatch(binary=binary, runtime=runtime, tracer=False) as cam:
        cam.wait_for_frames(10, timeout=20)
        cam.press_key()
        result = cam.finish(timeout=20)
    if result.status != 0:
        fail("installed camwatch exited %d: %r" % (result.status, result.stderr[-500:]))
    if not result.output.startswith(b'Device "vcam://0" already connected\n'):
        fail("installed camwatch printed %r" % result.output[:300])
    print("package: installed camwatch ran, %d frame lines, exit 0" % len(result.frame_lines()))


def main(deb):
    check_metadata(deb)
    with tempfile.TemporaryDirectory(prefix="camwatch-root-") as root:
        run(["dpkg", "-x", deb, root], check=True)
        check_man_page(root)
        # The camera library where an installed system has it, for the
        # package's relative link to it.
        os.symlink("/" + LIBRARY, os.path.join(root, LIBRARY))
        run_installed(root, os.path.join(root, "usr/lib/x86_64-linux-gnu/camwatch/vcam"))
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__.split("\n")[0])
    sys.exit(main(sys.argv[1]))
