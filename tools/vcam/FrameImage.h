// The bytes of one sensor's frames, computed once when the stream is created
// so that producing a frame is a single copy plus the moving middle value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "Scenario.h"

namespace vcam {

// Writes value as one pixel: bytes R,G,B of 0xRRGGBB for 3 bytes per pixel,
// otherwise the low bytes little-endian.
void encodePixel(std::uint8_t* out, int bytesPerPixel, std::uint64_t value);

class FrameImage {
public:
    explicit FrameImage(const SensorConfig& sensor);

    // The size of bytes() for that sensor, known without making it.
    static std::size_t bufferBytes(const SensorConfig& sensor);

    // At least one byte and at least dataSize(), as the library's frame buffer
    // must hold all of it.
    [[nodiscard]] const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    [[nodiscard]] int dataSize() const { return dataSize_; }
    // Byte offset of the middle pixel, unset when it lies outside the data.
    [[nodiscard]] std::optional<std::size_t> middleOffset() const { return middleOffset_; }

    // Puts the middle value of frame frameNumber (0 for the first) into a copy of bytes().
    void writeMiddle(std::uint8_t* frameData, std::uint64_t frameNumber) const;

private:
    std::vector<std::uint8_t> bytes_;
    int dataSize_;
    int bytesPerPixel_;
    std::uint64_t middle_;
    std::uint64_t middleStep_;
    std::optional<std::size_t> middleOffset_;
};

}  // namespace vcam
