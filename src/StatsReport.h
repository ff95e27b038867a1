#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <vector>

#include "FrameCounter.h"

// The lines of --stats, printed by the main thread from the streams' frame
// counters: per stream, one line each second and one total line at the end.
//   depth: 30 frames, 30.1 fps, 0 missed (total 120 frames, 2 missed)
//   depth total: 300 frames in 10.0 s, 30.0 fps, 2 missed
// A rate is the frames over the real time they came in, measured on the
// steady clock; the key poll makes a "second" a little longer now and then.

using StatsClock = std::chrono::steady_clock;

// Room for the longest line either function writes, with its NUL.
constexpr std::size_t kStatsLineCapacity = 192;

// Frames a second over `seconds`; 0 when no time has passed.
double framesPerSecond(std::uint64_t frames, double seconds);

// One stream's line for a span of `seconds` that delivered `span`, with the
// totals so far (the span's included). Returns its length, newline included.
std::size_t formatSpanLine(const char* name, const FrameTally& span, double seconds,
                           const FrameTally& total, char* line, std::size_t capacity);

// One stream's total line over the `seconds` it was counted.
std::size_t formatTotalLine(const char* name, const FrameTally& total, double seconds, char* line,
                            std::size_t capacity);

class StatsReport {
public:
    // Counting starts at `start`; lines go to `out` (standard output but for tests).
    StatsReport(std::FILE* out, StatsClock::time_point start);

    // Reports `counter`'s stream under `name` (a string that outlives the report).
    void add(const char* name, FrameCounter& counter);

    // Once a second has passed since the last lines, one line per stream for the
    // time since then. The seconds are counted from the start, so they do not
    // drift with the poll; after a stall (a stopped job) the lines that fell due
    // come as one line over the whole stall.
    void reportDueSecond(StatsClock::time_point now);

    // One total line per stream, the frames since the last second's line included.
    void reportTotals(StatsClock::time_point now);

private:
    struct Stream {
        const char* name;
        FrameCounter* counter;
        FrameTally total;
    };

    std::FILE* out_;
    StatsClock::time_point start_;
    StatsClock::time_point lastLines_;
    StatsClock::time_point nextLines_;
    std::vector<Stream> streams_;
};
