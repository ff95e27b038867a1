#pragma once

// The signals camwatch takes while it owns the terminal mode.
//
// Ending signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGSEGV, SIGBUS,
// SIGFPE, SIGILL, SIGABRT) put the mode back at once, on whichever thread takes
// them, and then end the process as they would have without us, core dump
// included: the action found at start is put back and the signal raised again
// (a fault, by running the faulting instruction again).
//
// Stopping signals (SIGTSTP, SIGTTIN, SIGTTOU) are only noted; the main thread
// takes the note at its next key test, outside any handler, and stops there.
//
// Signals ignored at start stay ignored: whoever started us wants it so.

// Installs the handlers, keeping the actions found.
void takeSignals();

// Puts back the actions found at start.
void giveBackSignals();

// The stopping signal noted since the last call, or 0.
int takeNotedStop();

// Stops the process as `signalNumber` would have without us, and returns
// once it is continued, with the signal noted again from then on.
void stopBy(int signalNumber);
