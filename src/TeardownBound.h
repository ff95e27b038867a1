#pragma once

// A camera library that does not shut down must not keep the program, or the
// terminal, forever. While a TeardownBound lives, a teardown that lasts longer
// than kTeardownBoundSeconds puts the terminal back, writes
// "camwatch: the camera library did not shut down" on standard error and ends
// the process at once with `exitStatus`. Destroyed in time, it leaves no trace.
//
// The bound is an alarm: a timer of the process, no thread of our own. Create
// at most one at a time.
constexpr unsigned kTeardownBoundSeconds = 5;

class TeardownBound {
public:
    explicit TeardownBound(int exitStatus);
    ~TeardownBound();
    TeardownBound(const TeardownBound&) = delete;
    TeardownBound& operator=(const TeardownBound&) = delete;
};
