#pragma once

#include <OpenNI.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Video modes as the command line asks for them and as sensors offer them,
// written the same way both ways: WIDTHxHEIGHT@FPS:FORMAT.

// Bounds of what may be asked; no camera offers more.
constexpr int kMaxModeSide = 65535;
constexpr int kMaxModeFps = 10000;

// A video mode asked for with WxH[@FPS][:FORMAT]; a part left out matches any.
struct ModeRequest {
    int width = 0;
    int height = 0;
    std::optional<int> fps;
    std::optional<int> pixelFormat;  // the library's code, also when given by name
};

// One mode a sensor offers, its pixel format as the code the driver gave.
struct VideoModeSpec {
    int width = 0;
    int height = 0;
    int fps = 0;
    int pixelFormat = 0;
};

// The request `text` writes, or none with the reason in `error`. FORMAT is a
// name pixelFormatName gives (in any case) or a whole number.
std::optional<ModeRequest> parseModeRequest(std::string_view text, std::string& error);

// "320x240@60:DEPTH_1_MM": the parts asked for, a format by its name when it has one.
std::string describeRequest(const ModeRequest& request);

// "320x240@60:DEPTH_1_MM (100)": a mode that --depth-mode takes back, and its code.
std::string describeMode(const VideoModeSpec& mode);

// The first of `offered` that has every part of `request`.
std::optional<std::size_t> firstMatch(const std::vector<VideoModeSpec>& offered,
                                      const ModeRequest& request);

// The modes a sensor offers, in its order.
std::vector<VideoModeSpec> offeredModes(const openni::SensorInfo& sensor);
