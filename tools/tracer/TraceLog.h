#pragma once

#include <string>

// The trace file named by CAMWATCH_TRACE. Each line goes out with a single
// write() under a lock, so lines from the library's threads never interleave.
// Without the variable nothing is opened and nothing is formatted.

bool traceEnabled();

// Formats one line (a newline is added) and appends it to the trace file.
void traceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Pointers and handles print as 0x-prefixed hex, null as 0x0, so that tests
// can match them across lines.
unsigned long long traceAddress(const void* pointer);

// A C string quoted, with quotes, backslashes and control bytes escaped so that
// one traced call stays on one line; null prints as (null).
std::string traceQuoted(const char* text);
