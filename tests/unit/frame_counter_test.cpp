#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <initializer_list>
#include <thread>

#include "FrameCounter.h"

namespace {

TEST(FramesMissed, AStepOfKMissesKMinusOneAndNoStepForwardMissesNone) {
    struct Case {
        int previous;
        int index;
        std::uint64_t missed;
    };
    for (const Case& c :
         {Case{7, 8, 0}, Case{7, 9, 1}, Case{1, 101, 99},
          // A restarted stream numbers from the start again.
          Case{500, 1, 0}, Case{500, 0, 0}, Case{500, 500, 0},
          // A wrap past the largest int moves on.
          Case{INT_MAX, INT_MIN, 0}, Case{INT_MAX - 1, INT_MIN + 1, 2}, Case{-2, 1, 2}}) {
        EXPECT_EQ(framesMissedBetween(c.previous, c.index), c.missed)
            << c.previous << " then " << c.index;
    }
}

TEST(FrameCounter, GapsCountFromThePreviousFrameSeenAndTakesZeroTheCounts) {
    FrameCounter counter;
    // The first frame misses nothing whatever its index; after the restart to
    // 1, gaps count from the new indexes.
    for (const int index : {1000, 1001, 1004, 1, 2, 5}) {
        counter.count(index);
    }
    const FrameTally first = counter.take();
    EXPECT_EQ(first.frames, 6U);
    EXPECT_EQ(first.missed, 2U + 2U);

    const FrameTally idle = counter.take();  // a second without frames
    EXPECT_EQ(idle.frames, 0U);
    EXPECT_EQ(idle.missed, 0U);

    counter.count(8);  // the gap spans the takes
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
