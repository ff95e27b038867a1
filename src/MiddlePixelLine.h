#pragma once

#include <cstddef>
#include <cstdint>

// What reportMiddlePixel needs to know of one frame, taken out of the library's
// frame reference so that the per-frame arithmetic can run without a camera.
struct FrameView {
    int width = 0;
    int height = 0;
    int pixelFormat = 0;
    const void* data = nullptr;
    int dataSize = 0;
    std::uint64_t timestamp = 0;
};

// Room for the longest line formatMiddlePixelLine writes, with its NUL.
constexpr std::size_t kMiddlePixelLineCapacity = 96;

// Writes the report line for one frame, newline included, into `line` and
// returns its length. The middle pixel is read only when it lies inside both the
// frame's pixels and its data; a frame whose middle pixel does not gives
//   "[<timestamp>] Depth middle pixel outside frame\n" (or "Color ...").
// `capacity` must be at least kMiddlePixelLineCapacity.
std::size_t formatMiddlePixelLine(const FrameView& frame, char* line, std::size_t capacity);
