#include "Scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace vcam {
namespace {

Scenario parse(const std::string& text) {
    std::istringstream in(text);
    return parseScenario(in, "test.vcam");
}

// The message of the error that parsing text raises, or "" when it parses.
std::string errorOf(const std::string& text) {
    try {
        parse(text);
    } catch (const ScenarioError& error) {
        return error.what();
    }
    return "";
}

TEST(ScenarioDefaults, SensorsTakeTheirFormatsSizesAndRates) {
    const Scenario scenario = parse("device vcam://0\ndepth\ncolor\nir\n");
    ASSERT_EQ(scenario.devices.size(), 1U);
    const DeviceConfig& device = scenario.devices[0];
    EXPECT_EQ(device.uri, "vcam://0");
    EXPECT_FALSE(device.openFails);
    EXPECT_FALSE(device.connectAtMs.has_value());
    ASSERT_EQ(device.sensors.size(), 3U);

    const SensorConfig& depth = device.sensors[0];
    EXPECT_EQ(depth.kind, SensorKind::Depth);
    EXPECT_EQ(depth.format, 100);
    EXPECT_EQ(depth.width, 640);
    EXPECT_EQ(depth.height, 480);
    EXPECT_EQ(depth.bytesPerPixel, 2);
    EXPECT_EQ(depth.stride, 1280);
    EXPECT_EQ(depth.dataSize, 1280 * 480);
    EXPECT_EQ(depth.fps, 30);
    EXPECT_EQ(depth.timestampStep, 33333U);
    EXPECT_EQ(depth.firstTimestamp, 0U);
    EXPECT_FALSE(depth.frameLimit.has_value());
    EXPECT_EQ(depth.middle, 1000);
    EXPECT_EQ(depth.middleStep, 0);
    EXPECT_EQ(depth.fill, 0);
    EXPECT_FALSE(depth.createFails);
    EXPECT_FALSE(depth.startFails);

    const SensorConfig& color = device.sensors[1];
    EXPECT_EQ(color.format, 200);
    EXPECT_EQ(color.bytesPerPixel, 3);
    EXPECT_EQ(color.stride, 1920);
    EXPECT_EQ(color.middle, 0x0aff00);

    const SensorConfig& ir = device.sensors[2];
    EXPECT_EQ(ir.format, 203);
    EXPECT_EQ(ir.bytesPerPixel, 2);
}

TEST(ScenarioDefaults, NoScenarioFileMeansOneCameraWithDepthAndColor) {
    const Scenario scenario = defaultScenario();
    ASSERT_EQ(scenario.devices.size(), 1U);
    EXPECT_EQ(scenario.devices[0].uri, "vcam://0");
    ASSERT_NE(scenario.devices[0].findSensor(SensorKind::Depth), nullptr);
    ASSERT_NE(scenario.devices[0].findSensor(SensorKind::Color), nullptr);
    EXPECT_EQ(scenario.devices[0].findSensor(SensorKind::Ir), nullptr);
    EXPECT_EQ(scenario.devices[0].findSensor(SensorKind::Color)->stride, 1920);
    EXPECT_TRUE(scenario.events.empty());
}

TEST(ScenarioDefaults, BytesPerPixelFollowFormat) {
    const std::array<std::pair<int, int>, 12> expected = {{{100, 2},
                                                           {101, 2},
                                                           {102, 2},
                                                           {103, 2},
                                                           {200, 3},
                                                           {201, 2},
                                                           {202, 1},
                                                           {203, 2},
                                                           {204, 1},
                                                           {205, 2},
                                                           {7, 2},
                                                           {-1, 2}}};
    for (const auto& [format, bytes] : expected) {
        const Scenario scenario =
            parse("device d\ncolor width=10 height=4 format=" + std::to_string(format));
        const SensorConfig& sensor = scenario.devices[0].sensors[0];
        EXPECT_EQ(sensor.bytesPerPixel, bytes) << "format " << format;
        EXPECT_EQ(sensor.stride, 10 * bytes) << "format " << format;
        EXPECT_EQ(sensor.dataSize, 40 * bytes) << "format " << format;
    }
}

TEST(ScenarioDefaults, DerivedValuesDoNotDependOnOptionOrder) {
    const SensorConfig sensor =
        parse("device d\ndepth stride=0x40 height=3 bpp=4 width=5 fps=0").devices[0].sensors[0];
    EXPECT_EQ(sensor.stride, 64);
    EXPECT_EQ(sensor.dataSize, 192);
    EXPECT_EQ(sensor.timestampStep, 1U);  // as fast as possible still moves time on

    const SensorConfig packed =
        parse("device d\ndepth bpp=4 width=5 height=3 fps=50").devices[0].sensors[0];
    EXPECT_EQ(packed.stride, 20);
    EXPECT_EQ(packed.timestampStep, 20000U);
}

TEST(ScenarioDefaults, EmptyAndNegativeSizesGiveNoData) {
    const Scenario scenario =
        parse("device d\ndepth width=0 height=0\ncolor width=-4 height=3\nir width=4 height=-3\n");
    for (const SensorConfig& sensor : scenario.devices[0].sensors) {
        EXPECT_GE(sensor.stride, 0) << sensorKindName(sensor.kind);
        EXPECT_EQ(sensor.dataSize, 0) << sensorKindName(sensor.kind);
    }
}

TEST(ScenarioOptions, EveryOptionIsRead) {
    const Scenario scenario = parse(
        "device vcam://x open=fail\n"
        "depth format=101 width=8 height=2 bpp=2 stride=20 fps=60 frames=5 ts=77 step=9 "
        "middle=-1 middle_step=0x10 fill=0xabcd size=33 create=fail start=fail\n");
    EXPECT_TRUE(scenario.devices[0].openFails);
    const SensorConfig& sensor = scenario.devices[0].sensors[0];
    EXPECT_EQ(sensor.format, 101);
    EXPECT_EQ(sensor.width, 8);
    EXPECT_EQ(sensor.height, 2);
    EXPECT_EQ(sensor.stride, 20);
    EXPECT_EQ(sensor.fps, 60);
    EXPECT_EQ(sensor.frameLimit, 5);
    EXPECT_EQ(sensor.firstTimestamp, 77U);
    EXPECT_EQ(sensor.timestampStep, 9U);
    EXPECT_EQ(sensor.middle, -1);
    EXPECT_EQ(sensor.middleStep, 16);
    EXPECT_EQ(sensor.fill, 0xabcd);
    EXPECT_EQ(sensor.dataSize, 33);
    EXPECT_TRUE(sensor.createFails);
    EXPECT_TRUE(sensor.startFails);
}

TEST(ScenarioSyntax, CommentsBlanksTabsAndWindowsLineEndsAreIgnored) {
    const Scenario scenario = parse(
        "# a camera\n"
        "\n"
        "   \t \n"
        "device\tvcam://0   # the first\r\n"
        "  depth\twidth=4 height=2#no space before the comment\r\n");
    ASSERT_EQ(scenario.devices.size(), 1U);
    EXPECT_EQ(scenario.devices[0].uri, "vcam://0");
    EXPECT_EQ(scenario.devices[0].sensors[0].width, 4);
    EXPECT_EQ(scenario.devices[0].sensors[0].height, 2);
}

TEST(ScenarioEvents, SensorsBelongToTheNearestCameraAndEventsRunInTimeOrder) {
    const Scenario scenario = parse(
        "device vcam://0\n"
        "depth\n"
        "at 3000 connect vcam://1 open=fail\n"
        "color\n"
        "at 6000 disconnect vcam://1\n"
        "at 4500 state vcam://1 -7\n"
        "ir\n"  // still the camera connected at 3000
        "at 4500 disconnect vcam://0\n");
    ASSERT_EQ(scenario.devices.size(), 2U);
    EXPECT_EQ(scenario.devices[0].sensors.size(), 1U);
    const DeviceConfig& late = scenario.devices[1];
    EXPECT_EQ(late.connectAtMs, 3000);
    EXPECT_TRUE(late.openFails);
    ASSERT_EQ(late.sensors.size(), 2U);
    EXPECT_EQ(late.sensors[0].kind, SensorKind::Color);
    EXPECT_EQ(late.sensors[1].kind, SensorKind::Ir);

    ASSERT_EQ(scenario.events.size(), 4U);
    EXPECT_EQ(scenario.events[0].kind, TimedEvent::Kind::Connect);
    EXPECT_EQ(scenario.events[0].device, 1U);
    // Equal times keep file order.
    EXPECT_EQ(scenario.events[1].kind, TimedEvent::Kind::State);
    EXPECT_EQ(scenario.events[1].stateCode, -7);
    EXPECT_EQ(scenario.events[2].kind, TimedEvent::Kind::Disconnect);
    EXPECT_EQ(scenario.events[2].device, 0U);
    EXPECT_EQ(scenario.events[3].atMs, 6000);
    EXPECT_EQ(scenario.events[3].device, 1U);
}

TEST(ScenarioReplug, ACameraComesBackWithItsSensorsOrNewOnes) {
    const Scenario scenario = parse(
        "device vcam://0 open=fail\n"
        "depth width=4 height=4\n"
        "color\n"
        "at 100 disconnect vcam://0\n"
        "at 100 connect vcam://0\n"  // same time: after the unplug above
        "at 300 state vcam://0 2\n"  // the camera plugged in again
        "at 400 disconnect vcam://0\n"
        "at 500 connect vcam://0\n"
        "ir\n");
    ASSERT_EQ(scenario.devices.size(), 3U);
    const DeviceConfig& again = scenario.devices[1];
    EXPECT_EQ(again.uri, "vcam://0");
    EXPECT_EQ(again.replugOf, 0U);
    EXPECT_EQ(again.connectAtMs, 100);
    EXPECT_FALSE(again.openFails);  // a plug-in's options are its own
    ASSERT_EQ(again.sensors.size(), 2U);
    EXPECT_EQ(again.sensors[0].width, 4);
    EXPECT_EQ(again.sensors[1].kind, SensorKind::Color);
    const DeviceConfig& third = scenario.devices[2];
    EXPECT_EQ(third.replugOf, 1U);
    ASSERT_EQ(third.sensors.size(), 1U);
    EXPECT_EQ(third.sensors[0].kind, SensorKind::Ir);

    using K = TimedEvent::Kind;
    std::vector<std::pair<K, std::size_t>> played;
    std::transform(
        scenario.events.begin(), scenario.events.end(), std::back_inserter(played),
        [](const TimedEvent& event) { return std::make_pair(event.kind, event.device); });
    EXPECT_EQ(played, (std::vector<std::pair<K, std::size_t>>{{K::Disconnect, 0},
                                                              {K::Connect, 1},
                                                              {K::State, 1},
                                                              {K::Disconnect, 1},
                                                              {K::Connect, 2}}));
}

TEST(ScenarioReplug, OnlyAnUnpluggedCameraComesBack) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"device a\nat 5 disconnect a\ndevice a\n",
         "test.vcam:3: device a already defined on line 1"},
        {"device a\nat 50 disconnect a\nat 20 connect a\n",
         "test.vcam:3: device a already defined on line 1 and not unplugged by 20 ms"},
        {"at 50 connect a\nat 10 disconnect a\nat 60 connect a\n",
         "test.vcam:3: device a already defined on line 1 and not unplugged by 60 ms"},
        {"device a\nat 50 connect a\nat 60 disconnect a\n",
         "test.vcam:2: device a already defined on line 1 and not unplugged by 50 ms"},
        {"device a\nat 5 disconnect a\nat 50 connect a\nat 20 state a 1\n",
         "test.vcam:4: device a is plugged in again only at 50 ms"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(errorOf(text), expected) << "for:\n" << text;
    }
    // Events of the first plug-in are written before the camera comes back.
    EXPECT_EQ(errorOf("device a\nat 5 state a 1\nat 9 disconnect a\nat 9 connect a\n"), "");
}

TEST(ScenarioErrors, NameTheFileAndTheLine) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"device a\n\nfoo bar\n", "test.vcam:3: unknown statement 'foo'"},
        {"depth\n", "test.vcam:1: depth sensor before any device"},
        {"device a\ndepth\ndepth\n", "test.vcam:3: device a already has a depth sensor"},
        {"device a\ndevice a\n", "test.vcam:2: device a already defined on line 1"},
        {"device a\nat 5 connect a\n", "test.vcam:2: device a already defined on line 1"},
        {"device\n", "test.vcam:1: missing device URI"},
        {"device open=fail\n", "test.vcam:1: missing device URI before 'open=fail'"},
        {"device a open=yes\n", "test.vcam:1: open can only be 'fail', got 'yes'"},
        {"device a\ncolor create=no\n", "test.vcam:2: create can only be 'fail', got 'no'"},
        {"device a\ndepth widht=3\n", "test.vcam:2: unknown option 'widht'"},
        {"device a\ndepth width\n", "test.vcam:2: expected key=value, got 'width'"},
        {"device a\ndepth =3\n", "test.vcam:2: expected key=value, got '=3'"},
        {"device a\ndepth fps=1 fps=2\n", "test.vcam:2: option 'fps' given twice"},
        {"device a\ndepth width=12px\n", "test.vcam:2: width must be an integer, got '12px'"},
        {"device a\ndepth width=\n", "test.vcam:2: width must be an integer, got ''"},
        {"device a\ndepth fps=-1\n", "test.vcam:2: fps must be between 0 and 1000000, got -1"},
        {"device a\ndepth bpp=0\n", "test.vcam:2: bpp must be between 1 and 8, got 0"},
        {"device a\ndepth width=4294967296\n", "test.vcam:2: width must be between"},
        {"device a\ndepth middle=99999999999999999999\n", "test.vcam:2: middle must be an integer"},
        {"device a\ndepth width=100000 height=100000\n", "test.vcam:2: frame of 20000000000 bytes"},
        {"device a\ndepth size=-1\n", "test.vcam:2: size must be between 0"},
        {"at 5\n", "test.vcam:1: expected 'at <ms> connect|disconnect|state ...'"},
        {"at soon connect a\n", "test.vcam:1: time must be an integer, got 'soon'"},
        {"at -5 connect a\n", "test.vcam:1: time must be between 0"},
        {"at 5 explode a\n", "test.vcam:1: unknown timed action 'explode'"},
        {"at 5 disconnect b\ndevice b\n", "test.vcam:1: device b is not defined above"},
        {"device a\nat 5 disconnect a now\n", "test.vcam:2: expected 'at <ms> disconnect <uri>'"},
        {"device a\nat 5 state a\n", "test.vcam:2: expected 'at <ms> state <uri> <code>'"},
        {"device a\nat 5 state a bad\n", "test.vcam:2: state code must be an integer"},
    };
    for (const auto& [text, expected] : cases) {
        const std::string error = errorOf(text);
        EXPECT_EQ(error.rfind(expected, 0), 0U) << "for:\n" << text << "got: " << error;
    }
}

TEST(ScenarioErrors, UriMustFitTheLibrarysDeviceInfo) {
    EXPECT_EQ(errorOf("device " + std::string(255, 'u')), "");
    EXPECT_EQ(errorOf("device " + std::string(256, 'u')),
              "test.vcam:1: device URI longer than 255 characters");
}

TEST(ScenarioErrors, UriBytesMustBeOnesTheLibraryHandles) {
    EXPECT_EQ(errorOf("device vcam://~\x7f"), "");
    const std::string refused =
        "test.vcam:1: device URI with a byte of 0x80 or above, which the library cannot handle";
    EXPECT_EQ(errorOf("device vcam://caf\xc3\xa9"), refused);
    EXPECT_EQ(errorOf("device a\nat 5 connect \x80"), "test.vcam:2:" + refused.substr(12));
}

TEST(ScenarioShutdown, HangsOnlyWhenAsked) {
    EXPECT_FALSE(parse("device a").shutdownHangs);
    EXPECT_TRUE(parse("device a\nshutdown hang").shutdownHangs);
    EXPECT_EQ(errorOf("shutdown now"), "test.vcam:1: expected 'shutdown hang'");
    EXPECT_EQ(errorOf("shutdown hang twice"), "test.vcam:1: expected 'shutdown hang'");
}

TEST(ScenarioErrors, IntegersAtTheEdgesOfTheirRange) {
    EXPECT_EQ(parse("device a\ndepth middle=-9223372036854775808").devices[0].sensors[0].middle,
              INT64_MIN);
    EXPECT_EQ(parse("device a\ndepth middle=0x7fffffffffffffff").devices[0].sensors[0].middle,
              INT64_MAX);
    EXPECT_EQ(parse("device a\ndepth middle=+12").devices[0].sensors[0].middle, 12);
    for (const char* refused : {"9223372036854775808", "0x", "-", "0xfg", "-+5", "0x-5", "12ms"}) {
        EXPECT_NE(errorOf(std::string("device a\ndepth middle=") + refused), "") << refused;
    }
}

// Every error case: the text must fail with a message that begins so.
void expectErrors(const std::vector<std::pair<std::string, std::string>>& cases) {
    for (const auto& [text, expected] : cases) {
        const std::string error = errorOf(text);
        EXPECT_EQ(error.rfind(expected, 0), 0U) << "for:\n" << text << "\ngot: " << error;
    }
}

TEST(ScenarioIdentity, NameVendorUsbIdsAndSerialFillTheDeviceInfo) {
    const Scenario scenario = parse(
        "device vcam://0 name=Kinect-ish vendor=Acme usb=1D27:0601 serial=0001\n"
        "device vcam://1\n"
        "at 10 connect vcam://2 usb=ffff:0000 serial=caf\xc3\xa9\n");
    const DeviceConfig& full = scenario.devices[0];
    EXPECT_EQ(full.name, "Kinect-ish");
    EXPECT_EQ(full.vendor, "Acme");
    EXPECT_EQ(full.usbVendorId, 0x1d27);
    EXPECT_EQ(full.usbProductId, 0x0601);
    EXPECT_EQ(full.serial, "0001");
    const DeviceConfig& plain = scenario.devices[1];
    EXPECT_EQ(plain.name, "virtual camera");
    EXPECT_EQ(plain.vendor, "camwatch");
    EXPECT_EQ(plain.usbVendorId, 0);
    EXPECT_EQ(plain.usbProductId, 0);
    EXPECT_FALSE(plain.serial.has_value());
    const DeviceConfig& late = scenario.devices[2];
    EXPECT_EQ(late.usbVendorId, 0xffff);
    EXPECT_EQ(late.serial, "caf\xc3\xa9");
    EXPECT_EQ(late.name, "virtual camera");
}

TEST(ScenarioIdentity, WordsMustFitTheLibrarysFields) {
    const std::string longest(255, 'n');
    const DeviceConfig device =
        parse("device d name=" + longest + " vendor=" + longest + " serial=" + longest).devices[0];
    EXPECT_EQ(device.name, longest);
    EXPECT_EQ(device.vendor, longest);
    EXPECT_EQ(device.serial, longest);
    expectErrors({
        {"device d name=" + longest + "n", "test.vcam:1: name longer than 255 characters"},
        {"device d\nat 1 connect e vendor=" + longest + "v",
         "test.vcam:2: vendor longer than 255 characters"},
        {"device d serial=" + std::string(100000, 's'),
         "test.vcam:1: serial longer than 255 characters"},
        {"device d name=", "test.vcam:1: name must not be empty"},
        {"device d vendor=", "test.vcam:1: vendor must not be empty"},
        {"device d serial=", "test.vcam:1: serial must not be empty"},
        {"device d name=a\x1b[2J", "test.vcam:1: name with a control character"},
        {"device d serial=\x7f", "test.vcam:1: serial with a control character"},
        {"device d name=a name=b", "test.vcam:1: option 'name' given twice"},
        {"device d nmae=a", "test.vcam:1: unknown option 'nmae'"},
    });
}

TEST(ScenarioIdentity, UsbIdsAreFourHexadecimalDigitsEach) {
    for (const char* refused :
         {"", "1d27", "1d27:", ":0601", "1d27:601", "01d27:0601", "1d27:06011", "1d27-0601",
          "1d27:06g1", "0x1d:0601", "1d27:0601:0", "+d27:0601"}) {
        const std::string error = errorOf(std::string("device d usb=") + refused);
        EXPECT_EQ(error, std::string("test.vcam:1: usb must be VVVV:PPPP, four hexadecimal digits "
                                     "each, got '") +
                             refused + "'")
            << refused;
    }
    EXPECT_EQ(errorOf("device d usb=" + std::string(5000, '1')).rfind("test.vcam:1: usb must", 0),
              0U);
}

TEST(ScenarioIdentity, ASerialNamesOneCameraAtATime) {
    expectErrors({
        {"device a serial=S\ndevice b serial=S\n", "test.vcam:2: serial S already given on line 1"},
        {"device a serial=S\nat 5 connect b serial=S\n",
         "test.vcam:2: serial S already given on line 1 and its camera not unplugged by 5 ms"},
        {"device a serial=S\nat 9 disconnect a\nat 5 connect b serial=S\n",
         "test.vcam:3: serial S already given on line 1 and its camera not unplugged by 5 ms"},
        {"at 5 connect a serial=S\nat 9 connect b serial=S\n",
         "test.vcam:2: serial S already given on line 1 and its camera not unplugged by 9 ms"},
    });
    // Under the URI of an unplugged camera a serial of its own is just one
    // more option given; under a new URI, a new serial is a new camera.
    const Scenario scenario = parse(
        "device a serial=S name=first\ndepth\nat 5 disconnect a\nat 6 connect a serial=T\n"
        "at 7 connect b serial=U\n");
    EXPECT_EQ(scenario.devices[1].serial, "T");
    EXPECT_EQ(scenario.devices[1].replugOf, 0U);
    EXPECT_EQ(scenario.devices[1].name, "first");
    EXPECT_FALSE(scenario.devices[2].replugOf.has_value());
    EXPECT_TRUE(scenario.devices[2].sensors.empty());
}

TEST(ScenarioReplug, ACameraComesBackUnderANewUriWithItsSerial) {
    const Scenario scenario = parse(
        "device vcam://0 name=Cam vendor=Acme usb=1d27:0601 serial=S1 open=fail\n"
        "depth width=4 height=4 modes=2x2@10:100\n"
        "color\n"
        "device vcam://other serial=S2\n"
        "ir\n"
        "at 100 disconnect vcam://0\n"
        "at 200 connect vcam://5 serial=S1\n"  // re-enumerated: new URI, same camera
        "at 300 disconnect vcam://5\n"
        "at 400 connect vcam://0 name=Renamed\n"  // and back under its first URI
        "at 500 disconnect vcam://0\n"
        "at 600 connect vcam://6 serial=S1\n"
        "ir\n");
    ASSERT_EQ(scenario.devices.size(), 5U);
    const DeviceConfig& moved = scenario.devices[2];
    EXPECT_EQ(moved.uri, "vcam://5");
    EXPECT_EQ(moved.replugOf, 0U);
    EXPECT_EQ(moved.name, "Cam");
    EXPECT_EQ(moved.vendor, "Acme");
    EXPECT_EQ(moved.usbProductId, 0x0601);
    EXPECT_FALSE(moved.openFails);  // a plug-in's own
    ASSERT_EQ(moved.sensors.size(), 2U);
    EXPECT_EQ(moved.sensors[0].width, 4);
    EXPECT_EQ(moved.sensors[0].extraModes.size(), 1U);
    EXPECT_EQ(moved.sensors[1].kind, SensorKind::Color);

    const DeviceConfig& back = scenario.devices[3];
    EXPECT_EQ(back.replugOf, 0U);
    EXPECT_EQ(back.serial, "S1");  // kept, so the next plug-in finds it
    EXPECT_EQ(back.name, "Renamed");
    EXPECT_EQ(back.sensors.size(), 2U);

    const DeviceConfig& third = scenario.devices[4];
    EXPECT_EQ(third.replugOf, 3U);
    EXPECT_EQ(third.name, "Renamed");
    ASSERT_EQ(third.sensors.size(), 1U);
    EXPECT_EQ(third.sensors[0].kind, SensorKind::Ir);

    // The old URI's events still name the old plug-in.
    EXPECT_EQ(scenario.events[0].kind, TimedEvent::Kind::Disconnect);
    EXPECT_EQ(scenario.events[0].device, 0U);
    EXPECT_EQ(scenario.events[1].kind, TimedEvent::Kind::Connect);
    EXPECT_EQ(scenario.events[1].device, 2U);
}

TEST(ScenarioModes, OffersTheOwnModeFirstThenTheListedOnes) {
    const SensorConfig sensor = parse(
                                    "device d\ndepth width=64 height=48 fps=25 format=101 "
                                    "modes=320x240@60:100,1280x1024@15:100,64x48@0:101")
                                    .devices[0]
                                    .sensors[0];
    const std::vector<VideoMode> expected = {
        {64, 48, 25, 101}, {320, 240, 60, 100}, {1280, 1024, 15, 100}, {64, 48, 0, 101}};
    EXPECT_EQ(sensor.offeredModes(), expected);
    EXPECT_EQ(describeMode(expected[1]), "320x240@60:100");

    const SensorConfig plain = parse("device d\ncolor").devices[0].sensors[0];
    EXPECT_EQ(plain.offeredModes(), (std::vector<VideoMode>{{640, 480, 30, 200}}));
}

TEST(ScenarioModes, ListsAndModesThatAreRefused) {
    const std::string many = [] {
        std::string list;
        for (int width = 1; width <= 65; ++width) {
            list += (width > 1 ? "," : "") + std::to_string(width) + "x1@1:100";
        }
        return list;
    }();
    expectErrors({
        {"device d\ndepth modes=", "test.vcam:2: mode must be WIDTHxHEIGHT@FPS:FORMAT, got ''"},
        {"device d\ndepth modes=320x240@30", "test.vcam:2: mode must be WIDTHxHEIGHT"},
        {"device d\ndepth modes=320@30:100", "test.vcam:2: mode must be WIDTHxHEIGHT"},
        {"device d\ndepth modes=30:100@320x240", "test.vcam:2: mode must be WIDTHxHEIGHT"},
        {"device d\ndepth modes=320x240@30:100,", "test.vcam:2: mode must be WIDTHxHEIGHT"},
        {"device d\ndepth modes=0x240@30:100",
         "test.vcam:2: mode 0x240@30:100: width must be between 1 and 2147483647, got '0'"},
        {"device d\ndepth modes=320x-240@30:100", "test.vcam:2: mode 320x-240@30:100: height must"},
        {"device d\ndepth modes=320x240@-1:100", "test.vcam:2: mode 320x240@-1:100: fps must"},
        {"device d\ndepth modes=320x240@1000001:100",
         "test.vcam:2: mode 320x240@1000001:100: fps must be between 0 and 1000000"},
        {"device d\ndepth modes=320x240@30:0x64", "test.vcam:2: mode 320x240@30:0x64: format"},
        {"device d\ndepth modes=x240@30:100", "test.vcam:2: mode x240@30:100: width must"},
        {"device d\ndepth modes=320x240@30:", "test.vcam:2: mode 320x240@30:: format must"},
        {"device d\ndepth modes=2147483648x1@1:100", "test.vcam:2: mode 2147483648x1@1:100: width"},
        {"device d\ndepth modes=2147483647x2147483647@1:200",
         "test.vcam:2: mode 2147483647x2147483647@1:200 has frames larger than 268435456 bytes"},
        {"device d\ndepth modes=16384x8193@1:100", "test.vcam:2: mode 16384x8193@1:100 has frames"},
        {"device d\ndepth modes=2x2@1:100,2x2@1:100", "test.vcam:2: mode 2x2@1:100 offered twice"},
        {"device d\ndepth width=2 height=2 fps=1 modes=2x2@1:100",
         "test.vcam:2: mode 2x2@1:100 offered twice"},
        {"device d\ndepth modes=" + many, "test.vcam:2: more than 64 modes"},
        {"device d\ndepth modes=1x1@1:100 modes=2x2@1:100", "test.vcam:2: option 'modes' given"},
    });
    // The largest frame allowed, and 64 modes, are fine.
    EXPECT_EQ(errorOf("device d\ndepth modes=16384x8192@1:100"), "");
    EXPECT_EQ(errorOf("device d\ndepth modes=" + many.substr(0, many.rfind(','))), "");
}

TEST(ScenarioModes, AnotherModeTakesItsSizeRateAndFormatWithPackedWholeFrames) {
    const SensorConfig sensor = parse(
                                    "device d\ndepth width=8 height=2 bpp=4 stride=40 size=50 "
                                    "middle=7 modes=4x3@50:200,8x2@10:100")
                                    .devices[0]
                                    .sensors[0];
    // Its own mode keeps every option.
    const SensorConfig own = sensorInMode(sensor, sensor.ownMode());
    EXPECT_EQ(own.bytesPerPixel, 4);
    EXPECT_EQ(own.stride, 40);
    EXPECT_EQ(own.dataSize, 50);
    EXPECT_EQ(own.timestampStep, 33333U);

    const SensorConfig color = sensorInMode(sensor, {4, 3, 50, 200});
    EXPECT_EQ(color.width, 4);
    EXPECT_EQ(color.height, 3);
    EXPECT_EQ(color.fps, 50);
    EXPECT_EQ(color.format, 200);
    EXPECT_EQ(color.bytesPerPixel, 3);
    EXPECT_EQ(color.stride, 12);
    EXPECT_EQ(color.dataSize, 36);
    EXPECT_EQ(color.timestampStep, 20000U);  // follows the mode's rate
    EXPECT_EQ(color.middle, 7);

    const SensorConfig slower = sensorInMode(sensor, {8, 2, 10, 100});
    EXPECT_EQ(slower.stride, 16);
    EXPECT_EQ(slower.dataSize, 32);
    EXPECT_EQ(slower.timestampStep, 100000U);

    // A step the scenario gives holds in every mode.
    const SensorConfig stepped =
        parse("device d\ndepth step=5 modes=4x3@50:100").devices[0].sensors[0];
    EXPECT_EQ(sensorInMode(stepped, {4, 3, 50, 100}).timestampStep, 5U);
}

TEST(ScenarioLostFrames, EveryNthAndListedIndexesAreLost) {
    const SensorConfig sensor = parse("device d\ndepth lose=3 lost=1,0x8,10").devices[0].sensors[0];
    std::vector<std::uint64_t> lost;
    for (std::uint64_t index = 1; index <= 12; ++index) {
        if (sensor.isLost(index)) {
            lost.push_back(index);
        }
    }
    EXPECT_EQ(lost, (std::vector<std::uint64_t>{1, 3, 6, 8, 9, 10, 12}));

    const SensorConfig none = parse("device d\ndepth").devices[0].sensors[0];
    EXPECT_FALSE(none.loseEvery.has_value());
    EXPECT_TRUE(none.lostIndexes.empty());
    EXPECT_FALSE(none.isLost(1));

    // A long list is fine.
    std::string list = "1";
    for (int index = 2; index <= 20000; ++index) {
        list += "," + std::to_string(index * 2);
    }
    EXPECT_EQ(parse("device d\ndepth lost=" + list).devices[0].sensors[0].lostIndexes.size(),
              20000U);
}

TEST(ScenarioLostFrames, CountsAndIndexesThatAreRefused) {
    expectErrors({
        {"device d\ndepth lose=", "test.vcam:2: lose must be an integer, got ''"},
        {"device d\ndepth lose=1", "test.vcam:2: lose must be between 2 and 2147483647, got 1"},
        {"device d\ndepth lose=-3", "test.vcam:2: lose must be between 2"},
        {"device d\ndepth lose=2147483648", "test.vcam:2: lose must be between 2"},
        {"device d\ndepth lose=3rd", "test.vcam:2: lose must be an integer, got '3rd'"},
        {"device d\ndepth lose=2 lose=3", "test.vcam:2: option 'lose' given twice"},
        {"device d\ndepth lost=", "test.vcam:2: lost frame must be an integer, got ''"},
        {"device d\ndepth lost=1,,2", "test.vcam:2: lost frame must be an integer, got ''"},
        {"device d\ndepth lost=1,", "test.vcam:2: lost frame must be an integer, got ''"},
        {"device d\ndepth lost=1;2", "test.vcam:2: lost frame must be an integer, got '1;2'"},
        {"device d\ndepth lost=0", "test.vcam:2: lost frame must be between 1 and 2147483647"},
        {"device d\ndepth lost=-1", "test.vcam:2: lost frame must be between 1"},
        {"device d\ndepth lost=2147483648", "test.vcam:2: lost frame must be between 1"},
        {"device d\ndepth lost=" + std::string(1000, '9'), "test.vcam:2: lost frame must be an"},
        {"device d\ndepth lost=4,2,4", "test.vcam:2: lost frame 4 given twice"},
        {"device d\ndepth lost=4,0x4", "test.vcam:2: lost frame 0x4 given twice"},
    });
}

TEST(ScenarioFiles, MissingFileAndDirectoryAreNamed) {
    const std::string folder = testing::TempDir();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/nonexistent/dir/x.vcam",
         "/nonexistent/dir/x.vcam: cannot open: No such file or directory"},
        {folder, folder + ": cannot open: Is a directory"},
    };
    for (const auto& [path, expected] : cases) {
        try {
            loadScenario(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.what(), expected);
        }
    }
}

}  // namespace
}  // namespace vcam
