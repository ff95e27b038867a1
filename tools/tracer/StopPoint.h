#pragma once

// A stop on demand, so a test can act at an exact point of a run: with
// CAMWATCH_TRACE_STOP_AFTER=<function>, the first time that function has been
// traced the process stops itself (SIGSTOP) until it is sent SIGCONT.

// Whether the trace line is one of the function named.
bool isCallOf(const char* line, const char* function);

// Stops the process if the line is the first of the function asked for.
void stopIfAsked(const char* line);
