#!/usr/bin/env python3
"""Checks the memcheck reports of the valgrind runs: one file per process.

A run passes when valgrind counted no error (invalid reads or writes, uses of
uninitialised values, bad frees, definite leaks: see --errors-for-leak-kinds)
after the suppressions. Prints the totals and names any failing report.
"""

import glob
import os
import re
import sys

ERRORS = re.compile(r"ERROR SUMMARY: (\d+) errors")
CRASH = re.compile(r"Process terminating with default action of signal (4|6|7|8|11) ")
DEFINITE = re.compile(r"definitely lost: ([\d,]+) bytes|are definitely lost")


def main(folder):
    reports = sorted(glob.glob(os.path.join(folder, "memcheck.*.log")))
    if not reports:
        print("valgrind: no reports in " + folder)
        return 1
    bad = []
    checked = 0
    for path in reports:
        with open(path, errors="replace") as f:
            text = f.read()
        # --quiet leaves the file empty for a clean run that ended normally.
        errors = [int(n) for n in ERRORS.findall(text)]
        lost = [int(n.replace(",", "") or "1") for n in DEFINITE.findall(text)]
        # Death by the signals the tests send is expected; a crash is not.
        if CRASH.search(text):
            bad.append(path)
        elif any(errors) or any(lost) or ("== Invalid" in text) or ("uninitialised" in text):
            bad.append(path)
        checked += 1
    print("valgrind: %d processes checked, %d with errors" % (checked, len(bad)))
    for path in bad:
        print("---- " + path)
        with open(path, errors="replace") as f:
            print(f.read()[-4000:])
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
