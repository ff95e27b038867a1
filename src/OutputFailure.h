#pragma once

// Report lines that could not be written. Lines are printed on library threads
// as well as the main thread, so the first failure is kept in a lock-free
// atomic that the main loop reads; noting costs nothing when the write worked.

// `printfResult` is what printf returned for one report line; a negative value
// records errno as the output's failure, unless one is recorded already.
void noteReportWrite(int printfResult);

// The error of the first report line that could not be written, or 0.
int outputFailure();

// Writes "camwatch: write error: <text of error>" on standard error.
void reportOutputFailure(int error);
