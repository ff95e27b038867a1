#include "Console.h"

#ifdef _WIN32

#include <conio.h>
#include <windows.h>

// The console sees single key presses without a change of mode.
KeyboardMode::KeyboardMode() = default;

// The key that ended the run was only detected; read it here so that it does
// not reach the console's next reader.
KeyboardMode::~KeyboardMode() {
    while (_kbhit() != 0) {
        _getch();
    }
}

// No job control: nothing stops the process here.
bool takeStopThenTestKey() {
    return _kbhit() != 0;
}

void pauseMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

#else

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "SignalPolicy.h"
#include "TerminalMode.h"

namespace {

bool keysAreOurs() {
    return !onControllingTerminal() || inForeground();
}

int bytesWaiting() {
    int count = 0;
    if (ioctl(STDIN_FILENO, FIONREAD, &count) != 0) {
        return 0;  // Not a stream that can hold input (e.g. /dev/null).
    }
    return count;
}

}  // namespace

KeyboardMode::KeyboardMode() : ours_(onControllingTerminal()) {
    if (!ours_) {
        return;  // a pipe, a file, or a terminal whose jobs are not ours
    }
    takeSignals();
    setKeyMode(true);  // in the background: later, once in the foreground
}

KeyboardMode::~KeyboardMode() {
    if (!ours_) {
        return;
    }
    restoreKeyboardModeForExit();
    // A stop that came after the last key test is still the shell's to see.
    if (const int stop = notedStopSignal(); stop != 0) {
        stopBy(stop);
    }
    giveBackSignals();
}

// Job control on the main thread, as full-screen programs do it: outside any
// handler, the terminal is given back before a stop and taken in the foreground.
bool takeStopThenTestKey() {
    if (const int stop = notedStopSignal(); stop != 0) {
        restoreMode();
        stopBy(stop);
    }
    setKeyMode();
    return keysAreOurs() && bytesWaiting() > 0;
}

void pauseMilliseconds(int milliseconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    pollfd input{STDIN_FILENO, POLLIN, 0};
    // Input that waits for the foreground job, end of input and a hang-up stay
    // readable without a key for us: polling those would spin, so sleep instead.
    if (!keysAreOurs() || (poll(&input, 1, milliseconds) > 0 && bytesWaiting() == 0)) {
        std::this_thread::sleep_until(end);
    }
}

#endif
