// The driver the camera library loads: it sets up the scenario's cameras and
// opens them on request.
#pragma once

#include <Driver/OniDriverAPI.h>

#include <map>
#include <memory>
#include <mutex>

#include "EventLog.h"
#include "EventPlayer.h"
#include "Scenario.h"
#include "VirtualDevice.h"

namespace vcam {

class VirtualDriver : public oni::driver::DriverBase {
public:
    explicit VirtualDriver(OniDriverServices* services);
    ~VirtualDriver() override;
    VirtualDriver(const VirtualDriver&) = delete;
    VirtualDriver& operator=(const VirtualDriver&) = delete;

    OniStatus initialize(oni::driver::DeviceConnectedCallback connected,
                         oni::driver::DeviceDisconnectedCallback disconnected,
                         oni::driver::DeviceStateChangedCallback stateChanged,
                         void* cookie) override;
    oni::driver::DeviceBase* deviceOpen(const char* uri, const char* mode) override;
    void deviceClose(oni::driver::DeviceBase* device) override;
    void shutdown() override;

private:
    // Reads VCAM_LOG and VCAM_SCENARIO; false after saying why on stderr.
    bool loadSetup();
    void release();
    void stopEventsIfNoneOpen();

    std::shared_ptr<EventLog> log_;
    Scenario scenario_;
    std::unique_ptr<EventPlayer> events_;
    std::mutex openDevicesMutex_;
    std::map<oni::driver::DeviceBase*, std::unique_ptr<VirtualDevice>> openDevices_;
};

}  // namespace vcam
