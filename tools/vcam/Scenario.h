// The scenario the virtual camera plays: which cameras exist, what their
// sensors send and what happens when. Parsing is kept apart from the driver so
// that it can be tested without the camera library.
#pragma once

#include <cstdint>
#include <istream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vcam {

enum class SensorKind { Depth, Color, Ir };

const char* sensorKindName(SensorKind kind);

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
    std::int64_t middle = 1000;
    std::int64_t middleStep = 0;
    std::int64_t fill = 0;
    std::int64_t dataSize = std::int64_t{1280} * 480;
    bool createFails = false;
    bool startFails = false;
};

// One plug-in of a camera: a camera unplugged and plugged in again with the
// same URI is a second DeviceConfig.
struct DeviceConfig {
    std::string uri;
    bool openFails = false;
    std::optional<std::int64_t> connectAtMs;  // unset: present when the library starts
    std::vector<SensorConfig> sensors;
    // For a camera plugged in again: its earlier plug-in, whose sensors it
    // keeps unless it declares its own.
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

}  // namespace vcam
