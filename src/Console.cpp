#ifndef _WIN32

#include "Console.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#include <ctime>

#include "SignalPolicy.h"
#include "TerminalMode.h"

namespace {

// Job control is done here, on the main thread, as full-screen programs do it:
// a stop noted by its handler gives the terminal back, stops, and once
// continued sets single keys again; so does a job come to the foreground, for
// example by `fg` after a start in the background.
void followJobControl() {
    if (const int stop = takeNotedStop(); stop != 0) {
        restoreMode();
        stopBy(stop);
    }
    setKeyMode();
}

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

void sleepMilliseconds(long milliseconds) {
    timespec remaining{milliseconds / 1000, (milliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0) {
    }
}

long millisecondsSince(const timespec& start) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (now.tv_sec - start.tv_sec) * 1000L + (now.tv_nsec - start.tv_nsec) / 1000000L;
}

}  // namespace

KeyboardMode::KeyboardMode() : ours_(onControllingTerminal()) {
    if (!ours_) {
        return;  // a pipe, a file, or a terminal whose jobs are not ours
    }
    takeSignals();
    startKeyMode();  // in the background: later, once in the foreground
}

KeyboardMode::~KeyboardMode() {
    if (!ours_) {
        return;
    }
    restoreKeyboardModeForExit();
    giveBackSignals();
    // A stop that came after the last key test is still the shell's to see.
    if (const int stop = takeNotedStop(); stop != 0) {
        raise(stop);
    }
}

bool keyPressed() {
    followJobControl();
    return keysAreOurs() && bytesWaiting() > 0;
}

void pauseMilliseconds(int milliseconds) {
    if (!keysAreOurs()) {
        // Input that waits belongs to the foreground job: polling it would spin.
        sleepMilliseconds(milliseconds);
        return;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    if (poll(&input, 1, milliseconds) > 0 && bytesWaiting() == 0) {
        // Readable without bytes: end of input or a hang-up, which stays so.
        // Sleep out the rest instead of spinning.
        const long elapsed = millisecondsSince(start);
        if (elapsed < milliseconds) {
            sleepMilliseconds(milliseconds - elapsed);
        }
    }
}

#endif
