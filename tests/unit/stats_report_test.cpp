#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "FrameCounter.h"
#include "StatsReport.h"

namespace {

using std::chrono::milliseconds;

std::string spanLine(const char* name, FrameTally span, double seconds, FrameTally total) {
    std::array<char, kStatsLineCapacity> line{};
    return {line.data(), formatSpanLine(name, span, seconds, total, line.data(), line.size())};
}

std::string totalLine(const char* name, FrameTally total, double seconds) {
    std::array<char, kStatsLineCapacity> line{};
    return {line.data(), formatTotalLine(name, total, seconds, line.data(), line.size())};
}

TEST(StatsLines, SpanLineGivesTheSpanAndTheTotalsSoFar) {
    EXPECT_EQ(spanLine("depth", {30, 0}, 1.0, {120, 2}),
              "depth: 30 frames, 30.0 fps, 0 missed (total 120 frames, 2 missed)\n");
    // The rate is over the real length of the span, not a nominal second.
    EXPECT_EQ(spanLine("color", {33, 4}, 1.1, {33, 4}),
              "color: 33 frames, 30.0 fps, 4 missed (total 33 frames, 4 missed)\n");
    EXPECT_EQ(spanLine("depth", {0, 0}, 1.0, {90, 0}),
              "depth: 0 frames, 0.0 fps, 0 missed (total 90 frames, 0 missed)\n");
}

TEST(StatsLines, TotalLineGivesTheTimeCountedAndItsRate) {
    EXPECT_EQ(totalLine("depth", {300, 2}, 10.0),
              "depth total: 300 frames in 10.0 s, 30.0 fps, 2 missed\n");
    // A key at once: no time has passed, and no rate is made up.
    EXPECT_EQ(totalLine("color", {0, 0}, 0.0),
              "color total: 0 frames in 0.0 s, 0.0 fps, 0 missed\n");
}

TEST(StatsLines, TheLargestCountsStillFitWithTheirNewline) {
    const FrameTally most{UINT64_MAX, UINT64_MAX};
    const std::string span = spanLine("depth", most, 1e-9, most);
    const std::string total = totalLine("depth", most, 1e-9);
    for (const std::string& line : {span, total}) {
        EXPECT_EQ(line.back(), '\n') << line;
        EXPECT_NE(line.find("18446744073709551615 missed"), std::string::npos) << line;
    }
}

// A report into a temporary file, on a clock the test moves.
class StatsReportTest : public ::testing::Test {
protected:
    StatsReportTest() : file_(std::tmpfile(), &std::fclose), report_(file_.get(), start_) {
        report_.add("depth", depth_);
        report_.add("color", color_);
    }

    static void countFrames(FrameCounter& counter, int first, int count, int step = 1) {
        for (int i = 0; i < count; ++i) {
            counter.count(first + i * step);
        }
    }

    [[nodiscard]] StatsClock::time_point at(int ms) const { return start_ + milliseconds(ms); }

    // Everything written so far, and only that since the last call.
    std::string written() {
        std::string text;
        std::fflush(file_.get());
        std::array<char, 256> chunk;
        std::size_t length = 0;
        std::fseek(file_.get(), static_cast<long>(read_), SEEK_SET);
        while ((length = std::fread(chunk.data(), 1, chunk.size(), file_.get())) > 0) {
            text.append(chunk.data(), length);
        }
        read_ += text.size();
        return text;
    }

    const StatsClock::time_point start_ = StatsClock::now();
    std::unique_ptr<std::FILE, decltype(&std::fclose)> file_;
    FrameCounter depth_;
    FrameCounter color_;
    StatsReport report_;
    std::size_t read_ = 0;
};

TEST_F(StatsReportTest, EachSecondPrintsEveryStreamOverTheRealTimeElapsed) {
    countFrames(depth_, 1, 30);
    countFrames(color_, 1, 5, 2);
    report_.reportDueSecond(at(999));
    EXPECT_EQ(written(), "");
    report_.reportDueSecond(at(1200));
    EXPECT_EQ(written(),
              "depth: 30 frames, 25.0 fps, 0 missed (total 30 frames, 0 missed)\n"
              "color: 5 frames, 4.2 fps, 4 missed (total 5 frames, 4 missed)\n");

    // The second that follows is due at 2 s, not 2.2 s: the seconds do not drift
    // with the poll. No color frame came in it.
    countFrames(depth_, 31, 8);
    report_.reportDueSecond(at(1900));
    EXPECT_EQ(written(), "");
    report_.reportDueSecond(at(2000));
    EXPECT_EQ(written(),
              "depth: 8 frames, 10.0 fps, 0 missed (total 38 frames, 0 missed)\n"
              "color: 0 frames, 0.0 fps, 0 missed (total 5 frames, 4 missed)\n");
}

TEST_F(StatsReportTest, AStallGivesOneLineOverItAndTheSecondsStartAfresh) {
    report_.reportDueSecond(at(1000));
    written();
    countFrames(depth_, 1, 40);
    report_.reportDueSecond(at(5000));  // stopped from 1 s to 5 s
    EXPECT_EQ(written(),
              "depth: 40 frames, 10.0 fps, 0 missed (total 40 frames, 0 missed)\n"
              "color: 0 frames, 0.0 fps, 0 missed (total 0 frames, 0 missed)\n");
    report_.reportDueSecond(at(5900));
    EXPECT_EQ(written(), "");
    report_.reportDueSecond(at(6000));
    EXPECT_NE(written(), "");
}

TEST_F(StatsReportTest, TotalsCountTheFramesSinceTheLastSecondsLines) {
    countFrames(depth_, 1, 30);
    report_.reportDueSecond(at(1000));
    written();
    countFrames(depth_, 33, 15);  // two missed before them
    countFrames(color_, 7, 3);
    report_.reportTotals(at(1500));
    EXPECT_EQ(written(),
              "depth total: 45 frames in 1.5 s, 30.0 fps, 2 missed\n"
              "color total: 3 frames in 1.5 s, 2.0 fps, 0 missed\n");
}

}  // namespace
