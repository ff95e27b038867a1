#include "Console.h"

#ifdef _WIN32

#include <conio.h>
#include <windows.h>

// The Windows console sees single key presses without a change of mode.
KeyboardMode::KeyboardMode() = default;
KeyboardMode::~KeyboardMode() = default;

bool keyPressed() {
    return _kbhit() != 0;
}

void pauseMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

#else

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <ctime>

namespace {

// Shared with the signal handler, hence plain statics.
termios savedMode;
volatile std::sig_atomic_t modeChanged = 0;

constexpr std::array<int, 5> kRestoringSignals = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE};

void restoreMode() {
    if (modeChanged != 0) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
        modeChanged = 0;
    }
}

// Only async-signal-safe calls: the disposition is already back to the
// default (SA_RESETHAND), so raising the signal again ends the process by it.
void restoreModeAndDie(int signalNumber) {
    restoreMode();
    raise(signalNumber);
}

void installRestoringHandlers() {
    for (const int signalNumber : kRestoringSignals) {
        struct sigaction previous {};
        sigaction(signalNumber, nullptr, &previous);
        if (previous.sa_handler == SIG_IGN) {
            continue;  // Whoever started us wants this signal ignored.
        }
        struct sigaction action {};
        action.sa_handler = restoreModeAndDie;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        sigaction(signalNumber, &action, nullptr);
    }
}

void resetHandlers() {
    for (const int signalNumber : kRestoringSignals) {
        struct sigaction current {};
        sigaction(signalNumber, nullptr, &current);
        if (current.sa_handler == restoreModeAndDie) {
            std::signal(signalNumber, SIG_DFL);
        }
    }
}

int bytesWaiting() {
    int count = 0;
    if (ioctl(STDIN_FILENO, FIONREAD, &count) != 0) {
        return 0;  // Not a stream that can hold input (e.g. /dev/null).
    }
    return count;
}

void sleepMilliseconds(long milliseconds) {
    timespec remaining{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0) {
    }
}

}  // namespace

KeyboardMode::KeyboardMode() {
    // A background job must leave the terminal alone: changing it would stop us.
    if (isatty(STDIN_FILENO) == 0 || tcgetpgrp(STDIN_FILENO) != getpgrp() ||
        tcgetattr(STDIN_FILENO, &savedMode) != 0) {
        return;
    }
    termios keyMode = savedMode;
    keyMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    installRestoringHandlers();
    modeChanged = 1;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) != 0) {
        modeChanged = 0;
        resetHandlers();
    }
}

KeyboardMode::~KeyboardMode() {
    restoreMode();
    resetHandlers();
}

bool keyPressed() {
    return bytesWaiting() > 0;
}

void pauseMilliseconds(int milliseconds) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (poll(&input, 1, milliseconds) > 0 && bytesWaiting() == 0) {
        // Readable without bytes: end of input or a hang-up, which stays so.
        // Sleep out the rest instead of spinning.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsed =
            (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
        if (elapsed < milliseconds) {
            sleepMilliseconds(milliseconds - elapsed);
        }
    }
}

#endif
