#include "VirtualDevice.h"

#include <algorithm>
#include <iterator>

#include "OniConversions.h"

namespace vcam {

VirtualDevice::VirtualDevice(const DeviceConfig& config, std::shared_ptr<Plug> plug, EventLog& log,
                             oni::driver::DriverServices& services)
    : config_(config), plug_(std::move(plug)), log_(log), services_(services) {
    std::transform(config.sensors.begin(), config.sensors.end(), std::back_inserter(videoModes_),
                   videoModeOf);
    for (std::size_t i = 0; i < config.sensors.size(); ++i) {
        OniSensorInfo info{};
        info.sensorType = oniSensorTypeOf(config.sensors[i].kind);
        info.numSupportedVideoModes = 1;
        info.pSupportedVideoModes = &videoModes_[i];
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
