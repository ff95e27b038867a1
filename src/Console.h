#pragma once

// The few console services the monitor needs: a test for a waiting key that
// does not read it, a pause, and a terminal mode in which one key press is seen
// without Enter.

// While alive, standard input (when it is the foreground terminal) delivers each
// key at once and does not echo it. The saved mode comes back when this object
// is destroyed, with any pending key discarded, and also when the process is
// ended by SIGINT, SIGTERM, SIGHUP, SIGQUIT or SIGPIPE. Create at most one.
class KeyboardMode {
public:
    KeyboardMode();
    ~KeyboardMode();
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;
};

// True when input is waiting on standard input. Nothing is read. When standard
// input is not a terminal, any byte counts; end of input is not a key.
bool keyPressed();

// Sleeps for `milliseconds`, or less when input arrives in the meantime.
void pauseMilliseconds(int milliseconds);
