#include "FrameCounter.h"

#include <limits>

#include "Streams.h"

static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "taken by the main thread");

std::uint64_t framesMissedBetween(int previousIndex, int index) {
    // In unsigned 32-bit arithmetic a wrap past the largest int is a step of one,
    // and an index that went back is a step of more than half the range.
    const auto step = static_cast<std::uint32_t>(index) - static_cast<std::uint32_t>(previousIndex);
    const bool forward = step != 0 && step <= std::numeric_limits<std::int32_t>::max();
    return forward ? step - 1 : 0;
}

void FrameCounter::onNewFrame(openni::VideoStream& stream) {
    if (!stream.isValid()) {
        return;
    }
    OniFrame* frame = nullptr;
    if (!readReadyFrame(stream, frame) || frame == nullptr) {
        return;
    }
    const int index = frame->frameIndex;
    oniFrameRelease(frame);
    count(index);
}

void FrameCounter::count(int frameIndex) {
    if (previousIndex_) {
        missed_.fetch_add(framesMissedBetween(*previousIndex_, frameIndex),
                          std::memory_order_relaxed);
    }
    previousIndex_ = frameIndex;
    frames_.fetch_add(1, std::memory_order_relaxed);
}

FrameTally FrameCounter::take() {
    FrameTally tally;
    tally.frames = frames_.exchange(0, std::memory_order_relaxed);
    tally.missed = missed_.exchange(0, std::memory_order_relaxed);
    return tally;
}
