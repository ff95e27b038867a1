// An opened virtual camera: its sensor list and the streams made from it.
#pragma once

#include <Driver/OniDriverAPI.h>

#include <memory>
#include <vector>

#include "EventLog.h"
#include "Plug.h"
#include "Scenario.h"
#include "VirtualStream.h"

namespace vcam {

class VirtualDevice : public oni::driver::DeviceBase {
public:
    VirtualDevice(const DeviceConfig& config, std::shared_ptr<Plug> plug, EventLog& log,
                  oni::driver::DriverServices& services);
    // Destroys the streams the library left behind.
    ~VirtualDevice() override;
    VirtualDevice(const VirtualDevice&) = delete;
    VirtualDevice& operator=(const VirtualDevice&) = delete;

    [[nodiscard]] const std::string& uri() const { return config_.uri; }

    OniStatus getSensorInfoList(OniSensorInfo** sensors, int* count) override;
    oni::driver::StreamBase* createStream(OniSensorType sensorType) override;
    void destroyStream(oni::driver::StreamBase* stream) override;

    // The serial number, when the scenario gives the camera one.
    OniStatus getProperty(int propertyId, void* data, int* dataSize) override;
    OniBool isPropertySupported(int propertyId) override;

private:
    void discardStream(oni::driver::StreamBase* stream);

    const DeviceConfig& config_;
    const std::shared_ptr<Plug> plug_;  // this plug-in of the camera, not a later one
    EventLog& log_;
    oni::driver::DriverServices& services_;
    // The modes each sensor offers; sensorInfos_ points into them, so none resizes.
    std::vector<std::vector<OniVideoMode>> videoModes_;
    std::vector<OniSensorInfo> sensorInfos_;
    std::vector<std::unique_ptr<VirtualStream>> streams_;
};

}  // namespace vcam
