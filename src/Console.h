#pragma once

// The few console services the monitor needs: a test for a waiting key that
// does not read it, a pause, and a terminal mode in which one key press is seen
// without Enter. On POSIX systems the mode is TerminalMode's and the signals
// taken for it SignalPolicy's.

// While alive, standard input, when it is our controlling terminal and we are
// its foreground job, delivers each key at once and does not echo it. The mode
// found is put back when this object is destroyed, with any pending key
// discarded, and when the process is ended by a signal, which then ends it as
// it would have. Job control works as in full-screen programs: the mode is put
// back before a stop and set again once we are in the foreground, also after a
// start in the background; the stop waits for the next key test. From the
// background the terminal mode is never written. Create at most one.
class KeyboardMode {
public:
    KeyboardMode();
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;

private:
    bool ours_ = false;  // a terminal whose mode and signals we took
};

// Puts back the terminal mode for an exit that follows at once; the mode is
// not changed again. Async-signal-safe, on any thread.
void restoreKeyboardModeForExit();

// True when a key is waiting on standard input. Nothing is read. On our
// controlling terminal only the foreground job has keys; anywhere else any
// byte counts, and end of input is not a key. Takes a stop noted since the
// last call, and sets the keyboard mode again when a job has come to the
// foreground.
bool keyPressed();

// Sleeps for `milliseconds`, or less when input arrives in the meantime.
void pauseMilliseconds(int milliseconds);
