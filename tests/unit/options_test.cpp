#include "Options.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Runs parseOptions on "camwatch" and `arguments`, as main would see them.
struct Parsed {
    std::optional<Options> options;
    std::string error;
};

Parsed parse(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "camwatch");
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 1);
    std::transform(arguments.begin(), arguments.end(), std::back_inserter(argv),
                   [](std::string& argument) { return argument.data(); });
    argv.push_back(nullptr);
    Parsed parsed;
    parsed.options = parseOptions(static_cast<int>(arguments.size()), argv.data(), parsed.error);
    return parsed;
}

TEST(OptionsTest, NoArgumentsIsThePlainMonitor) {
    const Parsed parsed = parse({});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_FALSE(parsed.options->help || parsed.options->version || parsed.options->list ||
                 parsed.options->stats || parsed.options->follow);
    EXPECT_FALSE(parsed.options->device || parsed.options->depthMode || parsed.options->colorMode);
}

TEST(OptionsTest, AnEmptyArgumentVectorIsNoArguments) {
    // execve may start a program with argc 0 and argv[0] null.
    std::array<char*, 1> argv{nullptr};
    std::string error;
    const std::optional<Options> options = parseOptions(0, argv.data(), error);
    ASSERT_TRUE(options) << error;
    EXPECT_FALSE(options->list || options->device);
}

struct FlagCase {
    std::vector<std::string> arguments;
    bool Options::*flag;
};

TEST(OptionsTest, EveryFlagBySpellingSetsItsOwnFieldOnly) {
    const std::vector<FlagCase> cases{
        {{"-h"}, &Options::help},        {{"--help"}, &Options::help},
        {{"-V"}, &Options::version},     {{"--version"}, &Options::version},
        {{"-l"}, &Options::list},        {{"--list"}, &Options::list},
        {{"-s"}, &Options::stats},       {{"--stats"}, &Options::stats},
        {{"-f"}, &Options::follow},      {{"--follow"}, &Options::follow},
        {{"--vers"}, &Options::version},  // an unambiguous abbreviation
    };
    const std::vector<bool Options::*> flags{&Options::help, &Options::version, &Options::list,
                                             &Options::stats, &Options::follow};
    for (const FlagCase& c : cases) {
        const Parsed parsed = parse(c.arguments);
        ASSERT_TRUE(parsed.options) << c.arguments[0] << ": " << parsed.error;
        for (bool Options::*flag : flags) {
            EXPECT_EQ((*parsed.options).*flag, flag == c.flag) << c.arguments[0];
        }
    }
}

TEST(OptionsTest, DeviceValueInEverySpelling) {
    const std::vector<std::vector<std::string>> spellings{{"-d", "vcam://1"},
                                                          {"-dvcam://1"},
                                                          {"--device", "vcam://1"},
                                                          {"--device=vcam://1"},
                                                          {"-sd", "vcam://1"}};
    for (const auto& arguments : spellings) {
        const Parsed parsed = parse(arguments);
        ASSERT_TRUE(parsed.options) << arguments[0] << ": " << parsed.error;
        EXPECT_EQ(parsed.options->device, "vcam://1") << arguments[0];
    }
    // A value may look like an option: it is taken as it is.
    EXPECT_EQ(parse({"-d", "-l"}).options->device, "-l");
    EXPECT_EQ(parse({"-d", std::string(kMaxDeviceLength, 'a')}).options->device->size(),
              kMaxDeviceLength);
}

TEST(OptionsTest, LaterValuesReplaceEarlierOnes) {
    const Parsed parsed =
        parse({"-d", "a", "--depth-mode", "1x1", "-d", "b", "--depth-mode=2x2", "-s", "-f"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->device, "b");
    EXPECT_EQ(parsed.options->depthMode->width, 2);
    EXPECT_FALSE(parsed.options->colorMode);
    EXPECT_TRUE(parsed.options->stats && parsed.options->follow);
}

TEST(OptionsTest, ModesAreParsedForTheirOwnStream) {
    const Parsed parsed = parse({"--depth-mode", "320x240@60:DEPTH_100_UM", "--color-mode=1x2"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const ModeRequest& depth = *parsed.options->depthMode;
    EXPECT_EQ(depth.width, 320);
    EXPECT_EQ(depth.height, 240);
    EXPECT_EQ(depth.fps, 60);
    EXPECT_EQ(depth.pixelFormat, 101);
    const ModeRequest& color = *parsed.options->colorMode;
    EXPECT_EQ(color.width, 1);
    EXPECT_EQ(color.height, 2);
    EXPECT_FALSE(color.fps || color.pixelFormat);
}

TEST(OptionsTest, HelpAndVersionWinOverEveryOtherOption) {
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"--list", "--stats", "--help"}, {"-l", "-d", "0", "-V"}, {"-V", "-h"}}) {
        const Parsed parsed = parse(arguments);
        ASSERT_TRUE(parsed.options) << arguments[0] << ": " << parsed.error;
        EXPECT_TRUE(parsed.options->help || parsed.options->version);
    }
}

struct UsageErrorCase {
    std::vector<std::string> arguments;
    std::string error;
};

TEST(OptionsTest, WrongCommandLinesSayWhy) {
    const std::string longValue(kMaxDeviceLength + 1, 'a');
    const std::string hugeNumber(400, '9');
    const std::vector<UsageErrorCase> cases{
        // Missing values, in each spelling.
        {{"-d"}, "option -d needs a value"},
        {{"--device"}, "option --device needs a value"},
        {{"--dev"}, "option --device needs a value"},
        {{"-ld"}, "option -d needs a value"},
        {{"--depth-mode"}, "option --depth-mode needs a value"},
        {{"--color-mode"}, "option --color-mode needs a value"},
        // Empty and over-long values.
        {{"-d", ""}, "option -d needs a camera, not an empty value"},
        {{"--device="}, "option --device needs a camera, not an empty value"},
        {{"--device", longValue}, "is longer than 255 bytes"},
        {{"--depth-mode="}, "option --depth-mode: wrong mode \"\": expected WIDTHxHEIGHT"},
        {{"--color-mode", ""}, "option --color-mode: wrong mode \"\""},
        // Malformed and out-of-range modes.
        {{"--depth-mode", "640"}, "expected WIDTHxHEIGHT[@FPS][:FORMAT]"},
        {{"--depth-mode", "x480"}, "the width must be a whole number from 1 to 65535"},
        {{"--depth-mode", "640x"}, "the height must be"},
        {{"--depth-mode", "0x480"}, "the width must be"},
        {{"--depth-mode", "640x65536"}, "the height must be"},
        {{"--depth-mode", "-640x480"}, "the width must be"},
        {{"--depth-mode", "+640x480"}, "the width must be"},
        {{"--depth-mode", " 640x480"}, "the width must be"},
        {{"--depth-mode", "640x480 "}, "the height must be"},
        {{"--depth-mode", "640x480x2"}, "the height must be"},
        {{"--depth-mode", hugeNumber + "x480"}, "the width must be"},
        {{"--depth-mode", "640x480@"}, "the frame rate must be a whole number from 1 to 10000"},
        {{"--depth-mode", "640x480@0"}, "the frame rate must be"},
        {{"--depth-mode", "640x480@10001"}, "the frame rate must be"},
        {{"--depth-mode", "640x480@30fps"}, "the frame rate must be"},
        {{"--depth-mode", "640x480@" + hugeNumber}, "the frame rate must be"},
        {{"--color-mode", "640x480:"}, "the format must be a pixel format name"},
        {{"--color-mode", "640x480:RGB"}, "the format must be"},
        {{"--color-mode", "640x480:200x"}, "the format must be"},
        {{"--color-mode", "640x480:" + hugeNumber}, "the format must be"},
        // Unknown, ambiguous and misused options, stray arguments.
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{"-x"}, "unknown option \"-x\""},
        {{"-lq"}, "unknown option \"-q\""},
        {{"--de"}, "option \"--de\" is ambiguous"},
        {{"--help=yes"}, "option \"--help\" takes no value"},
        {{"watch"}, "unexpected argument \"watch\""},
        {{"-l", "--", "-s"}, "unexpected argument \"-s\""},
        {{"-"}, "unexpected argument \"-\""},
        {{"--" + longValue}, "unknown option \"--aaaa"},
        // --list does not mix with the options of a run.
        {{"-l", "-s"}, "--list cannot be combined with --stats"},
        {{"--list", "--follow"}, "--list cannot be combined with --follow"},
        {{"--list", "-d", "0"}, "--list cannot be combined with --device"},
        {{"--depth-mode", "1x1", "--list"}, "--list cannot be combined with --depth-mode"},
        {{"-l", "--color-mode=1x1"}, "--list cannot be combined with --color-mode"},
    };
    for (const UsageErrorCase& c : cases) {
        const Parsed parsed = parse(c.arguments);
        EXPECT_FALSE(parsed.options) << c.arguments[0];
        EXPECT_NE(parsed.error.find(c.error), std::string::npos)
            << c.arguments[0] << ": " << parsed.error;
        // A message repeats at most a short part of what it was given.
        EXPECT_LT(parsed.error.size(), 200U) << c.arguments[0];
    }
}

TEST(OptionsTest, ControlBytesInAWrongOptionAreNotRepeated) {
    const Parsed parsed = parse({"--\x1b]0;title\x07"});
    EXPECT_EQ(parsed.error, "unknown option \"--\\x1b]0;title\\x07\"");
}

TEST(OptionsTest, EachCallStartsAfresh) {
    // Stopped inside a group of letters, and past a stray argument.
    EXPECT_FALSE(parse({"-lqs"}).options);
    EXPECT_FALSE(parse({"-s", "stray", "-f"}).options);
    const Parsed parsed = parse({"-sf"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_TRUE(parsed.options->stats && parsed.options->follow);
    EXPECT_FALSE(parsed.options->list);
}

}  // namespace
