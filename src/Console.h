#pragma once

// restoreKeyboardModeForExit, for an exit that skips ~KeyboardMode.
#include "TerminalMode.h"

// The console services the monitor needs: a key test that reads nothing, a pause,
// and single keys without Enter (on POSIX TerminalMode's, with SignalPolicy's).

// While alive, standard input, when it is our controlling terminal and we are
// its foreground job, delivers each key at once and does not echo it. The mode
// found is put back, pending keys discarded, at destruction, before a stop and
// when a signal ends the process; it is set again in the foreground, also
// after a start in the background. Create at most one.
class KeyboardMode {
public:
    KeyboardMode();
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;

private:
    bool ours_ = false;  // a terminal whose mode and signals we took
};

// First takes a stop noted since the last call: puts the terminal mode back and
// stops the process until it is continued, then sets single keys again in the
// foreground. Then true when a key is waiting on standard input. Nothing is
// read. On our controlling terminal only the foreground job has keys; anywhere
// else any byte counts, and end of input is not a key.
bool takeStopThenTestKey();

// Sleeps for `milliseconds`, or less when input arrives in the meantime.
void pauseMilliseconds(int milliseconds);
