#pragma once

// The signals camwatch takes while it owns the terminal mode. Ending signals
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) put the mode back at once, on whichever thread takes them, and then
// end the process as they would have without us, core dump included. SIGTSTP,
// SIGTTIN and SIGTTOU are only noted, for the main thread to take. Signals
// ignored at start stay ignored.

// Installs the handlers, keeping the actions found at start.
void takeSignals();

// Puts back the actions found at start.
void giveBackSignals();

// The stopping signal noted since the last call, or 0.
int takeNotedStop();

// Stops the process as `signalNumber` would have without us, until continued.
void stopBy(int signalNumber);
