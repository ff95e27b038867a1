#include "FrameImage.h"

#include <algorithm>

namespace vcam {

void encodePixel(std::uint8_t* out, int bytesPerPixel, std::uint64_t value) {
    if (bytesPerPixel == 3) {
        out[0] = static_cast<std::uint8_t>(value >> 16);
        out[1] = static_cast<std::uint8_t>(value >> 8);
        out[2] = static_cast<std::uint8_t>(value);
        return;
    }
    for (int i = 0; i < bytesPerPixel; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::size_t FrameImage::bufferBytes(const SensorConfig& sensor) {
    const std::int64_t rows = std::int64_t{sensor.stride} * std::max(sensor.height, 0);
    return static_cast<std::size_t>(std::max<std::int64_t>({rows, sensor.dataSize, 1}));
}

FrameImage::FrameImage(const SensorConfig& sensor)
    : dataSize_(static_cast<int>(sensor.dataSize)),
      bytesPerPixel_(sensor.bytesPerPixel),
      middle_(static_cast<std::uint64_t>(sensor.middle)),
      middleStep_(static_cast<std::uint64_t>(sensor.middleStep)) {
    bytes_.resize(bufferBytes(sensor));

    // The fill pattern runs on through row padding, pixel after pixel.
    const auto pixel = static_cast<std::size_t>(bytesPerPixel_);
    std::vector<std::uint8_t> fillPixel(pixel);
    encodePixel(fillPixel.data(), bytesPerPixel_, static_cast<std::uint64_t>(sensor.fill));
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        bytes_[i] = fillPixel[i % pixel];
    }

    const std::int64_t index = (std::int64_t{sensor.height} + 1) * std::int64_t{sensor.width} / 2;
    if (index >= 0 && (index + 1) * bytesPerPixel_ <= sensor.dataSize) {
        middleOffset_ = static_cast<std::size_t>(index * bytesPerPixel_);
        writeMiddle(bytes_.data(), 0);
    }
}

void FrameImage::writeMiddle(std::uint8_t* frameData, std::uint64_t frameNumber) const {
    if (middleOffset_) {
        // Unsigned arithmetic: the value wraps within the pixel's width.
        encodePixel(frameData + *middleOffset_, bytesPerPixel_,
                    middle_ + frameNumber * middleStep_);
    }
}

}  // namespace vcam
