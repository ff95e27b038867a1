#pragma once

// The few console services the monitor needs: a test for a waiting key that
// does not read it, a pause, and a terminal mode in which one key press is seen
// without Enter.

// While alive, standard input, when it is our controlling terminal and we are
// its foreground job, delivers each key at once and does not echo it. The mode
// found is put back, with any pending key discarded, when this object is
// destroyed and when the process is ended by SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL or SIGABRT (which then end it as
// they would have). Job control works as in full-screen programs: the mode is
// put back before a stop (SIGTSTP, SIGTTIN, SIGTTOU) and set again once we are
// in the foreground, also after a start in the background. From the
// background the terminal mode is never written. Create at most one.
class KeyboardMode {
public:
    KeyboardMode();
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;
};

// Puts back the terminal mode for an exit that follows at once; the mode is
// not changed again. Async-signal-safe.
void restoreKeyboardModeForExit();

// True when a key is waiting on standard input. Nothing is read. On our
// controlling terminal only the foreground job has keys; anywhere else any
// byte counts, and end of input is not a key. Sets the keyboard mode again
// when a job has come to the foreground since the last call.
bool keyPressed();

// Sleeps for `milliseconds`, or less when input arrives in the meantime.
void pauseMilliseconds(int milliseconds);
