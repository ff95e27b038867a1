#include "Console.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

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
        ASSERT_EQ(pipe(ends_), 0);
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
    int ends_[2] = {-1, -1};
    int savedStdin_ = -1;
};

TEST_F(PipedStdin, AByteIsAKeyAndIsNotConsumed) {
    EXPECT_FALSE(keyPressed());
    writeKey();
    EXPECT_TRUE(keyPressed());
    EXPECT_TRUE(keyPressed());  // Still waiting: the test does not read it.
}

TEST_F(PipedStdin, EndOfInputIsNotAKeyAndDoesNotShortenThePause) {
    closeWriteEnd();
    EXPECT_FALSE(keyPressed());
    const auto start = Clock::now();
    pauseMilliseconds(100);
    EXPECT_GE(millisecondsSince(start), 95);
}

TEST_F(PipedStdin, PauseEndsEarlyWhenAKeyArrives) {
    std::thread typist([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        writeKey();
    });
    const auto start = Clock::now();
    pauseMilliseconds(2000);
    typist.join();
    EXPECT_LT(millisecondsSince(start), 1000);
    EXPECT_TRUE(keyPressed());
}

TEST_F(PipedStdin, PauseLastsItsTimeWithoutInput) {
    const auto start = Clock::now();
    pauseMilliseconds(100);
    EXPECT_GE(millisecondsSince(start), 95);
}

TEST(KeyboardModeWithoutTerminal, LeavesNonTerminalStdinAlone) {
    const int savedStdin = dup(STDIN_FILENO);
    const int devNull = open("/dev/null", O_RDONLY);
    ASSERT_GE(devNull, 0);
    dup2(devNull, STDIN_FILENO);
    close(devNull);
    {
        const KeyboardMode mode;
        EXPECT_FALSE(keyPressed());
    }
    dup2(savedStdin, STDIN_FILENO);
    close(savedStdin);
}

}  // namespace
