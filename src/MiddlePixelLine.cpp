#include "MiddlePixelLine.h"

#include <OniCEnums.h>

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

int writeOutsideFrame(char* line, std::size_t capacity, const char* stream,
                      unsigned long long timestamp) {
    return std::snprintf(line, capacity, "[%08llu] %s middle pixel outside frame\n", timestamp,
                         stream);
}

int writeDepth(const FrameView& frame, char* line, std::size_t capacity) {
    const auto timestamp = static_cast<unsigned long long>(frame.timestamp);
    const std::int64_t index = middleIndex(frame, kDepthPixelBytes);
    if (index < 0) {
        return writeOutsideFrame(line, capacity, "Depth", timestamp);
    }
    // Copied out: the frame data need not be aligned for a 16-bit read.
    std::uint16_t depth = 0;
    std::memcpy(&depth, static_cast<const unsigned char*>(frame.data) + index * kDepthPixelBytes,
                sizeof depth);
    return std::snprintf(line, capacity, "[%08llu] Depth middle index %8d\n", timestamp,
                         static_cast<int>(depth));
}

int writeColor(const FrameView& frame, char* line, std::size_t capacity) {
    const auto timestamp = static_cast<unsigned long long>(frame.timestamp);
    const std::int64_t index = middleIndex(frame, kRgbPixelBytes);
    if (index < 0) {
        return writeOutsideFrame(line, capacity, "Color", timestamp);
    }
    const unsigned char* pixel =
        static_cast<const unsigned char*>(frame.data) + index * kRgbPixelBytes;
    return std::snprintf(line, capacity, "[%08llu] Color RGB value 0x%02x%02x%02x\n", timestamp,
                         pixel[0], pixel[1], pixel[2]);
}

std::size_t lengthWritten(int result, std::size_t capacity) {
    if (result < 0) {
        return 0;
    }
    const auto length = static_cast<std::size_t>(result);
    return length < capacity ? length : capacity - 1;
}

}  // namespace

// The library's depth and RGB formats are reported; any other code is unknown to us.
std::size_t formatMiddlePixelLine(const FrameView& frame, char* line, std::size_t capacity) {
    int written = 0;
    if (frame.pixelFormat == ONI_PIXEL_FORMAT_DEPTH_1_MM ||
        frame.pixelFormat == ONI_PIXEL_FORMAT_DEPTH_100_UM) {
        written = writeDepth(frame, line, capacity);
    } else if (frame.pixelFormat == ONI_PIXEL_FORMAT_RGB888) {
        written = writeColor(frame, line, capacity);
    } else {
        written = std::snprintf(line, capacity, "Unknown format\n");
    }
    return lengthWritten(written, capacity);
}
