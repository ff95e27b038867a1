#include "Console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>

#include "TerminalMode.h"

namespace {

using Clock = std::chrono::steady_clock;

long millisecondsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Puts a pipe in place of standard input for one test, and puts stdin back.
class PipedStdin : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(pipe(ends_.data()), 0);
        savedStdin_ = dup(STDIN_FILENO);
        ASSERT_GE(savedStdin_, 0);
        ASSERT_EQ(dup2(ends_[0], STDIN_FILENO), STDIN_FILENO);
        close(ends_[0]);
    }
    void TearDown() override {
        closeWriteEnd();
        dup2(savedStdin_, STDIN_FILENO);
        close(savedStdin_);
    }
    void writeKey() { ASSERT_EQ(write(ends_[1], "x", 1), 1); }
    void closeWriteEnd() {
        if (ends_[1] >= 0) {
            close(ends_[1]);
            ends_[1] = -1;
        }
    }

private:
    std::array<int, 2> ends_ = {-1, -1};
    int savedStdin_ = -1;
};

TEST_F(PipedStdin, AByteIsAKeyAndIsNotConsumed) {
    EXPECT_FALSE(takeStopThenTestKey());
    writeKey();
    EXPECT_TRUE(takeStopThenTestKey());
    EXPECT_TRUE(takeStopThenTestKey());  // Still waiting: the test does not read it.
}

TEST_F(PipedStdin, EndOfInputIsNotAKeyAndDoesNotShortenThePause) {
    closeWriteEnd();
    EXPECT_FALSE(takeStopThenTestKey());
    const auto start = Clock::now();
    pauseMilliseconds(100);
    EXPECT_GE(millisecondsSince(start), 95);
}

TEST_F(PipedStdin, PauseEndsEarlyWhenAKeyArrives) {
    // The pause is long and the bound half of it, so that no load on the
    // machine can delay the typist enough to look like a pause run out.
    std::thread typist([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        writeKey();
    });
    const auto start = Clock::now();
    pauseMilliseconds(20000);
    typist.join();
    EXPECT_LT(millisecondsSince(start), 10000);
    EXPECT_TRUE(takeStopThenTestKey());
}

TEST_F(PipedStdin, PauseLastsItsTimeWithoutInput) {
    const auto start = Clock::now();
    pauseMilliseconds(100);
    EXPECT_GE(millisecondsSince(start), 95);
}

// A child process in a session of its own whose controlling terminal is a new
// pseudo-terminal; the parent keeps the master side and steps the child
// through its checks, one byte over a pipe per step.
class TerminalSession {
public:
    TerminalSession() {
        if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0 ||
            pipe(toChild_.data()) != 0 || pipe(toParent_.data()) != 0) {
            ADD_FAILURE() << "no pseudo-terminal or pipe";
        }
        tcgetattr(master_, &before_);
    }
    ~TerminalSession() {
        for (const int fd :
             {master_, slave_, toChild_[0], toChild_[1], toParent_[0], toParent_[1]}) {
            close(fd);
        }
    }
    TerminalSession(const TerminalSession&) = delete;
    TerminalSession& operator=(const TerminalSession&) = delete;

    // Runs `body` in the child with standard input on the terminal (or on
    // /dev/null) and returns the child's exit status; `parent` runs meanwhile.
    template <typename Child, typename Parent>
    int run(bool stdinOnTerminal, Child body, Parent parent) {
        const pid_t child = fork();
        if (child == 0) {
            setsid();
            ioctl(slave_, TIOCSCTTY, 0);
            dup2(stdinOnTerminal ? slave_ : open("/dev/null", O_RDONLY), STDIN_FILENO);
            _exit(body() ? 0 : 1);
        }
        parent();
        if (lost_) {
            kill(child, SIGKILL);  // its jobs die with it
        }
        int status = -1;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Each side waits for the other at a step; a lost partner ends the wait, and
    // so does a child that hangs.
    void tellChild() const { notify(toChild_[1]); }
    [[nodiscard]] bool childSaysSo() const { return awaitSignal(toParent_[0]); }
    void tellParent() const { notify(toParent_[1]); }
    [[nodiscard]] bool parentSaysSo() const { return awaitSignal(toChild_[0]); }

    [[nodiscard]] termios now() const {
        termios mode{};
        tcgetattr(master_, &mode);
        return mode;
    }
    [[nodiscard]] bool unchanged() const {
        const termios mode = now();
        return mode.c_lflag == before_.c_lflag && mode.c_cc[VMIN] == before_.c_cc[VMIN];
    }
    void type(const char* keys) const { EXPECT_GT(write(master_, keys, strlen(keys)), 0); }

private:
    static void notify(int fd) { EXPECT_EQ(write(fd, "s", 1), 1); }
    bool awaitSignal(int fd) const {
        pollfd ready{fd, POLLIN, 0};
        char byte = 0;
        if (poll(&ready, 1, 20000) == 1 && read(fd, &byte, 1) == 1) {
            return true;
        }
        lost_ = true;
        return false;
    }

    int master_ = -1;
    int slave_ = -1;
    std::array<int, 2> toChild_ = {-1, -1};
    std::array<int, 2> toParent_ = {-1, -1};
    termios before_{};
    mutable bool lost_ = false;
};

bool singleKey(const termios& mode) {
    return (mode.c_lflag & (ICANON | ECHO)) == 0 && (mode.c_lflag & ISIG) != 0;
}

TEST(KeyboardModeOnTerminal, ForegroundGetsSingleKeysAndTheModeBackAfterwards) {
    TerminalSession session;
    const int status = session.run(
        true,
        [&] {
            bool keySeen = false;
            {
                const KeyboardMode mode;
                session.tellParent();          // the mode is set
                if (session.parentSaysSo()) {  // a key was typed
                    pauseMilliseconds(10000);  // ends when it arrives
                    keySeen = takeStopThenTestKey();
                }
            }
            session.tellParent();                      // the mode is back
            return keySeen && !takeStopThenTestKey();  // the key went with the old mode
        },
        [&] {
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(singleKey(session.now()));
            session.type("q");
            session.tellChild();
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(session.unchanged());
        });
    EXPECT_EQ(status, 0);
}

TEST(KeyboardModeOnTerminal, BackgroundLeavesTheTerminalAndItsInputAlone) {
    TerminalSession session;
    const int status = session.run(
        true,
        [&] {
            // Another process group takes the foreground; this one is a
            // background job from now on.
            const pid_t foreground = fork();
            if (foreground == 0) {
                setpgid(0, 0);
                pause();
                _exit(0);
            }
            setpgid(foreground, foreground);
            tcsetpgrp(STDIN_FILENO, foreground);
            bool keySeen = true;
            {
                const KeyboardMode mode;
                session.tellParent();
                // Once the foreground job's input has arrived.
                pollfd input{STDIN_FILENO, POLLIN, 0};
                keySeen =
                    !session.parentSaysSo() || poll(&input, 1, 10000) != 1 || takeStopThenTestKey();
            }
            kill(foreground, SIGKILL);
            waitpid(foreground, nullptr, 0);
            return !keySeen;
        },
        [&] {
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(session.unchanged());
            session.type("ls\n");
            session.tellChild();
        });
    EXPECT_EQ(status, 0);  // no key seen, and no stop by SIGTTOU on the way out
    EXPECT_TRUE(session.unchanged());
}

// A job of the session that the test's child leads, in the foreground: a job
// the session leader waits for, so that stop signals stop it. The leader tells
// the parent once the job has stopped and continues it when told. The job
// starts once it is the foreground job, as a shell's job does; before, it
// would find itself in the background and leave the terminal alone.
template <typename Job>
pid_t startForegroundJob(Job body) {
    std::array<int, 2> go = {-1, -1};
    if (pipe(go.data()) != 0) {
        return -1;
    }
    const pid_t job = fork();
    if (job == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);  // gone with a leader that is killed
        close(go[1]);
        char byte = 0;
        const bool givenForeground = read(go[0], &byte, 1) == 1;
        _exit(givenForeground && body() ? 0 : 1);
    }
    setpgid(job, job);
    tcsetpgrp(STDIN_FILENO, job);
    EXPECT_EQ(write(go[1], "g", 1), 1);  // else the job reads an end and fails
    close(go[0]);
    close(go[1]);
    return job;
}

template <typename Job>
bool runJobThatStops(const TerminalSession& session, Job body) {
    const pid_t job = startForegroundJob(body);
    int status = 0;
    if (waitpid(job, &status, WUNTRACED) != job || !WIFSTOPPED(status) ||
        WSTOPSIG(status) != SIGTSTP) {
        return false;
    }
    session.tellParent();  // stopped
    static_cast<void>(session.parentSaysSo());
    kill(job, SIGCONT);
    return waitpid(job, &status, 0) == job && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(KeyboardModeOnTerminal, StopWaitsForTheKeyTestAndGivesTheTerminalBackMeanwhile) {
    TerminalSession session;
    const int status = session.run(
        true,
        [&] {
            return runJobThatStops(session, [&] {
                // Tells the parent and waits for its go.
                const auto step = [&] {
                    session.tellParent();
                    return session.parentSaysSo();
                };
                const KeyboardMode mode;
                raise(SIGTSTP);  // only noted: the job goes on
                if (!step()) {   // running, in single-key mode
                    return false;
                }
                static_cast<void>(takeStopThenTestKey());  // stops here, until continued
                if (!step()) {                             // single keys again
                    return false;
                }
                // Put back for an exit, the mode stays so, and the terminal is
                // free for whoever comes next.
                restoreKeyboardModeForExit();
                static_cast<void>(takeStopThenTestKey());
                return step();
            });
        },
        [&] {
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(singleKey(session.now()));
            session.tellChild();
            EXPECT_TRUE(session.childSaysSo());  // the job has stopped
            EXPECT_TRUE(session.unchanged());
            session.tellChild();
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(singleKey(session.now()));
            session.tellChild();
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(session.unchanged());
            session.tellChild();
        });
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(session.unchanged());
}

// A shell that saw a pipeline stop through another of its processes may
// continue the job before camwatch took its noted stop: camwatch must then go
// on, not stop later with no one left to continue it.
TEST(KeyboardModeOnTerminal, AContinueBeforeTheKeyTestCancelsTheNotedStop) {
    TerminalSession session;
    const auto jobGoesOn = [] {
        const pid_t job = startForegroundJob([] {
            const KeyboardMode mode;
            raise(SIGTSTP);  // only noted
            raise(SIGCONT);  // and forgotten
            static_cast<void>(takeStopThenTestKey());
            return true;
        });
        int jobStatus = 0;
        const bool ended = waitpid(job, &jobStatus, WUNTRACED) == job && WIFEXITED(jobStatus) &&
                           WEXITSTATUS(jobStatus) == 0;
        if (!ended) {  // stopped: gone with it
            kill(job, SIGKILL);
            waitpid(job, nullptr, 0);
        }
        return ended;
    };
    EXPECT_EQ(session.run(true, jobGoesOn, [] {}), 0);
    EXPECT_TRUE(session.unchanged());
}

TEST(KeyboardModeWithoutTerminal, LeavesNonTerminalStdinAlone) {
    // The controlling terminal is there, but standard input is /dev/null.
    TerminalSession session;
    const int status = session.run(
        false,
        [&] {
            const KeyboardMode mode;
            session.tellParent();
            return session.parentSaysSo() && !takeStopThenTestKey();
        },
        [&] {
            EXPECT_TRUE(session.childSaysSo());
            EXPECT_TRUE(session.unchanged());
            session.type("x");
            session.tellChild();
        });
    EXPECT_EQ(status, 0);
}

}  // namespace
