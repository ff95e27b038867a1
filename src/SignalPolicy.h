#pragma once

// The signals camwatch takes while it owns the terminal mode. Ending signals
// (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT) put the mode back at once, on whichever thread takes them, and then
// end the process as they would have without us, core dump included. SIGTSTP,
// SIGTTIN and SIGTTOU are only noted, for the main thread to take; SIGCONT
// forgets them. Signals ignored at start stay ignored.

// Installs the handlers, keeping the actions found at start; puts those back.
void takeSignals();
void giveBackSignals();

// The stopping signal noted and not yet taken, or 0.
int notedStopSignal();

// Takes the noted stop and stops as `signalNumber` would have without us,
// until continued; returns at once if a continue came first.
void stopBy(int signalNumber);
