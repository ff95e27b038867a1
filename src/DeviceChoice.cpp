#include "DeviceChoice.h"

#include <cctype>

#include "PrintableText.h"
#include "SerialNumber.h"
#include "WholeNumber.h"

std::optional<std::size_t> listedChoice(const std::vector<std::string>& uris,
                                        std::string_view choice) {
    if (uris.empty()) {
        return std::nullopt;
    }
    if (!choice.empty() && std::isdigit(static_cast<unsigned char>(choice.front())) != 0) {
        const auto count = static_cast<long long>(uris.size());
        if (const std::optional<long long> index = parseWholeNumber(choice, 0, count - 1)) {
            return static_cast<std::size_t>(*index);
        }
    }
    for (std::size_t i = 0; i < uris.size(); ++i) {
        if (uris[i] == choice) {
            return i;
        }
    }
    return std::nullopt;
}

namespace {

bool openedBySerial(openni::Device& device, const openni::Array<openni::DeviceInfo>& devices,
                    const std::string& serial) {
    for (int i = 0; i < devices.getSize(); ++i) {
        if (device.open(devices[i].getUri()) != openni::STATUS_OK) {
            continue;
        }
        if (readSerialNumber(device) == serial) {
            return true;
        }
        device.close();
    }
    return false;
}

}  // namespace

openni::Status openChosenDevice(openni::Device& device,
                                const openni::Array<openni::DeviceInfo>& devices,
                                const std::optional<std::string>& choice) {
    if (!choice) {
        // With an empty list there is no first URI; asking for any device lets the
        // library say why none can be opened.
        return device.open(devices.getSize() > 0 ? devices[0].getUri() : openni::ANY_DEVICE);
    }
    std::vector<std::string> uris;
    uris.reserve(static_cast<std::size_t>(devices.getSize()));
    for (int i = 0; i < devices.getSize(); ++i) {
        uris.emplace_back(fieldText(devices[i].getUri(), ONI_MAX_STR));
    }
    if (const std::optional<std::size_t> listed = listedChoice(uris, *choice)) {
        return device.open(devices[static_cast<int>(*listed)].getUri());
    }
    if (openedBySerial(device, devices, *choice)) {
        return openni::STATUS_OK;
    }
    return device.open(choice->c_str());
}
