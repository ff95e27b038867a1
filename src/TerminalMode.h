#pragma once

// The mode of the terminal on standard input: single keys without Enter while
// camwatch wants them, the mode found put back otherwise. The main thread sets
// and restores it; a signal handler on any thread may put it back on the way
// out, so every change is made under one lock, with this thread's signals
// blocked so that no handler can interrupt its holder. Nothing is written while
// our job is in the background: the foreground job owns the terminal.

// Standard input is the terminal whose job control camwatch follows.
bool onControllingTerminal();
bool inForeground();

// Single keys are wanted from now on; sets them when it can.
void startKeyMode();

// Saves the mode found and turns off line editing and echo, when single keys
// are wanted, not set already, and we are in the foreground.
void setKeyMode();

// Puts the mode found back, for a stop; setKeyMode sets single keys again.
void restoreMode();
