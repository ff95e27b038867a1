// The Windows branch of the platform services below the console (whose own
// Windows branch is in Console.cpp): none of the POSIX ones.
#ifdef _WIN32

#include "StandardDescriptors.h"
#include "TeardownBound.h"
#include "TerminalMode.h"

// The console's mode is never changed.
void restoreKeyboardModeForExit() {}

// Without alarms the teardown runs unbounded.
TeardownBound::TeardownBound(int /*exitStatus*/) {}
TeardownBound::~TeardownBound() = default;

int prepareStandardDescriptors() {
    return 0;
}

#endif
