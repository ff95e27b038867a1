#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <thread>

#include "FrameCounter.h"

namespace {

FrameTally countAll(std::initializer_list<int> indexes) {
    FrameCounter counter;
    for (const int index : indexes) {
        counter.count(index);
    }
    return counter.take();
}

TEST(FramesMissed, AGapOfKMissesKMinusOne) {
    EXPECT_EQ(framesMissedBetween(7, 8), 0U);
    EXPECT_EQ(framesMissedBetween(7, 9), 1U);
    EXPECT_EQ(framesMissedBetween(1, 101), 99U);
}

TEST(FramesMissed, AnIndexThatDoesNotMoveOnMissesNone) {
    // A restarted stream numbers from the start again; a repeated index is no gap.
    EXPECT_EQ(framesMissedBetween(500, 1), 0U);
    EXPECT_EQ(framesMissedBetween(500, 0), 0U);
    EXPECT_EQ(framesMissedBetween(500, 500), 0U);
}

TEST(FramesMissed, AWrapPastTheLargestIntMovesOn) {
    EXPECT_EQ(framesMissedBetween(INT_MAX, INT_MIN), 0U);
    EXPECT_EQ(framesMissedBetween(INT_MAX - 1, INT_MIN + 1), 2U);
    EXPECT_EQ(framesMissedBetween(-2, 1), 2U);
}

TEST(FrameCounter, TheFirstFrameMissesNothingWhateverItsIndex) {
    const FrameTally tally = countAll({1000});
    EXPECT_EQ(tally.frames, 1U);
    EXPECT_EQ(tally.missed, 0U);
}

TEST(FrameCounter, GapsAddUpFromThePreviousFrameSeen) {
    const FrameTally tally = countAll({1, 2, 4, 5, 9});
    EXPECT_EQ(tally.frames, 5U);
    EXPECT_EQ(tally.missed, 1U + 3U);
}

TEST(FrameCounter, AfterARestartGapsCountFromTheNewIndexes) {
    const FrameTally tally = countAll({40, 41, 1, 2, 5});
    EXPECT_EQ(tally.frames, 5U);
    EXPECT_EQ(tally.missed, 2U);
}

TEST(FrameCounter, ATakeZeroesTheCountsButNotThePreviousIndex) {
    FrameCounter counter;
    counter.count(1);
    counter.count(3);
    const FrameTally first = counter.take();
    EXPECT_EQ(first.frames, 2U);
    EXPECT_EQ(first.missed, 1U);

    const FrameTally idle = counter.take();  // a second without frames
    EXPECT_EQ(idle.frames, 0U);
    EXPECT_EQ(idle.missed, 0U);

    counter.count(6);  // the gap spans the takes
    const FrameTally later = counter.take();
    EXPECT_EQ(later.frames, 1U);
    EXPECT_EQ(later.missed, 2U);
}

TEST(FrameCounter, TakesWhileFramesAreCountedLoseNone) {
    // The listener's thread counts while the main thread takes, as in a run; a
    // take that read and then zeroed in two steps would drop frames between.
    constexpr int kFrames = 200000;
    FrameCounter counter;
    std::atomic<bool> done{false};
    std::thread listener([&] {
        for (int index = 0; index < kFrames; ++index) {
            counter.count(2 * index);  // every other index missed
        }
        done = true;
    });
    FrameTally taken;
    while (!done) {
        const FrameTally tally = counter.take();
        taken.frames += tally.frames;
        taken.missed += tally.missed;
    }
    listener.join();
    const FrameTally rest = counter.take();
    EXPECT_EQ(taken.frames + rest.frames, static_cast<std::uint64_t>(kFrames));
    EXPECT_EQ(taken.missed + rest.missed, static_cast<std::uint64_t>(kFrames - 1));
}

}  // namespace
