#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "FrameImage.h"
#include "Scenario.h"

namespace vcam {
namespace {

SensorConfig smallSensor(SensorKind kind, int width, int height) {
    SensorConfig sensor = defaultSensor(kind);
    sensor.width = width;
    sensor.height = height;
    sensor.stride = std::max(0, width * sensor.bytesPerPixel);
    sensor.dataSize = std::int64_t{sensor.stride} * std::max(0, height);
    return sensor;
}

// Middle and fill differ, so that a pixel written at the wrong place shows.
SensorConfig paintedSensor(SensorKind kind, int width, int height, std::int64_t middle,
                           std::int64_t fill) {
    SensorConfig sensor = smallSensor(kind, width, height);
    sensor.middle = middle;
    sensor.fill = fill;
    return sensor;
}

// The packed middle index the program computes: ((height+1)*width)/2.
std::size_t middleIndex(int width, int height) {
    return static_cast<std::size_t>((height + 1) * width / 2);
}

TEST(FrameImage, DepthMiddleIsLittleEndianAndEverythingElseIsFill) {
    const FrameImage image(paintedSensor(SensorKind::Depth, 4, 3, 0x1234, 0xbeef));
    ASSERT_EQ(image.bytes().size(), 24U);
    const std::size_t offset = middleIndex(4, 3) * 2;
    ASSERT_EQ(image.middleOffset(), offset);
    for (std::size_t i = 0; i < image.bytes().size(); i += 2) {
        const int value = image.bytes()[i] | (image.bytes()[i + 1] << 8);
        EXPECT_EQ(value, i == offset ? 0x1234 : 0xbeef) << "byte " << i;
    }
}

TEST(FrameImage, ColorMiddleIsRedGreenBlue) {
    const SensorConfig sensor = smallSensor(SensorKind::Color, 3, 3);
    const FrameImage image(sensor);
    const std::size_t offset = middleIndex(3, 3) * 3;
    ASSERT_EQ(image.middleOffset(), offset);
    EXPECT_EQ(image.bytes()[offset], 0x0a);
    EXPECT_EQ(image.bytes()[offset + 1], 0xff);
    EXPECT_EQ(image.bytes()[offset + 2], 0x00);
    EXPECT_EQ(image.bytes()[0], 0);
}

TEST(FrameImage, OneBytePixelsKeepTheLowByte) {
    SensorConfig sensor = smallSensor(SensorKind::Ir, 5, 1);
    sensor.bytesPerPixel = 1;
    sensor.stride = 5;
    sensor.dataSize = 5;
    sensor.middle = 0x1ff;
    sensor.fill = 0x142;
    const FrameImage image(sensor);
    const std::vector<std::uint8_t> expected = {0x42, 0x42, 0x42, 0x42, 0x42};
    // Index 5 of a one-row frame lies past its five bytes.
    EXPECT_FALSE(image.middleOffset().has_value());
    EXPECT_EQ(image.bytes(), expected);
}

TEST(FrameImage, PaddedRowsAreFilledAndTheMiddleIgnoresStride) {
    SensorConfig sensor = paintedSensor(SensorKind::Depth, 2, 2, 0x0202, 0x0101);
    sensor.stride = 6;  // one pixel of padding per row
    sensor.dataSize = 12;
    const FrameImage image(sensor);
    const std::vector<std::uint8_t> expected = {1, 1, 1, 1, 1, 1, 2, 2, 1, 1, 1, 1};
    EXPECT_EQ(image.bytes(), expected);
}

TEST(FrameImage, MiddleOutsideTheDataIsNotWritten) {
    SensorConfig truncated = smallSensor(SensorKind::Depth, 4, 4);
    truncated.dataSize = static_cast<std::int64_t>(middleIndex(4, 4)) * 2 + 1;  // half a pixel
    const FrameImage cut(truncated);
    EXPECT_FALSE(cut.middleOffset().has_value());
    EXPECT_EQ(cut.bytes().size(), 32U);  // the buffer still holds every row
    EXPECT_EQ(cut.dataSize(), truncated.dataSize);

    for (const auto& [width, height] : {std::pair{0, 0}, {-4, 3}, {4, -3}, {640, 0}}) {
        const FrameImage empty(smallSensor(SensorKind::Depth, width, height));
        EXPECT_FALSE(empty.middleOffset().has_value()) << width << "x" << height;
        EXPECT_EQ(empty.dataSize(), 0) << width << "x" << height;
        EXPECT_GE(empty.bytes().size(), 1U) << width << "x" << height;
    }
}

TEST(FrameImage, SizeBeyondTheRowsGrowsTheBuffer) {
    SensorConfig sensor = paintedSensor(SensorKind::Depth, 2, 1, 0x0909, 0x0707);
    sensor.dataSize = 10;
    const FrameImage image(sensor);
    // Index 2 now lies inside the data, and the bytes past the row are fill.
    EXPECT_EQ(image.middleOffset(), 4U);
    const std::vector<std::uint8_t> expected = {7, 7, 7, 7, 9, 9, 7, 7, 7, 7};
    EXPECT_EQ(image.bytes(), expected);
}

TEST(FrameImage, MiddleMovesEachFrameAndWrapsAtThePixelWidth) {
    SensorConfig sensor = smallSensor(SensorKind::Depth, 2, 2);
    sensor.middle = 0xfffe;
    sensor.middleStep = 1;
    const FrameImage image(sensor);
    std::vector<std::uint8_t> frame = image.bytes();
    const std::size_t offset = *image.middleOffset();
    const auto valueOfFrame = [&](std::uint64_t number) {
        image.writeMiddle(frame.data(), number);
        return frame[offset] | (frame[offset + 1] << 8);
    };
    EXPECT_EQ(valueOfFrame(0), 0xfffe);
    EXPECT_EQ(valueOfFrame(1), 0xffff);
    EXPECT_EQ(valueOfFrame(2), 0);
    EXPECT_EQ(valueOfFrame(3), 1);

    sensor.middle = 5;
    sensor.middleStep = -2;
    const FrameImage down(sensor);
    down.writeMiddle(frame.data(), 3);
    EXPECT_EQ(frame[offset] | (frame[offset + 1] << 8), 0xffff);
}

}  // namespace
}  // namespace vcam
