#pragma once

#include <cstdio>

// Report lines, and those that could not be written. Lines are printed on
// library threads as well, so the first failure is kept in a lock-free atomic
// that the main loop reads; noting costs nothing when the write worked.

// Prints one report line to `out` (standard output but for benchmarks) with
// one formatted write, and notes a failure of it.
void reportLine(std::FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Records `error` as the output's failure, unless one is recorded already.
void noteOutputFailure(int error);

// The error of the first report line that could not be written, or 0.
int outputFailure();

// The status to exit with once the report is over: a lost line is told as
// "camwatch: write error: <text of error>" on standard error and turns a
// successful run into kOutputFailed; a failure status stays what it is.
int reportOutputFailure(int status);
