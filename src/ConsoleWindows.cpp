#ifdef _WIN32

#include <conio.h>
#include <windows.h>

#include "Console.h"

// The Windows console sees single key presses without a change of mode, and
// has no job control.
KeyboardMode::KeyboardMode() = default;

// The key that ended the run was only detected; read it here so that it does
// not reach the console's next reader.
KeyboardMode::~KeyboardMode() {
    while (_kbhit() != 0) {
        _getch();
    }
}

void restoreKeyboardModeForExit() {}

bool keyPressed() {
    return _kbhit() != 0;
}

void pauseMilliseconds(int milliseconds) {
    Sleep(static_cast<DWORD>(milliseconds));
}

#endif
