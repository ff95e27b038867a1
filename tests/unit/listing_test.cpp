// The text camwatch --list and its messages are made of, and the choice of
// the camera to watch.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "CameraList.h"
#include "DeviceChoice.h"
#include "PrintableText.h"

namespace {

TEST(PrintableTextTest, QuotedTextKeepsToOneLineAndOneField) {
    EXPECT_EQ(inQuotes("vcam://0"), "\"vcam://0\"");
    EXPECT_EQ(inQuotes("a \"b\" \\c"), "\"a \\\"b\\\" \\\\c\"");
    EXPECT_EQ(inQuotes("tab\there\nnew\x1b[2J"), "\"tab\\x09here\\x0anew\\x1b[2J\"");
    EXPECT_EQ(inQuotes(std::string("nul\0byte", 8)), "\"nul\\x00byte\"");
    EXPECT_EQ(inQuotes("caf\xc3\xa9"), "\"caf\\xc3\\xa9\"");
    EXPECT_EQ(inQuotes("abcdef", 3), "\"abc\"...");
    EXPECT_EQ(inQuotes("abc", 3), "\"abc\"");
}

TEST(PrintableTextTest, ErrorTextOnOneLine) {
    EXPECT_EQ(oneLine("\tvcam: the scenario makes opening vcam://1 fail\n"),
              "vcam: the scenario makes opening vcam://1 fail");
    EXPECT_EQ(oneLine("first\n\tsecond  \n\nthird\n"), "first second third");
    EXPECT_EQ(oneLine("bell\a"), "bell\\x07");
    EXPECT_EQ(oneLine(" \n\t "), "");
}

TEST(PrintableTextTest, FieldTextStopsAtTheNulOrTheFieldsEnd) {
    const std::array<char, 8> withNul{'a', 'b', '\0', 'c', 'd', 'e', 'f', 'g'};
    EXPECT_EQ(fieldText(withNul.data(), withNul.size()), "ab");
    const std::array<char, 4> full{'w', 'x', 'y', 'z'};
    EXPECT_EQ(fieldText(full.data(), full.size()), "wxyz");
}

TEST(CameraListTest, CameraLineSaysEverythingInFixedOrder) {
    CameraFacts camera{"vcam://0", "Virtual camera", "camwatch", 0x1d27, 0x0601, "0001"};
    EXPECT_EQ(cameraLine(0, camera),
              "camera 0: \"vcam://0\" usb 1d27:0601 serial \"0001\" name \"Virtual camera\" "
              "vendor \"camwatch\"\n");
    camera.serial.reset();
    camera.usbVendorId = 0xffff;
    camera.usbProductId = 0x0a;
    camera.name = "say \"cheese\"";
    EXPECT_EQ(cameraLine(12, camera),
              "camera 12: \"vcam://0\" usb ffff:000a name \"say \\\"cheese\\\"\" vendor "
              "\"camwatch\"\n");
}

TEST(CameraListTest, ModeAndReasonLinesAreIndentedUnderTheirCamera) {
    EXPECT_EQ(modeLine("depth", {640, 480, 30, 100}), "  depth 640x480@30:DEPTH_1_MM (100)\n");
    EXPECT_EQ(modeLine("ir", {1, 1, 1, 7}), "  ir 1x1@1:7 (7)\n");
    EXPECT_EQ(notOpenedLine("\tvcam: cannot\n"), "  not opened: vcam: cannot\n");
}

TEST(DeviceChoiceTest, IndexThenUriElseNothingListed) {
    const std::vector<std::string> uris{"vcam://a", "3", "vcam://c"};
    struct Case {
        const char* choice;
        std::optional<std::size_t> listed;
    };
    const std::vector<Case> cases{
        {"0", 0},
        {"2", 2},
        {"02", 2},  // still a bare number
        {"3", 1},   // no such index: the URI "3"
        {"vcam://c", 2},
        {"4", std::nullopt},  // neither: a serial number, or the library's
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"1 ", std::nullopt},
        {"vcam://", std::nullopt},  // a URI matches whole
        {"VCAM://A", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(listedChoice(uris, c.choice), c.listed) << '"' << c.choice << '"';
    }
    EXPECT_FALSE(listedChoice({}, "0"));
}

}  // namespace
