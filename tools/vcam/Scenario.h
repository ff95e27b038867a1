// The scenario the virtual camera plays: which cameras exist, what their
// sensors send and what happens when. Parsing is kept apart from the driver so
// that it can be tested without the camera library.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace vcam {

enum class SensorKind { Depth, Color, Ir };

const char* sensorKindName(SensorKind kind);

// What a sensor can be asked to send: the library's video mode.
struct VideoMode {
    int width = 0;
    int height = 0;
    int fps = 0;
    int format = 0;

    bool operator==(const VideoMode& other) const {
        return width == other.width && height == other.height && fps == other.fps &&
               format == other.format;
    }
    bool operator!=(const VideoMode& other) const { return !(*this == other); }
};

// As the scenario writes it: WxH@FPS:FORMAT.
std::string describeMode(const VideoMode& mode);

struct SensorConfig {
    SensorKind kind = SensorKind::Depth;
    int format = 100;
    int width = 640;
    int height = 480;
    int bytesPerPixel = 2;
    int stride = 1280;
    int fps = 30;
    std::optional<std::int64_t> frameLimit;  // unset: unlimited
    std::uint64_t firstTimestamp = 0;
    std::uint64_t timestampStep = 33333;
    bool timestampStepGiven = false;  // else it follows the mode's fps
    std::int64_t middle = 1000;
    std::int64_t middleStep = 0;
    std::int64_t fill = 0;
    std::int64_t dataSize = std::int64_t{1280} * 480;
    bool createFails = false;
    bool startFails = false;
    // Offered besides the sensor's own mode (above), which comes first.
    std::vector<VideoMode> extraModes;
    // Lost frames: their index and time slot pass, but they are never sent.
    std::optional<std::int64_t> loseEvery;  // every Nth frame
    std::set<std::int64_t> lostIndexes;

    [[nodiscard]] VideoMode ownMode() const;
    // The own mode first, then the extra ones in scenario order.
    [[nodiscard]] std::vector<VideoMode> offeredModes() const;
    [[nodiscard]] bool isLost(std::uint64_t frameIndex) const;
};

// The sensor as it sends in one of its offered modes. Its own mode keeps
// every option; another takes its size, rate and format, with bytes per pixel
// from the format, packed rows and whole frames.
SensorConfig sensorInMode(const SensorConfig& sensor, const VideoMode& mode);

// One plug-in of a camera: a camera unplugged and plugged in again with the
// same URI is a second DeviceConfig.
struct DeviceConfig {
    std::string uri;
    std::string name = "virtual camera";
    std::string vendor = "camwatch";
    std::uint16_t usbVendorId = 0;
    std::uint16_t usbProductId = 0;
    std::optional<std::string> serial;  // unset: the camera gives none
    bool openFails = false;
    std::optional<std::int64_t> connectAtMs;  // unset: present when the library starts
    std::vector<SensorConfig> sensors;
    // For a camera plugged in again, under its URI or with its serial: its
    // earlier plug-in, whose sensors it keeps unless it declares its own.
    std::optional<std::size_t> replugOf;

    [[nodiscard]] const SensorConfig* findSensor(SensorKind kind) const;
};

struct TimedEvent {
    enum class Kind { Connect, Disconnect, State };
    std::int64_t atMs = 0;
    Kind kind = Kind::Connect;
    std::size_t device = 0;  // index into Scenario::devices
    int stateCode = 0;
};

struct Scenario {
    std::vector<DeviceConfig> devices;  // in file order
    std::vector<TimedEvent> events;     // by time; file order among equal times
    bool shutdownHangs = false;         // the driver's shutdown never returns
};

// The message names the file and, where there is one, the line.
class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One camera vcam://0 with 640x480 depth and color at 30 fps.
Scenario defaultScenario();

Scenario parseScenario(std::istream& in, const std::string& fileName);
Scenario loadScenario(const std::string& path);

// A sensor with every option at its default value.
SensorConfig defaultSensor(SensorKind kind);

// Upper bound on one frame's buffer, so a typo cannot exhaust memory.
constexpr std::int64_t kMaxFrameBytes = std::int64_t{1} << 28;
// The library's device info holds name and vendor in 256-byte arrays; a serial
// is held to the same so that a caller's buffer of that size takes it.
constexpr std::size_t kMaxDeviceTextLength = 255;
constexpr std::size_t kMaxExtraModes = 64;

}  // namespace vcam
