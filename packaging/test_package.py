#!/usr/bin/env python3
"""Checks the Debian packages by what they do: usage test_package.py CAMWATCH_DEB VCAM_DEB.

Each package is unpacked alone into a throwaway root (dpkg -x), with the
camera library linked in where the installed system has it, and camwatch-vcam
is run from there, its own paths moved into the root: alone, it says camwatch
is missing and runs another OpenNI2 program (packaging/oni_frames.py) on the
virtual camera; with camwatch's root on PATH, it runs the packaged camwatch on
its demo until a key. Then the driver folder's link leads to the library
package's file, every program's man page renders, the two packages share no
file and leave the system's driver folder alone, and the relations an upgrade
from the single old package needs are there. tests/lib must be on PYTHONPATH.
"""

import os
import re
import sys
import tempfile

from launcher import Process, line_matches, run

HERE = os.path.dirname(os.path.abspath(__file__))
FRAMES = os.path.join(HERE, "oni_frames.py")
NOT_INSTALLED = ("camwatch-vcam: camwatch is not installed; "
                 "name an OpenNI2 program to run, or install camwatch\n")
SCENARIO = "device vcam://0\ndepth width=8 height=6 middle=1000 middle_step=5\ncolor\n"
SECONDS = 60


def fail(message):
    print("package: FAIL: " + message)
    sys.exit(1)


def field(deb, name):
    return run(["dpkg-deb", "-f", deb, name], check=True, text=True).stdout.strip()


def files(deb):
    listing = run(["dpkg-deb", "-c", deb], check=True, text=True).stdout
    return {line.split(" -> ")[0].split()[-1][1:] for line in listing.splitlines()
            if not line.startswith("d")}


def system_library(architecture):
    """The camera library's file as its package installs it here."""
    listed = run(["dpkg", "-L", "libopenni2-0:" + architecture], check=True, text=True).stdout
    found = [path for path in listed.splitlines() if path.endswith("/libOpenNI2.so.0")]
    if len(found) != 1:
        fail("libopenni2-0 lists %r as its library" % found)
    return found[0]


def check_relations(camwatch_deb, vcam_deb):
    """What apt needs to install them and to upgrade from the single old package."""
    depends = field(vcam_deb, "Depends")
    # The driver is loaded by the library, not linked to it: shlibs cannot say it.
    if not re.search(r"(^|, )libopenni2-0( |,|$)", depends):
        fail("camwatch-vcam's Depends lacks libopenni2-0: " + depends)
    older = "camwatch (<< %s)" % field(vcam_deb, "Version")
    for relation in ("Breaks", "Replaces"):
        if older not in field(vcam_deb, relation):
            fail("camwatch-vcam's %s lacks %s" % (relation, older))
    if "camwatch-vcam" not in field(camwatch_deb, "Suggests"):
        fail("camwatch does not suggest camwatch-vcam")
    shared = files(camwatch_deb) & files(vcam_deb)
    if shared:
        fail("both packages hold %s" % sorted(shared))


def unpack(deb, root, library):
    run(["dpkg", "-x", deb, root], check=True)
    os.makedirs(os.path.dirname(root + library), exist_ok=True)
    os.symlink(library, root + library)


def relocated_vcam(vcam_root, folder):
    """camwatch-vcam as packaged, with the loading folder and demo it names
    moved into the root; also returns the two installed paths."""
    script = os.path.join(vcam_root, "usr/bin/camwatch-vcam")
    shown = run(["sh", script, "-s", "/dev/null", "sh", "-c", 'echo "$LD_LIBRARY_PATH"'],
                env={"PATH": "/usr/bin:/bin"}, text=True, check=True).stdout.strip()
    loading_folder = shown.split(":")[0]
    demo = re.search(r"the demo \((/[^)]*)\)", run(["sh", script, "--help"], text=True,
                                                   check=True).stdout)
    if not demo:
        fail("camwatch-vcam --help names no demo")
    demo = demo.group(1)
    with open(script) as f:
        text = f.read()
    copy = os.path.join(folder, "relocated-camwatch-vcam")
    with open(copy, "w") as f:
        f.write(text.replace(loading_folder, vcam_root + loading_folder)
                .replace(demo, vcam_root + demo))
    os.chmod(copy, 0o755)
    return copy, loading_folder, demo


def check_loading_folder(vcam_root, loading_folder, demo, library):
    link = os.path.join(loading_folder, "libOpenNI2.so.0")
    target = os.path.normpath(os.path.join(loading_folder, os.readlink(vcam_root + link)))
    if target != library:
        fail("%s leads to %s, not to the library's %s" % (link, target, library))
    drivers = os.path.join(vcam_root + loading_folder, "OpenNI2", "Drivers")
    if not os.path.isdir(drivers) or not os.listdir(drivers):
        fail("no driver in %s" % drivers)
    if not os.path.isfile(vcam_root + demo):
        fail("camwatch-vcam's demo %s is not in the package" % demo)


def check_alone(vcam, vcam_root, scenario):
    """Without camwatch: the message for no program, and another program's frames."""
    env = {"PATH": os.path.join(vcam_root, "usr/bin")}
    result = run([vcam], env=env, text=True, timeout=SECONDS)
    if (result.returncode, result.stdout, result.stderr) != (127, "", NOT_INSTALLED):
        fail("camwatch-vcam alone, no program: %d %r %r"
             % (result.returncode, result.stdout, result.stderr))
    for sensor, expected in (("depth", ["depth 1000", "depth 1005", "depth 1010"]),
                             ("color", ["color 0x0aff00"] * 2)):
        result = run([vcam, "-s", scenario, sys.executable, FRAMES, sensor, str(len(expected))],
                     env=env, text=True, timeout=SECONDS)
        if result.returncode != 0 or result.stdout.splitlines() != expected:
            fail("oni_frames.py %s on camwatch-vcam: %d %r %r"
                 % (sensor, result.returncode, result.stdout, result.stderr))
    print("package: camwatch-vcam alone ran another OpenNI2 program")


def check_camwatch_on_the_demo(vcam, camwatch_root, vcam_root):
    env = {"PATH": "%s:%s:/usr/bin:/bin" % (os.path.join(camwatch_root, "usr/bin"),
                                            os.path.join(vcam_root, "usr/bin"))}
    with Process([vcam], env=env, stdin="pipe", prefix=()) as process:
        for line in (r'^Device "vcam://0" already connected$', r"^\[\d{8,}\] Depth middle index",
                     r"^\[\d{8,}\] Color RGB value 0x"):
            process.wait_for(line_matches(line), SECONDS, line)
        process.press_key()
        status = process.finish(SECONDS)
    if status != 0:
        fail("camwatch on the demo ended with %d: %r" % (status, process.stderr_bytes()[-500:]))
    print("package: the packaged camwatch ran on the packaged demo, exit 0")


def check_man_pages(root):
    """Every program has a page that man renders without a warning."""
    for program in os.listdir(os.path.join(root, "usr/bin")):
        page = os.path.join(root, "usr/share/man/man1", program + ".1.gz")
        rendered = run(["man", "--warnings", "-l", page], env=dict(os.environ, MANWIDTH="80"),
                       text=True, timeout=SECONDS)
        if rendered.returncode != 0 or rendered.stderr:
            fail("man %s: %s" % (page, rendered.stderr))
        if not re.search(r"^NAME\n\s+%s \S+ " % re.escape(program), rendered.stdout, re.MULTILINE):
            fail("man %s does not name %s" % (page, program))
    print("package: man pages of %s render" % ", ".join(sorted(os.listdir(root + "/usr/bin"))))


def check_drivers_left_alone(debs, library):
    drivers = os.path.join(os.path.dirname(library), "OpenNI2") + "/"
    for deb in debs:
        inside = [path for path in files(deb) if path.startswith(drivers)]
        if inside:
            fail("%s writes into the system's driver folder: %s" % (deb, inside))


def main(camwatch_deb, vcam_deb):
    library = system_library(field(vcam_deb, "Architecture"))
    check_relations(camwatch_deb, vcam_deb)
    check_drivers_left_alone((camwatch_deb, vcam_deb), library)
    with tempfile.TemporaryDirectory(prefix="camwatch-packages-") as folder:
        camwatch_root = os.path.join(folder, "camwatch")
        vcam_root = os.path.join(folder, "camwatch-vcam")
        unpack(camwatch_deb, camwatch_root, library)
        unpack(vcam_deb, vcam_root, library)
        vcam, loading_folder, demo = relocated_vcam(vcam_root, folder)
        check_loading_folder(vcam_root, loading_folder, demo, library)
        scenario = os.path.join(folder, "frames.vcam")
        with open(scenario, "w") as f:
            f.write(SCENARIO)
        check_alone(vcam, vcam_root, scenario)
        check_camwatch_on_the_demo(vcam, camwatch_root, vcam_root)
        for root in (camwatch_root, vcam_root):
            check_man_pages(root)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.split("\n")[0])
    sys.exit(main(sys.argv[1], sys.argv[2]))
