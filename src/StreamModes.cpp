#include "StreamModes.h"

#include <cstdio>
#include <string>
#include <vector>

#include "PrintableText.h"
#include "Streams.h"

namespace {

struct ChosenMode {
    openni::VideoMode mode;  // as the sensor offers it, to be handed back as it is
    VideoModeSpec described;
    std::vector<VideoModeSpec> offered;  // all the sensor's modes, for a refusal
};

// The modes a sensor offers, one a line as --list writes them.
std::string offeredLines(const char* name, const std::vector<VideoModeSpec>& offered) {
    std::string lines;
    for (const VideoModeSpec& mode : offered) {
        lines += std::string("  ") + name + " " + describeMode(mode) + "\n";
    }
    return lines;
}

// The mode of `sensor` that `request` asks for, or none, said on standard error.
std::optional<ChosenMode> offeredMode(openni::Device& device, openni::SensorType sensor,
                                      const char* name, const ModeRequest& request) {
    const std::string asked = std::string("--") + name + "-mode " + describeRequest(request) + ": ";
    const openni::SensorInfo* info = device.getSensorInfo(sensor);
    if (info == nullptr) {
        std::fprintf(stderr, "camwatch: %sthe camera has no %s sensor\n", asked.c_str(), name);
        return std::nullopt;
    }
    const std::vector<VideoModeSpec> offered = offeredModes(*info);
    if (const std::optional<std::size_t> match = firstMatch(offered, request)) {
        return ChosenMode{info->getSupportedVideoModes()[static_cast<int>(*match)], offered[*match],
                          offered};
    }
    const std::string message =
        "camwatch: " + asked + "the " + name + " sensor offers no such mode" +
        (offered.empty() ? ", and none at all\n" : "; it offers:\n") + offeredLines(name, offered);
    std::fputs(message.c_str(), stderr);
    return std::nullopt;
}

// A stream that was never created has no mode to set; its failure is told already.
bool setMode(openni::VideoStream& stream, const ChosenMode& chosen, const char* name,
             const ModeRequest& request) {
    if (!stream.isValid() || stream.setVideoMode(chosen.mode) == openni::STATUS_OK) {
        return true;
    }
    // The library's reason, when it gives one.
    const std::string reason = oneLine(openni::OpenNI::getExtendedError());
    const std::string message = std::string("camwatch: --") + name + "-mode " +
                                describeRequest(request) + ": the " + name +
                                " stream refused the mode " + describeMode(chosen.described) +
                                (reason.empty() ? "" : ": " + reason) + "; the " + name +
                                " sensor offers:\n" + offeredLines(name, chosen.offered);
    std::fputs(message.c_str(), stderr);
    return false;
}

}  // namespace

std::optional<StreamsStarted> createAndStartInModes(openni::Device& device,
                                                    openni::VideoStream& depth,
                                                    openni::VideoStream& color,
                                                    const std::optional<ModeRequest>& depthMode,
                                                    const std::optional<ModeRequest>& colorMode) {
    std::optional<ChosenMode> depthChosen;
    std::optional<ChosenMode> colorChosen;
    if (depthMode) {
        depthChosen = offeredMode(device, openni::SENSOR_DEPTH, "depth", *depthMode);
        if (!depthChosen) {
            return std::nullopt;
        }
    }
    if (colorMode) {
        colorChosen = offeredMode(device, openni::SENSOR_COLOR, "color", *colorMode);
        if (!colorChosen) {
            return std::nullopt;
        }
    }
    createStream(device, openni::SENSOR_DEPTH, depth, "depth");
    createStream(device, openni::SENSOR_COLOR, color, "color");
    if ((depthChosen && !setMode(depth, *depthChosen, "depth", *depthMode)) ||
        (colorChosen && !setMode(color, *colorChosen, "color", *colorMode))) {
        return std::nullopt;
    }
    StreamsStarted started;
    started.depth = startStream(depth, "depth");
    started.color = startStream(color, "color");
    return started;
}
