#include "SerialNumber.h"

#include <algorithm>
#include <array>

#include "PrintableText.h"

std::optional<std::string> readSerialNumber(const openni::Device& device) {
    std::array<char, ONI_MAX_STR> buffer{};
    int size = static_cast<int>(buffer.size());
    if (device.getProperty(openni::DEVICE_PROPERTY_SERIAL_NUMBER, buffer.data(), &size) !=
        openni::STATUS_OK) {
        return std::nullopt;
    }
    // The size the driver says it wrote bounds the text, NUL or none.
    const auto written =
        static_cast<std::size_t>(std::clamp(size, 0, static_cast<int>(buffer.size())));
    std::string serial(fieldText(buffer.data(), written));
    if (serial.empty()) {
        return std::nullopt;
    }
    return serial;
}
