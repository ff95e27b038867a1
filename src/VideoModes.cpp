#include "VideoModes.h"

#include <cstddef>
#include <cstring>
#include <limits>

#include "PixelFormats.h"
#include "WholeNumber.h"

namespace {

std::optional<int> wholeNumber(std::string_view text, int lowest, int highest) {
    const std::optional<long long> value = parseWholeNumber(text, lowest, highest);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<int> side(std::string_view text, const char* which, std::string& error) {
    const std::optional<int> value = wholeNumber(text, 1, kMaxModeSide);
    if (!value) {
        error = std::string("the ") + which + " must be a whole number from 1 to " +
                std::to_string(kMaxModeSide);
    }
    return value;
}

std::optional<int> formatCode(std::string_view text, std::string& error) {
    if (const std::optional<int> named = pixelFormatCode(text)) {
        return named;
    }
    const std::optional<int> code =
        wholeNumber(text, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
    if (!code) {
        error =
            "the format must be a pixel format name such as DEPTH_1_MM or RGB888, or its number";
    }
    return code;
}

std::string formatText(int code) {
    const char* name = pixelFormatName(code);
    return name != nullptr ? name : std::to_string(code);
}

}  // namespace

std::optional<ModeRequest> parseModeRequest(std::string_view text, std::string& error) {
    ModeRequest request;
    const std::size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        request.pixelFormat = formatCode(text.substr(colon + 1), error);
        if (!request.pixelFormat) {
            return std::nullopt;
        }
        text = text.substr(0, colon);
    }
    const std::size_t at = text.find('@');
    if (at != std::string_view::npos) {
        request.fps = wholeNumber(text.substr(at + 1), 1, kMaxModeFps);
        if (!request.fps) {
            error =
                "the frame rate must be a whole number from 1 to " + std::to_string(kMaxModeFps);
            return std::nullopt;
        }
        text = text.substr(0, at);
    }
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) {
        error = "expected WIDTHxHEIGHT[@FPS][:FORMAT]";
        return std::nullopt;
    }
    const std::optional<int> width = side(text.substr(0, x), "width", error);
    if (!width) {
        return std::nullopt;
    }
    const std::optional<int> height = side(text.substr(x + 1), "height", error);
    if (!height) {
        return std::nullopt;
    }
    request.width = *width;
    request.height = *height;
    return request;
}

std::string describeRequest(const ModeRequest& request) {
    std::string text = std::to_string(request.width) + "x" + std::to_string(request.height);
    if (request.fps) {
        text += "@" + std::to_string(*request.fps);
    }
    if (request.pixelFormat) {
        text += ":" + formatText(*request.pixelFormat);
    }
    return text;
}

std::string describeMode(const VideoModeSpec& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" +
           std::to_string(mode.fps) + ":" + formatText(mode.pixelFormat) + " (" +
           std::to_string(mode.pixelFormat) + ")";
}

std::optional<std::size_t> firstMatch(const std::vector<VideoModeSpec>& offered,
                                      const ModeRequest& request) {
    for (std::size_t i = 0; i < offered.size(); ++i) {
        const VideoModeSpec& mode = offered[i];
        if (mode.width == request.width && mode.height == request.height &&
            (!request.fps || *request.fps == mode.fps) &&
            (!request.pixelFormat || *request.pixelFormat == mode.pixelFormat)) {
            return i;
        }
    }
    return std::nullopt;
}

std::vector<VideoModeSpec> offeredModes(const openni::SensorInfo& sensor) {
    const openni::Array<openni::VideoMode>& modes = sensor.getSupportedVideoModes();
    std::vector<VideoModeSpec> offered;
    offered.reserve(static_cast<std::size_t>(modes.getSize() > 0 ? modes.getSize() : 0));
    for (int i = 0; i < modes.getSize(); ++i) {
        const openni::VideoMode& mode = modes[i];
        VideoModeSpec described{mode.getResolutionX(), mode.getResolutionY(), mode.getFps(), 0};
        // A driver may offer any code, also one outside the enum's values, and
        // loading such a code as the enum type is undefined: its bytes go into
        // an int. The library's VideoMode is its C struct, under another name.
        static_assert(sizeof(openni::VideoMode) == sizeof(OniVideoMode));
        const auto* bytes = reinterpret_cast<const unsigned char*>(&mode);
        static_assert(sizeof described.pixelFormat == sizeof(OniVideoMode::pixelFormat));
        std::memcpy(&described.pixelFormat, bytes + offsetof(OniVideoMode, pixelFormat),
                    sizeof described.pixelFormat);
        offered.push_back(described);
    }
    return offered;
}
