#include "MiddlePixelLine.h"

#include <OniCEnums.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::int64_t kDepthPixelBytes = 2;
constexpr std::int64_t kRgbPixelBytes = 3;

// Index of the middle pixel as if the rows were packed, or -1 when that pixel
// lies outside the frame's pixels or its data. 64-bit arithmetic: the product of
// two 32-bit sizes cannot overflow it.
std::int64_t middleIndex(const FrameView& frame, std::int64_t pixelBytes) {
    if (frame.data == nullptr || frame.width <= 0 || frame.height <= 0) {
        return -1;
    }
    const std::int64_t width = frame.width;
    const std::int64_t height = frame.height;
    const std::int64_t index = (height + 1) * width / 2;
    const bool insidePixels = index < width * height;
    const bool insideData = (index + 1) * pixelBytes <= frame.dataSize;
    return insidePixels && insideData ? index : -1;
}

// The line of a frame in one of the library's depth formats, or in RGB.
int writeLine(const FrameView& frame, bool depth, char* line, std::size_t capacity) {
    const auto timestamp = static_cast<unsigned long long>(frame.timestamp);
    const std::int64_t pixelBytes = depth ? kDepthPixelBytes : kRgbPixelBytes;
    const std::int64_t index = middleIndex(frame, pixelBytes);
    if (index < 0) {
        return std::snprintf(line, capacity, "[%08llu] %s middle pixel outside frame\n", timestamp,
                             depth ? "Depth" : "Color");
    }
    const unsigned char* pixel = static_cast<const unsigned char*>(frame.data) + index * pixelBytes;
    if (!depth) {
        return std::snprintf(line, capacity, "[%08llu] Color RGB value 0x%02x%02x%02x\n", timestamp,
                             pixel[0], pixel[1], pixel[2]);
    }
    // Copied out: the frame data need not be aligned for a 16-bit read.
    std::uint16_t value = 0;
    std::memcpy(&value, pixel, sizeof value);
    return std::snprintf(line, capacity, "[%08llu] Depth middle index %8d\n", timestamp,
                         static_cast<int>(value));
}

std::size_t lengthWritten(int result, std::size_t capacity) {
    return result < 0 ? 0 : std::min(static_cast<std::size_t>(result), capacity - 1);
}

}  // namespace

// Any format but the library's depth and RGB ones is unknown to us.
std::size_t formatMiddlePixelLine(const FrameView& frame, char* line, std::size_t capacity) {
    const int format = frame.pixelFormat;
    const bool depth =
        format == ONI_PIXEL_FORMAT_DEPTH_1_MM || format == ONI_PIXEL_FORMAT_DEPTH_100_UM;
    const int written = depth || format == ONI_PIXEL_FORMAT_RGB888
                            ? writeLine(frame, depth, line, capacity)
                            : std::snprintf(line, capacity, "Unknown format\n");
    return lengthWritten(written, capacity);
}
