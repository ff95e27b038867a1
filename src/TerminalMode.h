#pragma once

// The mode of the terminal on standard input. The main thread sets and restores
// it and a handler on any thread may put it back, so each change is made under
// one lock, its holder's signals blocked. The background never writes it.

// Standard input is the terminal whose job control camwatch follows.
bool onControllingTerminal();
bool inForeground();

// Saves the mode found and turns off line editing and echo, when single keys
// are wanted (from now on, with `fromNowOn`), not set already, and we are in
// the foreground.
void setKeyMode(bool fromNowOn = false);

// Puts the mode found back, for a stop; setKeyMode sets single keys again.
void restoreMode();

// Puts back the terminal mode for an exit that follows at once; the mode is
// not changed again. Async-signal-safe, on any thread.
void restoreKeyboardModeForExit();
