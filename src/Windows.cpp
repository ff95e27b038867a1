// The Windows branch of the platform services: a console, none of the POSIX ones.
#ifdef _WIN32

#include <conio.h>
#include <windows.h>

#include "Console.h"
#include "StandardDescriptors.h"
#include "TeardownBound.h"
#include "TerminalMode.h"

// The console sees single key presses without a change of mode.
KeyboardMode::KeyboardMode() = default;

// The key that ended the run was only detected; read it here so that it does
// not reach the console's next reader.
KeyboardMode::~KeyboardMode() {
    while (_kbhit() != 0) {
        _getch();
    }
}

void restoreKeyboardModeForExit() {}

bool takeStopThenTestKey() {
    return _kbhit() != 0;
}

void pauseMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

// Without alarms the teardown runs unbounded.
TeardownBound::TeardownBound(int /*exitStatus*/) {}
TeardownBound::~TeardownBound() = default;

int prepareStandardDescriptors() {
    return 0;
}

#endif
