#!/usr/bin/env python3
"""Checks the memcheck reports of the valgrind runs: one file per process,
in the folder CAMWATCH_MEMCHECK_REPORTS names (the memcheck test preset's).

    memcheck_reports.py --clear    empties the folder before the runs
    memcheck_reports.py            checks the reports after them

A run passes when valgrind counted no error (invalid reads or writes, uses of
uninitialised values, bad frees, definite leaks: see --errors-for-leak-kinds)
after the suppressions. Prints the totals and names any failing report.
Without the variable there is no memcheck run to check: the status is 77,
which ctest counts as skipped.
"""

import glob
import os
import re
import shutil
import sys

FOLDER_VARIABLE = "CAMWATCH_MEMCHECK_REPORTS"
SKIPPED = 77

ERRORS = re.compile(r"ERROR SUMMARY: (\d+) errors")
CRASH = re.compile(r"Process terminating with default action of signal (4|6|7|8|11) ")
DEFINITE = re.compile(r"definitely lost: ([\d,]+) bytes|are definitely lost")


def clear(folder):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return 0


def check(folder):
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


def main(arguments):
    folder = os.environ.get(FOLDER_VARIABLE)
    if not folder:
        print("memcheck: %s is not set: not a memcheck run" % FOLDER_VARIABLE)
        return SKIPPED
    return clear(folder) if arguments == ["--clear"] else check(folder)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
