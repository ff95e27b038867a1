#include <OniCEnums.h>
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "MiddlePixelLine.h"

namespace {

std::string lineFor(const FrameView& frame) {
    std::array<char, kMiddlePixelLineCapacity> line{};
    const std::size_t length = formatMiddlePixelLine(frame, line.data(), line.size());
    return {line.data(), length};
}

// A packed 16-bit depth frame whose pixel i holds the value i, so the printed
// value names the index that was read.
struct DepthFrame {
    std::vector<std::uint16_t> pixels;
    FrameView view;

    DepthFrame(int width, int height, int format = ONI_PIXEL_FORMAT_DEPTH_1_MM)
        : pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height)) {
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            pixels[i] = static_cast<std::uint16_t>(i);
        }
        view.width = width;
        view.height = height;
        view.pixelFormat = format;
        view.data = pixels.data();
        view.dataSize = static_cast<int>(pixels.size() * sizeof(std::uint16_t));
        view.timestamp = 42;
    }
};

struct ColorFrame {
    std::vector<unsigned char> bytes;
    FrameView view;

    ColorFrame(int width, int height) : bytes(static_cast<std::size_t>(width * height * 3), 0) {
        view.width = width;
        view.height = height;
        view.pixelFormat = ONI_PIXEL_FORMAT_RGB888;
        view.data = bytes.data();
        view.dataSize = static_cast<int>(bytes.size());
        view.timestamp = 42;
    }
};

TEST(MiddlePixelIndex, EvenHeightReadsCentreOfMiddleRow) {
    EXPECT_EQ(lineFor(DepthFrame(4, 4).view), "[00000042] Depth middle index       10\n");
    // Row 240, column 320 of a VGA frame.
    EXPECT_EQ(
        lineFor(DepthFrame(640, 480).view),
        "[00000042] Depth middle index    " + std::to_string((240 * 640 + 320) % 65536) + "\n");
}

TEST(MiddlePixelIndex, OddHeightReadsStartOfRowBelowMiddle) {
    EXPECT_EQ(lineFor(DepthFrame(4, 3).view), "[00000042] Depth middle index        8\n");
    // A single pixel: the index (1) is already past it.
    EXPECT_EQ(lineFor(DepthFrame(1, 1).view), "[00000042] Depth middle pixel outside frame\n");
}

TEST(MiddlePixelIndex, PaddedRowsAreStillIndexedAsPacked) {
    // Four 4-pixel rows of 16-bit pixels, each row padded to 12 bytes.
    std::vector<std::uint16_t> padded(std::size_t{6} * 4, 0);
    padded[10] = 1234;  // Packed index 10 lands in row 1 of the padded layout.
    FrameView view;
    view.width = 4;
    view.height = 4;
    view.pixelFormat = ONI_PIXEL_FORMAT_DEPTH_1_MM;
    view.data = padded.data();
    view.dataSize = static_cast<int>(padded.size() * sizeof(std::uint16_t));
    EXPECT_EQ(lineFor(view), "[00000000] Depth middle index     1234\n");
}

TEST(DepthField, IsEightWideRightAligned) {
    DepthFrame frame(4, 4);
    frame.pixels[10] = 7;
    EXPECT_EQ(lineFor(frame.view), "[00000042] Depth middle index        7\n");
    frame.pixels[10] = 65535;
    EXPECT_EQ(lineFor(frame.view), "[00000042] Depth middle index    65535\n");
}

TEST(DepthField, BothDepthUnitsPrintAlike) {
    EXPECT_EQ(lineFor(DepthFrame(4, 4, ONI_PIXEL_FORMAT_DEPTH_1_MM).view),
              lineFor(DepthFrame(4, 4, ONI_PIXEL_FORMAT_DEPTH_100_UM).view));
}

TEST(Timestamp, PaddedToEightDigitsButNeverCut) {
    DepthFrame frame(4, 4);
    frame.view.timestamp = 0;
    EXPECT_EQ(lineFor(frame.view).substr(0, 10), "[00000000]");
    frame.view.timestamp = 123456789;
    EXPECT_EQ(lineFor(frame.view).substr(0, 11), "[123456789]");
    frame.view.timestamp = UINT64_MAX;
    EXPECT_EQ(lineFor(frame.view), "[18446744073709551615] Depth middle index       10\n");
}

TEST(ColorBytes, PrintedRedGreenBlueInLowerCaseHex) {
    ColorFrame frame(4, 4);
    frame.bytes[30] = 0x0A;
    frame.bytes[31] = 0xFF;
    frame.bytes[32] = 0x00;
    EXPECT_EQ(lineFor(frame.view), "[00000042] Color RGB value 0x0aff00\n");
}

TEST(UnknownFormat, EveryOtherCodeIsUnknownWhateverTheData) {
    for (const int format : {102, 103, 201, 202, 0, -1, INT_MAX}) {
        DepthFrame frame(4, 4, format);
        EXPECT_EQ(lineFor(frame.view), "Unknown format\n") << format;
        frame.view.data = nullptr;
        EXPECT_EQ(lineFor(frame.view), "Unknown format\n") << format;
    }
}

TEST(OutsideFrame, OneRowAndEmptyFramesReadNothing) {
    const std::string outside = "[00000042] Depth middle pixel outside frame\n";
    // One row: the index equals the width, one past the last pixel, even when
    // the buffer happens to be larger.
    DepthFrame oneRow(4, 2);
    oneRow.view.height = 1;
    EXPECT_EQ(lineFor(oneRow.view), outside);
    for (const auto& [width, height] :
         std::vector<std::pair<int, int>>{{0, 0}, {0, 4}, {4, 0}, {-4, 4}, {4, -4}}) {
        DepthFrame frame(4, 4);
        frame.view.width = width;
        frame.view.height = height;
        EXPECT_EQ(lineFor(frame.view), outside) << width << "x" << height;
    }
}

TEST(OutsideFrame, TruncatedOrMissingDataReadsNothing) {
    DepthFrame depth(4, 4);
    depth.view.dataSize = 21;  // One byte short of the middle pixel's end.
    EXPECT_EQ(lineFor(depth.view), "[00000042] Depth middle pixel outside frame\n");
    depth.view.dataSize = 22;
    EXPECT_EQ(lineFor(depth.view), "[00000042] Depth middle index       10\n");
    depth.view.data = nullptr;
    EXPECT_EQ(lineFor(depth.view), "[00000042] Depth middle pixel outside frame\n");

    ColorFrame color(4, 4);
    color.view.dataSize = 32;
    EXPECT_EQ(lineFor(color.view), "[00000042] Color middle pixel outside frame\n");
    color.view.dataSize = -1;
    EXPECT_EQ(lineFor(color.view), "[00000042] Color middle pixel outside frame\n");
}

TEST(OutsideFrame, HugeSizesDoNotOverflowIntoAValidIndex) {
    // (height + 1) * width overflows 32 bits here; done in 32 bits it could wrap
    // to a small index inside the tiny buffer.
    DepthFrame frame(4, 4);
    frame.view.width = INT_MAX;
    frame.view.height = INT_MAX;
    EXPECT_EQ(lineFor(frame.view), "[00000042] Depth middle pixel outside frame\n");
    frame.view.width = 65536;
    frame.view.height = 65535;
    EXPECT_EQ(lineFor(frame.view), "[00000042] Depth middle pixel outside frame\n");
}

TEST(LineBuffer, ShortBufferIsCutAndTerminated) {
    std::array<char, 8> line{};
    const std::size_t length =
        formatMiddlePixelLine(DepthFrame(4, 4).view, line.data(), line.size());
    EXPECT_EQ(length, 7U);
    EXPECT_EQ(std::string(line.data()), "[000000");
}

}  // namespace
