#ifndef _WIN32

#include "TerminalMode.h"

#include <poll.h>
#include <pthread.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace {

// Read and written only under the lock.
termios savedMode;
bool modeChanged = false;  // savedMode is to be put back
bool modeWanted = false;   // single keys, until the process ends

std::atomic_flag terminalBusy = ATOMIC_FLAG_INIT;

// A spin lock, because handlers cannot wait on anything better. Its holder has
// every signal blocked (SIGTTOU too, so that no write of the mode can stop us)
// and holds it for one call, so a waiter waits for another thread, briefly.
class TerminalHold {
public:
    TerminalHold() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previousMask_);
        while (terminalBusy.test_and_set(std::memory_order_acquire)) {
            poll(nullptr, 0, 1);
        }
    }
    ~TerminalHold() {
        terminalBusy.clear(std::memory_order_release);
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }

private:
    sigset_t previousMask_{};
};

// Async-signal-safe. After an exit's restore the mode is not set again: a
// process that a signal is ending may yet run a key test before it is gone.
void restore(bool forExit) {
    const TerminalHold hold;
    if (modeChanged && inForeground()) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
        modeChanged = false;
    }
    modeWanted = modeWanted && !forExit;
}

}  // namespace

bool onControllingTerminal() {
    return isatty(STDIN_FILENO) != 0 && tcgetpgrp(STDIN_FILENO) != -1;
}

bool inForeground() {
    return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

void setKeyMode(bool fromNowOn) {
    const TerminalHold hold;
    modeWanted = modeWanted || fromNowOn;
    if (!modeWanted || modeChanged || !inForeground() || tcgetattr(STDIN_FILENO, &savedMode) != 0) {
        return;
    }
    termios keyMode = savedMode;
    keyMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    modeChanged = tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) == 0;
}

void restoreMode() {
    restore(false);
}

void restoreKeyboardModeForExit() {
    restore(true);
}

#endif
