#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PixelFormats.h"
#include "VideoModes.h"
#include "WholeNumber.h"

namespace {

ModeRequest parsed(const std::string& text) {
    std::string error;
    const std::optional<ModeRequest> request = parseModeRequest(text, error);
    EXPECT_TRUE(request) << text << ": " << error;
    return request.value_or(ModeRequest{});
}

TEST(WholeNumberTest, OnlyPlainDecimalWithinBounds) {
    struct Case {
        const char* text;
        std::optional<long long> value;
    };
    const std::vector<Case> cases{
        {"0", 0},
        {"007", 7},
        {"-5", -5},
        {"100", 100},
        {"101", std::nullopt},
        {"-6", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+1", std::nullopt},
        {" 1", std::nullopt},
        {"1 ", std::nullopt},
        {"1e2", std::nullopt},
        {"0x10", std::nullopt},
        {"99999999999999999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseWholeNumber(c.text, -5, 100), c.value) << '"' << c.text << '"';
    }
}

TEST(PixelFormatsTest, EveryNameAndCodeGoBothWays) {
    const std::vector<std::pair<int, std::string>> formats{
        {100, "DEPTH_1_MM"}, {101, "DEPTH_100_UM"}, {102, "SHIFT_9_2"}, {103, "SHIFT_9_3"},
        {200, "RGB888"},     {201, "YUV422"},       {202, "GRAY8"},     {203, "GRAY16"},
        {204, "JPEG"},       {205, "YUYV"}};
    for (const auto& [code, name] : formats) {
        ASSERT_NE(pixelFormatName(code), nullptr) << code;
        EXPECT_EQ(pixelFormatName(code), name);
        EXPECT_EQ(pixelFormatCode(name), code);
    }
    EXPECT_EQ(pixelFormatCode("rgb888"), 200);
    EXPECT_EQ(pixelFormatCode("Depth_1_mm"), 100);
    for (const char* unknown : {"", "RGB", "RGB8888", "PIXEL_FORMAT_RGB888", "100"}) {
        EXPECT_FALSE(pixelFormatCode(unknown)) << unknown;
    }
    for (const int code : {0, 99, 104, 199, 206, 300, -1}) {
        EXPECT_EQ(pixelFormatName(code), nullptr) << code;
    }
}

TEST(ModeRequestTest, EachPartIsTakenWhenGiven) {
    const ModeRequest size = parsed("640x480");
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 480);
    EXPECT_FALSE(size.fps || size.pixelFormat);

    const ModeRequest rate = parsed("1x65535@10000");
    EXPECT_EQ(rate.height, 65535);
    EXPECT_EQ(rate.fps, 10000);
    EXPECT_FALSE(rate.pixelFormat);

    EXPECT_EQ(parsed("320x240:gray16").pixelFormat, 203);
    EXPECT_EQ(parsed("320x240@30:100").pixelFormat, 100);
    EXPECT_EQ(parsed("320x240:-7").pixelFormat, -7);  // a driver's own code
    EXPECT_EQ(parsed("320x240:2147483647").pixelFormat, 2147483647);
    EXPECT_FALSE(parsed("320x240:2147483647").fps);
}

TEST(ModeRequestTest, DescriptionsNameKnownFormatsAndShowOnlyWhatWasAsked) {
    EXPECT_EQ(describeRequest(parsed("640x480")), "640x480");
    EXPECT_EQ(describeRequest(parsed("640x480@30")), "640x480@30");
    EXPECT_EQ(describeRequest(parsed("640x480:100")), "640x480:DEPTH_1_MM");
    EXPECT_EQ(describeRequest(parsed("640x480@5:250")), "640x480@5:250");
    EXPECT_EQ(describeMode({640, 480, 30, 200}), "640x480@30:RGB888 (200)");
    EXPECT_EQ(describeMode({4, 4, 0, 250}), "4x4@0:250 (250)");
}

TEST(ModeRequestTest, AListedModeAskedForAsPrintedIsFound) {
    const std::vector<VideoModeSpec> offered{
        {640, 480, 30, 100}, {320, 240, 60, 101}, {160, 120, 30, 250}, {320, 240, 60, 100}};
    for (std::size_t i = 0; i < offered.size(); ++i) {
        const std::string printed = describeMode(offered[i]);
        const ModeRequest request = parsed(printed.substr(0, printed.find(' ')));
        EXPECT_EQ(firstMatch(offered, request), i) << printed;
    }
}

TEST(ModeRequestTest, TheFirstOfferedModeWithEveryPartAskedForWins) {
    const std::vector<VideoModeSpec> offered{
        {640, 480, 30, 100}, {320, 240, 30, 100}, {320, 240, 60, 101}, {320, 240, 60, 100}};
    struct Case {
        const char* request;
        std::optional<std::size_t> match;
    };
    const std::vector<Case> cases{
        {"640x480", 0},
        {"320x240", 1},
        {"320x240@60", 2},
        {"320x240@60:100", 3},
        {"320x240:101", 2},
        {"320x240@30:DEPTH_1_MM", 1},
        {"240x320", std::nullopt},
        {"640x480@60", std::nullopt},
        {"640x480:RGB888", std::nullopt},
        {"640x240", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(firstMatch(offered, parsed(c.request)), c.match) << c.request;
    }
    EXPECT_FALSE(firstMatch({}, parsed("640x480")));
}

}  // namespace
