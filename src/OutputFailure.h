#pragma once

#include <cstddef>
#include <cstdio>

// Report lines, and those that could not be written. Lines are printed on
// library threads as well as the main thread, so the first failure is kept in
// a lock-free atomic that the main loop reads; noting costs nothing when the
// write worked.

// Prints one report line with one formatted write to standard output.
void reportLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the `length` bytes of one report line to `out` with one formatted write.
void writeReportLine(const char* line, std::size_t length, std::FILE* out);

// Records `error` as the output's failure, unless one is recorded already.
void noteOutputFailure(int error);

// The error of the first report line that could not be written, or 0.
int outputFailure();

// The status to exit with once the report is over: a lost line is told as
// "camwatch: write error: <text of error>" on standard error and turns a
// successful run into kOutputFailed; a failure status stays what it is.
int statusAfterReport(int status);
