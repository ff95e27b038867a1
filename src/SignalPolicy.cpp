#ifndef _WIN32

#include "SignalPolicy.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "TerminalMode.h"

namespace {

constexpr std::array<int, 14> kSignals = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGPIPE,
                                          SIGSEGV, SIGBUS,  SIGFPE,  SIGILL,  SIGABRT,
                                          SIGTSTP, SIGTTIN, SIGTTOU, SIGCONT};

bool isJobControl(int signalNumber) {
    return signalNumber == SIGTSTP || signalNumber == SIGTTIN || signalNumber == SIGTTOU ||
           signalNumber == SIGCONT;
}

// Written before any handler is installed, read by handlers afterwards.
std::array<struct sigaction, NSIG> actionsFound{};

// Atomic, not volatile sig_atomic_t, to be ordered with a handler on any thread.
std::atomic<int> notedStop{0};
static_assert(std::atomic<int>::is_always_lock_free, "used in signal handlers");

bool isFault(int signalNumber) {
    return signalNumber == SIGSEGV || signalNumber == SIGBUS || signalNumber == SIGFPE ||
           signalNumber == SIGILL;
}

// A fault the kernel raised comes back when the faulting instruction runs
// again, now under the action found at start; a signal that was sent is sent
// again, and arrives as the handler returns. Only async-signal-safe calls.
void restoreAndEnd(int signalNumber, siginfo_t* info, void* /*context*/) {
    const int savedErrno = errno;  // for an action found at start that returns
    restoreKeyboardModeForExit();
    sigaction(signalNumber, &actionsFound[signalNumber], nullptr);
    if (!isFault(signalNumber) || info == nullptr || info->si_code <= 0) {
        raise(signalNumber);
    }
    errno = savedErrno;
}

// A continue cancels a stop not yet taken, as the kernel's does: a shell that
// saw the job stop through a pipeline's subshell may continue it before we stop.
void noteStop(int signalNumber, siginfo_t* /*info*/, void* /*context*/) {
    notedStop.store(signalNumber == SIGCONT ? 0 : signalNumber);
}

void install(int signalNumber, void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void takeSignals() {
    for (const int signalNumber : kSignals) {
        sigaction(signalNumber, nullptr, &actionsFound[signalNumber]);
        if (actionsFound[signalNumber].sa_handler != SIG_IGN) {
            install(signalNumber, isJobControl(signalNumber) ? noteStop : restoreAndEnd);
        }
    }
}

// An ignored signal gets its SIG_IGN back: nothing changes for it.
void giveBackSignals() {
    for (const int signalNumber : kSignals) {
        sigaction(signalNumber, &actionsFound[signalNumber], nullptr);
    }
}

int notedStopSignal() {
    return notedStop.load();
}

void stopBy(int signalNumber) {
    std::signal(signalNumber, SIG_DFL);
    if (notedStop.exchange(0) != 0) {  // taken only now: a continue may cancel it
        raise(signalNumber);
    }
    // cppcheck-suppress unreachableCode ; raise() returns once we are continued
    install(signalNumber, noteStop);
}

#endif
