#ifndef _WIN32

#include "SignalPolicy.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>

#include "Console.h"

namespace {

constexpr std::array<int, 10> kEndingSignals = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT, SIGPIPE,
                                                SIGSEGV, SIGBUS,  SIGFPE, SIGILL,  SIGABRT};
constexpr std::array<int, 3> kStoppingSignals = {SIGTSTP, SIGTTIN, SIGTTOU};

// Written before any handler is installed, read by handlers afterwards.
std::array<struct sigaction, NSIG> actionsFound{};

// Atomic, not volatile sig_atomic_t: a handler on another thread is not ordered
// with the main thread by anything else. Lock-free, so handlers may use it.
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

void noteStop(int signalNumber, siginfo_t* /*info*/, void* /*context*/) {
    notedStop.store(signalNumber);
}

void install(int signalNumber, void (*handler)(int, siginfo_t*, void*)) {
    struct sigaction action {};
    action.sa_sigaction = handler;
    sigfillset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

template <std::size_t N>
void takeEach(const std::array<int, N>& signals, void (*handler)(int, siginfo_t*, void*)) {
    for (const int signalNumber : signals) {
        sigaction(signalNumber, nullptr, &actionsFound[signalNumber]);
        if (actionsFound[signalNumber].sa_handler != SIG_IGN) {
            install(signalNumber, handler);
        }
    }
}

template <std::size_t N>
void giveBackEach(const std::array<int, N>& signals) {
    for (const int signalNumber : signals) {
        sigaction(signalNumber, &actionsFound[signalNumber], nullptr);
    }
}

}  // namespace

void takeSignals() {
    takeEach(kEndingSignals, restoreAndEnd);
    takeEach(kStoppingSignals, noteStop);
}

void giveBackSignals() {
    giveBackEach(kEndingSignals);
    giveBackEach(kStoppingSignals);
}

int takeNotedStop() {
    return notedStop.exchange(0);
}

void stopBy(int signalNumber) {
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signalNumber, &byDefault, nullptr);
    raise(signalNumber);
    // cppcheck-suppress unreachableCode ; raise() returns once we are continued
    install(signalNumber, noteStop);
}

#endif
