#include "Scenario.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string_view>

namespace vcam {

namespace {

// OniDeviceInfo holds the URI in a 256-byte array.
constexpr std::size_t kMaxUriLength = 255;
constexpr std::int64_t kMaxFps = 1000000;
constexpr int kMaxBytesPerPixel = 8;
constexpr std::int64_t kIntMax = std::numeric_limits<int>::max();

int defaultFormat(SensorKind kind) {
    switch (kind) {
        case SensorKind::Depth:
            return 100;
        case SensorKind::Color:
            return 200;
        case SensorKind::Ir:
            return 203;
    }
    return 100;
}

int defaultBytesPerPixel(int format) {
    if (format >= 100 && format <= 103) {
        return 2;
    }
    switch (format) {
        case 200:
            return 3;
        case 202:
        case 204:
            return 1;
        default:
            return 2;
    }
}

std::uint64_t defaultTimestampStep(int fps) {
    return fps > 0 ? static_cast<std::uint64_t>(1000000 / fps) : 1;
}

std::int64_t defaultMiddle(int bytesPerPixel) {
    return bytesPerPixel == 3 ? 0x0aff00 : 1000;
}

std::int64_t frameBytes(int stride, int height) {
    return static_cast<std::int64_t>(stride) * std::max(height, 0);
}

// Decimal or 0x-hexadecimal, optionally signed; the whole word must be a number
// that fits, so "12ms" or an overflowing value is reported rather than truncated.
std::optional<std::int64_t> parseInteger(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    // Unsigned, so that a second sign is refused and the magnitude of the
    // most negative value still fits.
    std::uint64_t magnitude = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, magnitude, base);
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    if (text.empty() || error != std::errc() || stop != end || magnitude > limit) {
        return std::nullopt;
    }
    if (negative) {
        return magnitude == limit ? std::numeric_limits<std::int64_t>::min()
                                  : -static_cast<std::int64_t>(magnitude);
    }
    return static_cast<std::int64_t>(magnitude);
}

// Digits only: a mode's parts sit between 'x', '@' and ':', where signs and
// 0x prefixes would be ambiguous.
std::optional<std::int64_t> parseDecimal(std::string_view text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || text.front() == '-' || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

// Items between commas, empty ones included so that they can be refused.
std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t begin = 0;
    for (std::size_t comma = text.find(','); comma != std::string::npos;
         comma = text.find(',', begin)) {
        items.push_back(text.substr(begin, comma - begin));
        begin = comma + 1;
    }
    items.push_back(text.substr(begin));
    return items;
}

bool isHexWord(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::vector<std::string> splitWords(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : line) {
        if (c == '#') {
            break;
        }
        if (c == ' ' || c == '\t' || c == '\r') {
            if (!word.empty()) {
                words.push_back(word);
                word.clear();
            }
        } else {
            word += c;
        }
    }
    if (!word.empty()) {
        words.push_back(word);
    }
    return words;
}

struct UsbIds {
    std::uint16_t vendor;
    std::uint16_t product;
};

class Parser {
public:
    explicit Parser(std::string fileName) : fileName_(std::move(fileName)) {}

    void parseLine(const std::string& text, int number) {
        lineNumber_ = number;
        const std::vector<std::string> words = splitWords(text);
        if (words.empty()) {
            return;
        }
        const std::string& verb = words[0];
        if (verb == "device") {
            parseDevice(words, 1, std::nullopt);
        } else if (verb == "at") {
            parseTimed(words);
        } else if (verb == "depth") {
            parseSensor(words, SensorKind::Depth);
        } else if (verb == "color") {
            parseSensor(words, SensorKind::Color);
        } else if (verb == "ir") {
            parseSensor(words, SensorKind::Ir);
        } else if (verb == "shutdown") {
            parseShutdown(words);
        } else {
            fail("unknown statement '" + verb + "'");
        }
    }

    Scenario finish() {
        // Earlier plug-ins come first, so a chain of replugs carries the sensors along.
        for (DeviceConfig& device : scenario_.devices) {
            if (device.replugOf && device.sensors.empty()) {
                device.sensors = scenario_.devices[*device.replugOf].sensors;
            }
        }
        std::stable_sort(scenario_.events.begin(), scenario_.events.end(),
                         [](const TimedEvent& a, const TimedEvent& b) { return a.atMs < b.atMs; });
        return std::move(scenario_);
    }

private:
    using Options = std::map<std::string, std::string>;

    [[noreturn]] void fail(const std::string& message) const {
        throw ScenarioError(fileName_ + ":" + std::to_string(lineNumber_) + ": " + message);
    }

    [[nodiscard]] Options parseOptions(const std::vector<std::string>& words,
                                       std::size_t first) const {
        Options options;
        for (std::size_t i = first; i < words.size(); ++i) {
            const std::size_t equals = words[i].find('=');
            if (equals == std::string::npos || equals == 0) {
                fail("expected key=value, got '" + words[i] + "'");
            }
            const std::string key = words[i].substr(0, equals);
            if (!options.emplace(key, words[i].substr(equals + 1)).second) {
                fail("option '" + key + "' given twice");
            }
        }
        return options;
    }

    [[nodiscard]] std::int64_t integer(const std::string& what, const std::string& text,
                                       std::int64_t min, std::int64_t max) const {
        const std::optional<std::int64_t> value = parseInteger(text);
        if (!value) {
            fail(what + " must be an integer, got '" + text + "'");
        }
        if (*value < min || *value > max) {
            fail(what + " must be between " + std::to_string(min) + " and " + std::to_string(max) +
                 ", got " + text);
        }
        return *value;
    }

    // Reads and removes an option, so that what is left over is unknown.
    std::optional<std::int64_t> take(Options& options, const std::string& key, std::int64_t min,
                                     std::int64_t max) const {
        const auto found = options.find(key);
        if (found == options.end()) {
            return std::nullopt;
        }
        const std::int64_t value = integer(key, found->second, min, max);
        options.erase(found);
        return value;
    }

    bool takeFail(Options& options, const std::string& key) const {
        const auto found = options.find(key);
        if (found == options.end()) {
            return false;
        }
        if (found->second != "fail") {
            fail(key + " can only be 'fail', got '" + found->second + "'");
        }
        options.erase(found);
        return true;
    }

    // A word of the device's identity: a name, a vendor, a serial number.
    std::optional<std::string> takeText(Options& options, const std::string& key) const {
        const auto found = options.find(key);
        if (found == options.end()) {
            return std::nullopt;
        }
        const std::string value = found->second;
        options.erase(found);
        if (value.empty()) {
            fail(key + " must not be empty");
        }
        if (value.size() > kMaxDeviceTextLength) {
            fail(key + " longer than " + std::to_string(kMaxDeviceTextLength) + " characters");
        }
        // A program prints these as they come, to a terminal perhaps.
        for (const char byte : value) {
            if (static_cast<unsigned char>(byte) < 0x20 || byte == 0x7f) {
                fail(key + " with a control character");
            }
        }
        return value;
    }

    // usb=VVVV:PPPP, the vendor and product ids as lsusb prints them.
    std::optional<UsbIds> takeUsbIds(Options& options) const {
        const auto found = options.find("usb");
        if (found == options.end()) {
            return std::nullopt;
        }
        const std::string ids = found->second;
        options.erase(found);
        if (ids.size() != 9 || ids[4] != ':' || !isHexWord(ids.substr(0, 4)) ||
            !isHexWord(ids.substr(5))) {
            fail("usb must be VVVV:PPPP, four hexadecimal digits each, got '" + ids + "'");
        }
        return UsbIds{static_cast<std::uint16_t>(std::stoul(ids.substr(0, 4), nullptr, 16)),
                      static_cast<std::uint16_t>(std::stoul(ids.substr(5), nullptr, 16))};
    }

    void rejectLeftovers(const Options& options) const {
        if (!options.empty()) {
            fail("unknown option '" + options.begin()->first + "'");
        }
    }

    void parseShutdown(const std::vector<std::string>& words) {
        if (words.size() != 2 || words[1] != "hang") {
            fail("expected 'shutdown hang'");
        }
        scenario_.shutdownHangs = true;
    }

    void parseDevice(const std::vector<std::string>& words, std::size_t uriIndex,
                     std::optional<std::int64_t> connectAtMs) {
        if (words.size() <= uriIndex) {
            fail("missing device URI");
        }
        const std::string& uri = words[uriIndex];
        checkUri(uri);
        Options options = parseOptions(words, uriIndex + 1);
        DeviceConfig device;
        device.uri = uri;
        device.openFails = takeFail(options, "open");
        device.connectAtMs = connectAtMs;
        const std::optional<std::string> name = takeText(options, "name");
        const std::optional<std::string> vendor = takeText(options, "vendor");
        const std::optional<std::string> serial = takeText(options, "serial");
        const std::optional<UsbIds> usb = takeUsbIds(options);
        rejectLeftovers(options);
        if (const auto known = deviceLines_.find(uri); known != deviceLines_.end()) {
            device.replugOf = replugged(uri, known->second, connectAtMs);
        }
        if (serial) {
            if (const std::optional<std::size_t> owner = serialOwner(*serial, connectAtMs)) {
                device.replugOf = owner;
            }
            serialLines_[*serial] = lineNumber_;
        }
        // The same camera again: what this line leaves out, it keeps.
        if (device.replugOf) {
            const DeviceConfig& earlier = scenario_.devices[*device.replugOf];
            device.name = earlier.name;
            device.vendor = earlier.vendor;
            device.usbVendorId = earlier.usbVendorId;
            device.usbProductId = earlier.usbProductId;
            device.serial = earlier.serial;
        }
        device.name = name.value_or(device.name);
        device.vendor = vendor.value_or(device.vendor);
        device.serial = serial ? serial : device.serial;
        if (usb) {
            device.usbVendorId = usb->vendor;
            device.usbProductId = usb->product;
        }
        deviceLines_[uri] = lineNumber_;
        scenario_.devices.push_back(std::move(device));
        if (connectAtMs) {
            addEvent(*connectAtMs, TimedEvent::Kind::Connect, scenario_.devices.size() - 1, 0);
        }
    }

    // A URI comes back only on a connect line, once its last plug-in has been
    // unplugged (above, and not later than the new plug-in); that plug-in's index.
    [[nodiscard]] std::size_t replugged(const std::string& uri, int definedOn,
                                        std::optional<std::int64_t> connectAtMs) const {
        const std::string defined =
            "device " + uri + " already defined on line " + std::to_string(definedOn);
        if (!connectAtMs) {
            fail(defined);
        }
        const std::size_t previous = knownDevice(uri);
        if (!unpluggedBy(previous, *connectAtMs)) {
            fail(defined + " and not unplugged by " + std::to_string(*connectAtMs) + " ms");
        }
        return previous;
    }

    // Whether the plug-in was unplugged above, between its plug-in and atMs.
    [[nodiscard]] bool unpluggedBy(std::size_t device, std::int64_t atMs) const {
        const std::int64_t pluggedAt = scenario_.devices[device].connectAtMs.value_or(0);
        return std::any_of(scenario_.events.begin(), scenario_.events.end(),
                           [device, pluggedAt, atMs](const TimedEvent& event) {
                               return event.device == device &&
                                      event.kind == TimedEvent::Kind::Disconnect &&
                                      event.atMs >= pluggedAt && event.atMs <= atMs;
                           });
    }

    // A serial names one camera: given again, it is that camera plugged in
    // again, once it was unplugged; the index of its latest plug-in.
    [[nodiscard]] std::optional<std::size_t> serialOwner(
        const std::string& serial, std::optional<std::int64_t> connectAtMs) const {
        const auto given = serialLines_.find(serial);
        if (given == serialLines_.end()) {
            return std::nullopt;
        }
        const std::string defined =
            "serial " + serial + " already given on line " + std::to_string(given->second);
        if (!connectAtMs) {
            fail(defined);
        }
        const auto latest =
            std::find_if(scenario_.devices.rbegin(), scenario_.devices.rend(),
                         [&serial](const DeviceConfig& device) { return device.serial == serial; });
        const auto owner =
            static_cast<std::size_t>(std::distance(latest, scenario_.devices.rend())) - 1;
        if (!unpluggedBy(owner, *connectAtMs)) {
            fail(defined + " and its camera not unplugged by " + std::to_string(*connectAtMs) +
                 " ms");
        }
        return owner;
    }

    void checkUri(const std::string& uri) const {
        if (uri.find('=') != std::string::npos) {
            fail("missing device URI before '" + uri + "'");
        }
        if (uri.size() > kMaxUriLength) {
            fail("device URI longer than " + std::to_string(kMaxUriLength) + " characters");
        }
        // The camera library crashes on a URI holding such a byte.
        for (const char byte : uri) {
            if (static_cast<unsigned char>(byte) >= 0x80) {
                fail("device URI with a byte of 0x80 or above, which the library cannot handle");
            }
        }
    }

    void parseTimed(const std::vector<std::string>& words) {
        if (words.size() < 3) {
            fail("expected 'at <ms> connect|disconnect|state ...'");
        }
        const std::int64_t atMs =
            integer("time", words[1], 0, std::numeric_limits<std::int64_t>::max() / 1000000);
        const std::string& action = words[2];
        if (action == "connect") {
            parseDevice(words, 3, atMs);
        } else if (action == "disconnect") {
            if (words.size() != 4) {
                fail("expected 'at <ms> disconnect <uri>'");
            }
            addEvent(atMs, TimedEvent::Kind::Disconnect, pluggedDevice(words[3], atMs), 0);
        } else if (action == "state") {
            if (words.size() != 5) {
                fail("expected 'at <ms> state <uri> <code>'");
            }
            const auto code =
                static_cast<int>(integer("state code", words[4], std::numeric_limits<int>::min(),
                                         std::numeric_limits<int>::max()));
            addEvent(atMs, TimedEvent::Kind::State, pluggedDevice(words[3], atMs), code);
        } else {
            fail("unknown timed action '" + action + "'");
        }
    }

    // The latest plug-in of the URI above this line.
    [[nodiscard]] std::size_t knownDevice(const std::string& uri) const {
        for (std::size_t i = scenario_.devices.size(); i-- > 0;) {
            if (scenario_.devices[i].uri == uri) {
                return i;
            }
        }
        fail("device " + uri + " is not defined above");
    }

    // An event names the latest plug-in above it, so one timed before that
    // plug-in was meant for an earlier one and would go astray.
    [[nodiscard]] std::size_t pluggedDevice(const std::string& uri, std::int64_t atMs) const {
        const std::size_t device = knownDevice(uri);
        const DeviceConfig& config = scenario_.devices[device];
        if (config.replugOf && atMs < *config.connectAtMs) {
            fail("device " + uri + " is plugged in again only at " +
                 std::to_string(*config.connectAtMs) + " ms");
        }
        return device;
    }

    void addEvent(std::int64_t atMs, TimedEvent::Kind kind, std::size_t device, int code) {
        TimedEvent event;
        event.atMs = atMs;
        event.kind = kind;
        event.device = device;
        event.stateCode = code;
        scenario_.events.push_back(event);
    }

    void parseSensor(const std::vector<std::string>& words, SensorKind kind) {
        if (scenario_.devices.empty()) {
            fail(std::string(sensorKindName(kind)) + " sensor before any device");
        }
        DeviceConfig& device = scenario_.devices.back();
        if (device.findSensor(kind) != nullptr) {
            fail("device " + device.uri + " already has a " + sensorKindName(kind) + " sensor");
        }
        Options options = parseOptions(words, 1);
        device.sensors.push_back(sensorFromOptions(kind, options));
        rejectLeftovers(options);
    }

    SensorConfig sensorFromOptions(SensorKind kind, Options& options) const {
        constexpr std::int64_t intMin = std::numeric_limits<int>::min();
        constexpr std::int64_t anyMin = std::numeric_limits<std::int64_t>::min();
        constexpr std::int64_t anyMax = std::numeric_limits<std::int64_t>::max();

        SensorConfig sensor = defaultSensor(kind);
        sensor.format = static_cast<int>(
            take(options, "format", intMin, kIntMax).value_or(defaultFormat(kind)));
        sensor.width = static_cast<int>(take(options, "width", intMin, kIntMax).value_or(640));
        sensor.height = static_cast<int>(take(options, "height", intMin, kIntMax).value_or(480));
        sensor.bytesPerPixel = static_cast<int>(take(options, "bpp", 1, kMaxBytesPerPixel)
                                                    .value_or(defaultBytesPerPixel(sensor.format)));
        const std::int64_t packedStride =
            std::max<std::int64_t>(0, std::int64_t{sensor.width} * sensor.bytesPerPixel);
        sensor.stride = static_cast<int>(
            take(options, "stride", 0, kIntMax).value_or(std::min(packedStride, kIntMax)));
        sensor.fps = static_cast<int>(take(options, "fps", 0, kMaxFps).value_or(30));
        sensor.frameLimit = take(options, "frames", 0, anyMax);
        sensor.firstTimestamp =
            static_cast<std::uint64_t>(take(options, "ts", 0, anyMax).value_or(0));
        const std::optional<std::int64_t> step = take(options, "step", 0, anyMax);
        sensor.timestampStepGiven = step.has_value();
        sensor.timestampStep =
            static_cast<std::uint64_t>(step.value_or(defaultTimestampStep(sensor.fps)));
        sensor.middle =
            take(options, "middle", anyMin, anyMax).value_or(defaultMiddle(sensor.bytesPerPixel));
        sensor.middleStep = take(options, "middle_step", anyMin, anyMax).value_or(0);
        sensor.fill = take(options, "fill", anyMin, anyMax).value_or(0);
        const std::int64_t packedSize = frameBytes(sensor.stride, sensor.height);
        sensor.dataSize = take(options, "size", 0, kMaxFrameBytes).value_or(packedSize);
        if (std::max(packedSize, sensor.dataSize) > kMaxFrameBytes) {
            fail("frame of " + std::to_string(packedSize) + " bytes is larger than " +
                 std::to_string(kMaxFrameBytes));
        }
        sensor.createFails = takeFail(options, "create");
        sensor.startFails = takeFail(options, "start");
        sensor.loseEvery = take(options, "lose", 2, kIntMax);
        takeLostIndexes(options, sensor);
        takeExtraModes(options, sensor);
        return sensor;
    }

    // lost=I,J,...: frame indexes, as the library's int holds them.
    void takeLostIndexes(Options& options, SensorConfig& sensor) const {
        const auto found = options.find("lost");
        if (found == options.end()) {
            return;
        }
        for (const std::string& item : splitList(found->second)) {
            const std::int64_t index = integer("lost frame", item, 1, kIntMax);
            if (!sensor.lostIndexes.insert(index).second) {
                fail("lost frame " + item + " given twice");
            }
        }
        options.erase(found);
    }

    // modes=WxH@FPS:FORMAT,...: offered besides the sensor's own mode.
    void takeExtraModes(Options& options, SensorConfig& sensor) const {
        const auto found = options.find("modes");
        if (found == options.end()) {
            return;
        }
        const std::vector<std::string> items = splitList(found->second);
        if (items.size() > kMaxExtraModes) {
            fail("more than " + std::to_string(kMaxExtraModes) + " modes");
        }
        for (const std::string& item : items) {
            const VideoMode mode = videoMode(item);
            const std::vector<VideoMode> offered = sensor.offeredModes();
            if (std::find(offered.begin(), offered.end(), mode) != offered.end()) {
                fail("mode " + item + " offered twice");
            }
            sensor.extraModes.push_back(mode);
        }
        options.erase(found);
    }

    [[nodiscard]] VideoMode videoMode(const std::string& text) const {
        const std::size_t times = text.find('x');
        const std::size_t at = text.find('@', times == std::string::npos ? 0 : times);
        const std::size_t colon = text.find(':', at == std::string::npos ? 0 : at);
        if (times == std::string::npos || at == std::string::npos || colon == std::string::npos) {
            fail("mode must be WIDTHxHEIGHT@FPS:FORMAT, got '" + text + "'");
        }
        const std::string_view view(text);
        VideoMode mode;
        mode.width = modePart(text, "width", view.substr(0, times), 1, kIntMax);
        mode.height = modePart(text, "height", view.substr(times + 1, at - times - 1), 1, kIntMax);
        mode.fps = modePart(text, "fps", view.substr(at + 1, colon - at - 1), 0, kMaxFps);
        mode.format = modePart(text, "format", view.substr(colon + 1), 0, kIntMax);
        // A row alone may exceed the bound, and then its product the int64 range.
        const std::int64_t rowBytes = std::int64_t{mode.width} * defaultBytesPerPixel(mode.format);
        if (rowBytes > kMaxFrameBytes || rowBytes * mode.height > kMaxFrameBytes) {
            fail("mode " + text + " has frames larger than " + std::to_string(kMaxFrameBytes) +
                 " bytes");
        }
        return mode;
    }

    int modePart(const std::string& mode, const char* part, std::string_view text, std::int64_t min,
                 std::int64_t max) const {
        const std::optional<std::int64_t> value = parseDecimal(text);
        if (!value || *value < min || *value > max) {
            fail(std::string("mode ") + mode + ": " + part + " must be between " +
                 std::to_string(min) + " and " + std::to_string(max) + ", got '" +
                 std::string(text) + "'");
        }
        return static_cast<int>(*value);
    }

    std::string fileName_;
    int lineNumber_ = 0;
    std::map<std::string, int> deviceLines_;
    std::map<std::string, int> serialLines_;
    Scenario scenario_;
};

}  // namespace

const char* sensorKindName(SensorKind kind) {
    switch (kind) {
        case SensorKind::Depth:
            return "depth";
        case SensorKind::Color:
            return "color";
        case SensorKind::Ir:
            return "ir";
    }
    return "unknown";
}

std::string describeMode(const VideoMode& mode) {
    return std::to_string(mode.width) + "x" + std::to_string(mode.height) + "@" +
           std::to_string(mode.fps) + ":" + std::to_string(mode.format);
}

VideoMode SensorConfig::ownMode() const {
    VideoMode mode;
    mode.width = width;
    mode.height = height;
    mode.fps = fps;
    mode.format = format;
    return mode;
}

std::vector<VideoMode> SensorConfig::offeredModes() const {
    std::vector<VideoMode> modes{ownMode()};
    modes.insert(modes.end(), extraModes.begin(), extraModes.end());
    return modes;
}

bool SensorConfig::isLost(std::uint64_t frameIndex) const {
    const auto index = static_cast<std::int64_t>(frameIndex);
    return (loseEvery && index % *loseEvery == 0) || lostIndexes.count(index) != 0;
}

SensorConfig sensorInMode(const SensorConfig& sensor, const VideoMode& mode) {
    if (mode == sensor.ownMode()) {
        return sensor;
    }
    SensorConfig inMode = sensor;
    inMode.width = mode.width;
    inMode.height = mode.height;
    inMode.fps = mode.fps;
    inMode.format = mode.format;
    inMode.bytesPerPixel = defaultBytesPerPixel(mode.format);
    inMode.stride = std::max(mode.width, 0) * inMode.bytesPerPixel;
    inMode.dataSize = frameBytes(inMode.stride, mode.height);
    if (!sensor.timestampStepGiven) {
        inMode.timestampStep = defaultTimestampStep(mode.fps);
    }
    return inMode;
}

const SensorConfig* DeviceConfig::findSensor(SensorKind kind) const {
    const auto found =
        std::find_if(sensors.begin(), sensors.end(),
                     [kind](const SensorConfig& sensor) { return sensor.kind == kind; });
    return found == sensors.end() ? nullptr : &*found;
}

SensorConfig defaultSensor(SensorKind kind) {
    SensorConfig sensor;
    sensor.kind = kind;
    sensor.format = defaultFormat(kind);
    sensor.bytesPerPixel = defaultBytesPerPixel(sensor.format);
    sensor.stride = sensor.width * sensor.bytesPerPixel;
    sensor.timestampStep = defaultTimestampStep(sensor.fps);
    sensor.middle = defaultMiddle(sensor.bytesPerPixel);
    sensor.dataSize = frameBytes(sensor.stride, sensor.height);
    return sensor;
}

Scenario defaultScenario() {
    DeviceConfig device;
    device.uri = "vcam://0";
    device.sensors.push_back(defaultSensor(SensorKind::Depth));
    device.sensors.push_back(defaultSensor(SensorKind::Color));
    Scenario scenario;
    scenario.devices.push_back(std::move(device));
    return scenario;
}

Scenario parseScenario(std::istream& in, const std::string& fileName) {
    Parser parser(fileName);
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        parser.parseLine(line, ++number);
    }
    if (in.bad()) {
        throw ScenarioError(fileName + ": read error after line " + std::to_string(number));
    }
    return parser.finish();
}

Scenario loadScenario(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw ScenarioError(path + ": cannot open: " + std::strerror(errno));
    }
    // A directory opens, and only its first read fails; say what it is.
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        throw ScenarioError(path + ": cannot open: " + std::strerror(EISDIR));
    }
    return parseScenario(in, path);
}

}  // namespace vcam
