#pragma once

#include <cstdint>
#include <vector>

#include "MiddlePixelLine.h"

// Camera-sized frames held in memory, so that the per-frame path can be timed
// without a camera or a driver.
class SampleFrames {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 480;
    static constexpr int kDepthFormat = 100;
    static constexpr int kColorFormat = 200;
    // Neither depth nor RGB: the program reports it as unknown.
    static constexpr int kUnknownFormat = 203;

    SampleFrames()
        : depthPixels_(static_cast<std::size_t>(kWidth) * kHeight, 1000),
          colorBytes_(static_cast<std::size_t>(kWidth) * kHeight * 3, 0x7f) {}

    [[nodiscard]] FrameView depth() const {
        return view(kDepthFormat, depthPixels_.data(), depthBytes());
    }
    [[nodiscard]] FrameView color() const {
        return view(kColorFormat, colorBytes_.data(), colorBytes());
    }
    [[nodiscard]] FrameView unknown() const {
        return view(kUnknownFormat, depthPixels_.data(), depthBytes());
    }

private:
    static FrameView view(int format, const void* data, int dataSize) {
        FrameView frame;
        frame.width = kWidth;
        frame.height = kHeight;
        frame.pixelFormat = format;
        frame.data = data;
        frame.dataSize = dataSize;
        // Eight digits or more, like a camera's microsecond clock after a while.
        frame.timestamp = 123456789;
        return frame;
    }
    [[nodiscard]] int depthBytes() const {
        return static_cast<int>(depthPixels_.size() * sizeof(std::uint16_t));
    }
    [[nodiscard]] int colorBytes() const { return static_cast<int>(colorBytes_.size()); }

    std::vector<std::uint16_t> depthPixels_;
    std::vector<unsigned char> colorBytes_;
};
