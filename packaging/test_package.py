#!/usr/bin/env python3
"""Checks the camwatch Debian package: usage test_package.py <deb> <runtime dir>.

Its metadata and contents, then an extraction into a throwaway root (dpkg -x)
and a run of the installed binary on the virtual camera until a key.
"""

import gzip
import os
import re
import select
import subprocess
import sys
import tempfile
import time

EXPECTED_FILES = {
    "./usr/bin/camwatch",
    "./usr/bin/camwatch-vcam",
    "./usr/lib/x86_64-linux-gnu/camwatch/vcam/libOpenNI2.so.0",
    "./usr/lib/x86_64-linux-gnu/camwatch/vcam/OpenNI2/Drivers/libvcam.so.0",
    "./usr/share/camwatch/demo.vcam",
    "./usr/share/doc/camwatch/README.md.gz",
    "./usr/share/doc/camwatch/changelog.gz",
    "./usr/share/doc/camwatch/copyright",
    "./usr/share/man/man1/camwatch-vcam.1.gz",
    "./usr/share/man/man1/camwatch.1.gz",
}
FRAME = re.compile(rb"\[\d{8,}\] (Depth middle index +\d+|Color RGB value 0x[0-9a-f]{6})\n")


def fail(message):
    print("package: FAIL: " + message)
    sys.exit(1)


def check_metadata(deb):
    depends = subprocess.run(["dpkg-deb", "-f", deb, "Depends"], check=True,
                             capture_output=True, text=True).stdout
    if not re.search(r"(^|, )libopenni2-0( |,|$)", depends):
        fail("Depends lacks libopenni2-0: " + depends)
    listing = subprocess.run(["dpkg-deb", "-c", deb], check=True, capture_output=True,
                             text=True).stdout
    files = {line.split(" -> ")[0].split()[-1] for line in listing.splitlines()
             if not line.startswith("d")}
    if files != EXPECTED_FILES:
        fail("package holds %r, expected %r" % (sorted(files), sorted(EXPECTED_FILES)))
    print("package: depends on " + depends.strip())


def check_man_page(root):
    page = os.path.join(root, "usr/share/man/man1/camwatch.1.gz")
    with gzip.open(page) as f:
        source = f.read()
    groff = subprocess.run(["groff", "-man", "-ww", "-z"], input=source, capture_output=True)
    if groff.returncode != 0 or groff.stderr:
        fail("installed man page: " + groff.stderr.decode(errors="replace"))
    shown = subprocess.run(["man", "-l", page], capture_output=True,
                           env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING=""))
    if shown.returncode != 0 or b"camwatch" not in shown.stdout:
        fail("man -l cannot show the installed page")


def run_installed(root, runtime):
    binary = os.path.join(root, "usr/bin/camwatch")
    env = {k: v for k, v in os.environ.items() if not k.startswith(("VCAM_", "LD_"))}
    env["LD_LIBRARY_PATH"] = runtime
    proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    output = b""
    deadline = time.monotonic() + 20
    while len(FRAME.findall(output)) < 10 and time.monotonic() < deadline:
        ready, _, _ = select.select([proc.stdout], [], [], 0.5)
        if ready:
            chunk = os.read(proc.stdout.fileno(), 65536)
            if not chunk:
                break
            output += chunk
    try:
        rest, stderr = proc.communicate(input=b"q", timeout=20)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        fail("installed camwatch did not end after the key")
    output += rest
    frames = FRAME.findall(output)
    if proc.returncode != 0:
        fail("installed camwatch exited %d: %r" % (proc.returncode, stderr[-500:]))
    if not output.startswith(b'Device "vcam://0" already connected\n') or len(frames) < 10:
        fail("installed camwatch printed %r" % output[:300])
    print("package: installed camwatch ran, %d frame lines, exit 0" % len(frames))


def main(deb, runtime):
    check_metadata(deb)
    with tempfile.TemporaryDirectory(prefix="camwatch-root-") as root:
        subprocess.run(["dpkg", "-x", deb, root], check=True)
        check_man_page(root)
        run_installed(root, runtime)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n")[0])
    sys.exit(main(sys.argv[1], sys.argv[2]))
