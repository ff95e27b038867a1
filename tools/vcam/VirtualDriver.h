// The driver the camera library loads: it announces the scenario's cameras,
// plays its timed events on one thread and opens the cameras on request.
#pragma once

#include <Driver/OniDriverAPI.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "EventLog.h"
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
    void playEvents();
    void stopEventThread();

    std::unique_ptr<EventLog> log_;
    Scenario scenario_;
    std::vector<OniDeviceInfo> deviceInfos_;  // one per scenario device

    std::chrono::steady_clock::time_point initialized_;
    std::thread eventThread_;
    std::mutex mutex_;  // guards connected_, stopping_ and openDevices_
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<bool> connected_;
    std::map<oni::driver::DeviceBase*, std::unique_ptr<VirtualDevice>> openDevices_;
};

}  // namespace vcam
