#pragma once

#include <OpenNI.h>

#include <atomic>
#include <cstdint>
#include <optional>

// What one stream delivered over a span of time: the frames handed over, and
// the frames the driver numbered but that never arrived.
struct FrameTally {
    std::uint64_t frames = 0;
    std::uint64_t missed = 0;
};

// Frames missed between two frames seen one after the other, from the driver's
// frame index: a step of k misses k - 1. An index that does not move forward
// (the stream restarted and numbers from the start again) misses none; one
// that wraps past the largest int does move forward.
std::uint64_t framesMissedBetween(int previousIndex, int index);

// The --stats listener of one stream: it reads each new frame, takes its index
// and gives it back at once, so it holds no frame. The counts live in lock-free
// atomics that the main thread takes, and zeroes, once a second.
class FrameCounter : public openni::VideoStream::NewFrameListener {
public:
    FrameCounter() = default;
    FrameCounter(const FrameCounter&) = delete;
    FrameCounter& operator=(const FrameCounter&) = delete;
    ~FrameCounter() override = default;

    void onNewFrame(openni::VideoStream& stream) override;

    // Counts one frame by its driver index. The library calls a listener for
    // one frame at a time, so only one thread at a time gets here.
    void count(int frameIndex);

    // The frames and missed frames counted since the last take, zeroed. Each
    // frame and each gap lands in exactly one take; a take made while a frame
    // is being counted may show that frame's gap and the frame in two takes.
    FrameTally take();

private:
    std::atomic<std::uint64_t> frames_{0};
    std::atomic<std::uint64_t> missed_{0};
    std::optional<int> previousIndex_;  // the listener's own; never read by the main thread
};
