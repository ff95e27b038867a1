#include "VirtualDevice.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "OniConversions.h"

namespace vcam {

VirtualDevice::VirtualDevice(const DeviceConfig& config, std::shared_ptr<Plug> plug, EventLog& log,
                             oni::driver::DriverServices& services)
    : config_(config), plug_(std::move(plug)), log_(log), services_(services) {
    for (const SensorConfig& sensor : config.sensors) {
        const std::vector<VideoMode> offered = sensor.offeredModes();
        std::vector<OniVideoMode>& modes = videoModes_.emplace_back();
        std::transform(offered.begin(), offered.end(), std::back_inserter(modes), oniVideoModeOf);
        OniSensorInfo info{};
        info.sensorType = oniSensorTypeOf(sensor.kind);
        info.numSupportedVideoModes = static_cast<int>(modes.size());
        info.pSupportedVideoModes = modes.data();
        sensorInfos_.push_back(info);
    }
}

VirtualDevice::~VirtualDevice() {
    while (!streams_.empty()) {
        discardStream(streams_.back().get());
    }
}

OniStatus VirtualDevice::getSensorInfoList(OniSensorInfo** sensors, int* count) {
    *sensors = sensorInfos_.data();
    *count = static_cast<int>(sensorInfos_.size());
    return ONI_STATUS_OK;
}

oni::driver::StreamBase* VirtualDevice::createStream(OniSensorType sensorType) {
    const std::optional<SensorKind> kind = sensorKindOf(sensorType);
    const SensorConfig* sensor = kind ? config_.findSensor(*kind) : nullptr;
    const std::string name = kind ? sensorKindName(*kind) : std::to_string(sensorType);
    const char* failure = nullptr;
    if (!plug_->plugged()) {
        failure = "vcam: creating the %s %s stream failed: the camera is unplugged";
    } else if (sensor != nullptr && sensor->createFails) {
        failure = "vcam: the scenario makes creating the %s %s stream fail";
    }
    if (sensor == nullptr || failure != nullptr) {
        log_.write("create-fail " + config_.uri + " " + name);
        services_.errorLoggerAppend(failure != nullptr ? failure : "vcam: %s has no %s sensor",
                                    config_.uri.c_str(), name.c_str());
        return nullptr;
    }
    log_.write("create " + config_.uri + " " + name);
    streams_.push_back(
        std::make_unique<VirtualStream>(config_.uri, *sensor, plug_, log_, services_));
    return streams_.back().get();
}

OniStatus VirtualDevice::getProperty(int propertyId, void* data, int* dataSize) {
    if (propertyId != ONI_DEVICE_PROPERTY_SERIAL_NUMBER || !config_.serial) {
        return ONI_STATUS_NOT_SUPPORTED;
    }
    if (!plug_->plugged()) {
        services_.errorLoggerAppend(
            "vcam: reading a property of %s failed: the camera is unplugged", config_.uri.c_str());
        return ONI_STATUS_ERROR;
    }
    // A NUL-terminated string, whole or not at all.
    const std::string& serial = *config_.serial;
    if (data == nullptr || dataSize == nullptr || *dataSize < static_cast<int>(serial.size() + 1)) {
        return ONI_STATUS_BAD_PARAMETER;
    }
    std::memcpy(data, serial.c_str(), serial.size() + 1);
    *dataSize = static_cast<int>(serial.size() + 1);
    return ONI_STATUS_OK;
}

OniBool VirtualDevice::isPropertySupported(int propertyId) {
    return propertyId == ONI_DEVICE_PROPERTY_SERIAL_NUMBER && config_.serial ? TRUE : FALSE;
}

void VirtualDevice::destroyStream(oni::driver::StreamBase* stream) {
    discardStream(stream);
}

void VirtualDevice::discardStream(oni::driver::StreamBase* stream) {
    const auto found = std::find_if(
        streams_.begin(), streams_.end(),
        [stream](const std::unique_ptr<VirtualStream>& own) { return own.get() == stream; });
    if (found == streams_.end()) {
        return;  // not ours: deleting it would corrupt the heap
    }
    std::unique_ptr<VirtualStream> owned = std::move(*found);
    streams_.erase(found);
    log_.write("destroy " + config_.uri + " " + owned->sensorName());
}

}  // namespace vcam
