#ifndef _WIN32

#include "TeardownBound.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <string_view>

#include "TerminalMode.h"

namespace {

// Atomic, not volatile sig_atomic_t, to be ordered with a handler on any thread.
std::atomic<int> statusAtTimeout{0};
static_assert(std::atomic<int>::is_always_lock_free, "read in a signal handler");
struct sigaction previousAlarmAction {};

constexpr std::string_view kMessage = "camwatch: the camera library did not shut down\n";

// Only async-signal-safe calls.
void endTeardown(int /*signalNumber*/) {
    restoreKeyboardModeForExit();
    const ssize_t written = write(STDERR_FILENO, kMessage.data(), kMessage.size());
    static_cast<void>(written);  // nothing is left to tell about a failure
    _exit(statusAtTimeout.load());
}

}  // namespace

TeardownBound::TeardownBound(int exitStatus) {
    statusAtTimeout = exitStatus;
    struct sigaction action {};
    action.sa_handler = endTeardown;
    sigfillset(&action.sa_mask);  // SIGTTOU included: the mode is written from here
    sigaction(SIGALRM, &action, &previousAlarmAction);
    // A mask inherited from whoever started us must not hold the alarm back.
    sigset_t alarmOnly;
    sigemptyset(&alarmOnly);
    sigaddset(&alarmOnly, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarmOnly, nullptr);
    alarm(kTeardownBoundSeconds);
}

TeardownBound::~TeardownBound() {
    alarm(0);
    sigaction(SIGALRM, &previousAlarmAction, nullptr);
}

#endif
