#include "Console.h"

#ifdef _WIN32

#include <conio.h>
#include <windows.h>

// The Windows console sees single key presses without a change of mode.
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

#else

#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>

namespace {

// Shared with signal handlers, which may run on any thread of the process.
termios savedMode;
// Atomics, not volatile sig_atomic_t: a handler on another thread is not
// ordered with the main thread by anything else. Lock-free, so handlers may
// use them.
std::atomic<int> modeChanged{0};  // savedMode is to be put back
std::atomic<int> modeWanted{0};   // a KeyboardMode lives
std::atomic<int> stopping{0};     // a stop handler gave the terminal back
static_assert(std::atomic<int>::is_always_lock_free, "used in signal handlers");
std::atomic_flag terminalBusy = ATOMIC_FLAG_INIT;  // one changer of the mode at a time

constexpr std::array<int, 10> kEndingSignals = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
                                                SIGSEGV, SIGBUS,  SIGFPE, SIGILL,  SIGABRT};
constexpr std::array<int, 3> kStoppingSignals = {SIGTSTP, SIGTTIN, SIGTTOU};

// The actions found at start, put back on the way out so that a signal ends
// the process as it would have without us (a sanitizer's handler included).
std::array<struct sigaction, NSIG> previousActions{};
std::array<bool, NSIG> handled{};

// Every signal whose handler touches the terminal, SIGTTOU so that no write of
// the mode can stop us, and SIGALRM of the teardown bound.
sigset_t terminalSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kEndingSignals) {
        sigaddset(&set, signalNumber);
    }
    for (const int signalNumber : kStoppingSignals) {
        sigaddset(&set, signalNumber);
    }
    sigaddset(&set, SIGALRM);
    return set;
}

// A spin lock, because handlers cannot wait on anything better. The main thread
// takes it only with the terminal signals blocked, so no handler can spin on
// the thread that holds it.
void lockTerminal() {
    while (terminalBusy.test_and_set(std::memory_order_acquire)) {
        poll(nullptr, 0, 1);
    }
}

void unlockTerminal() {
    terminalBusy.clear(std::memory_order_release);
}

// Standard input is the terminal that our job control happens on.
bool onControllingTerminal() {
    return isatty(STDIN_FILENO) != 0 && tcgetpgrp(STDIN_FILENO) != -1;
}

bool inForeground() {
    return tcgetpgrp(STDIN_FILENO) == getpgrp();
}

// Callers hold the terminal with SIGTTOU blocked. From the background the mode
// is left as it is: the foreground job owns it.
void restoreLocked() {
    if (modeChanged != 0 && inForeground()) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedMode);
        modeChanged = 0;
    }
}

void setKeyModeLocked() {
    if (modeWanted == 0 || modeChanged != 0 || stopping != 0 || !inForeground() ||
        tcgetattr(STDIN_FILENO, &savedMode) != 0) {
        return;
    }
    termios keyMode = savedMode;
    keyMode.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    keyMode.c_cc[VMIN] = 1;
    keyMode.c_cc[VTIME] = 0;
    modeChanged = 1;  // first: putting back a mode not yet changed is harmless
    if (tcsetattr(STDIN_FILENO, TCSANOW, &keyMode) != 0) {
        modeChanged = 0;
    }
}

// The main thread's hold on the terminal.
class TerminalSection {
public:
    TerminalSection() {
        const sigset_t blocked = terminalSignals();
        pthread_sigmask(SIG_BLOCK, &blocked, &previousMask_);
        lockTerminal();
    }
    ~TerminalSection() {
        unlockTerminal();
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    TerminalSection(const TerminalSection&) = delete;
    TerminalSection& operator=(const TerminalSection&) = delete;

private:
    sigset_t previousMask_{};
};

bool isFault(int signalNumber) {
    return signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGFPE ||
           signalNumber == SIGILL;
}

// The terminal stays held: the process ends. A fault the kernel raised comes
// back when the faulting instruction runs again, now under the action found at
// start; a signal that was sent is sent again, and arrives as the handler
// returns. Only async-signal-safe calls.
void restoreAndEnd(int signalNumber, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;  // for a handler found at start that returns
    lockTerminal();
    restoreLocked();
    sigaction(signalNumber, &previousActions[signalNumber], nullptr);
    if (!isFault(signalNumber) || info == nullptr || info->si_code <= 0) {
        raise(signalNumber);
    }
    errno = savedErrno;
}

void installStopHandler(int signalNumber);

// Gives the terminal back, stops by the signal's default action right here,
// and once continued takes the signal again and, in the foreground, the
// keyboard mode too.
void restoreAndStop(int signalNumber, siginfo_t* /*info*/, void* /*context*/) {
    const int savedErrno = errno;
    lockTerminal();
    restoreLocked();
    stopping = 1;  // keeps the main thread from setting the mode before we stop
    unlockTerminal();

    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signalNumber, &byDefault, nullptr);
    raise(signalNumber);
    // cppcheck-suppress unreachableCode ; raise() returns: the signal is blocked here
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);  // stopped here until SIGCONT

    pthread_sigmask(SIG_BLOCK, &only, nullptr);
    installStopHandler(signalNumber);
    lockTerminal();
    stopping = 0;
    setKeyModeLocked();
    unlockTerminal();
    errno = savedErrno;
}

void install(int signalNumber, void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    action.sa_mask = terminalSignals();
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

void installStopHandler(int signalNumber) {
    install(signalNumber, restoreAndStop);
}

// Signals ignored at start stay ignored: whoever started us wants it so.
void installHandlers() {
    for (const int signalNumber : kEndingSignals) {
        sigaction(signalNumber, nullptr, &previousActions[signalNumber]);
        if (previousActions[signalNumber].sa_handler != SIG_IGN) {
            handled[signalNumber] = true;
            install(signalNumber, restoreAndEnd);
        }
    }
    for (const int signalNumber : kStoppingSignals) {
        sigaction(signalNumber, nullptr, &previousActions[signalNumber]);
        if (previousActions[signalNumber].sa_handler != SIG_IGN) {
            handled[signalNumber] = true;
            installStopHandler(signalNumber);
        }
    }
}

void putBackHandlers() {
    for (int signalNumber = 0; signalNumber < NSIG; ++signalNumber) {
        if (handled[signalNumber]) {
            sigaction(signalNumber, &previousActions[signalNumber], nullptr);
            handled[signalNumber] = false;
        }
    }
}

// Sets the keyboard mode when the job has come to the foreground, for example
// by `fg` after a start in the background.
void followForeground() {
    if (modeWanted != 0 && modeChanged == 0) {
        const TerminalSection section;
        setKeyModeLocked();
    }
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

KeyboardMode::KeyboardMode() {
    if (!onControllingTerminal()) {
        return;  // a pipe, a file, or a terminal whose jobs are not ours
    }
    installHandlers();
    const TerminalSection section;
    modeWanted = 1;
    setKeyModeLocked();  // in the background: later, once in the foreground
}

KeyboardMode::~KeyboardMode() {
    if (modeWanted == 0) {
        return;
    }
    {
        const TerminalSection section;
        restoreLocked();
        modeWanted = 0;
    }
    putBackHandlers();
}

void restoreKeyboardModeForExit() {
    lockTerminal();
    restoreLocked();
}

bool keyPressed() {
    followForeground();
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
