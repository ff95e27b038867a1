#include "VirtualDriver.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vcam {

namespace {

OniDeviceInfo deviceInfoOf(const DeviceConfig& device) {
    OniDeviceInfo info{};
    std::snprintf(info.uri, sizeof(info.uri), "%s", device.uri.c_str());
    std::snprintf(info.vendor, sizeof(info.vendor), "%s", "camwatch");
    std::snprintf(info.name, sizeof(info.name), "%s", "virtual camera");
    info.usbVendorId = 0;
    info.usbProductId = 0;
    return info;
}

// The library changes the working directory to its driver folder while it
// initialises drivers, so a relative path is taken from the shell's directory.
std::string fromCallerDirectory(const char* path) {
    const char* callerDirectory = std::getenv("PWD");
    if (path[0] == '/' || callerDirectory == nullptr || callerDirectory[0] != '/') {
        return path;
    }
    return std::string(callerDirectory) + "/" + path;
}

}  // namespace

VirtualDriver::VirtualDriver(OniDriverServices* services) : DriverBase(services) {}

VirtualDriver::~VirtualDriver() {
    shutdown();
}

bool VirtualDriver::loadSetup() {
    try {
        const char* logPath = std::getenv("VCAM_LOG");
        log_ = logPath != nullptr && *logPath != '\0'
                   ? std::make_unique<EventLog>(fromCallerDirectory(logPath))
                   : std::make_unique<EventLog>();
        const char* scenarioPath = std::getenv("VCAM_SCENARIO");
        scenario_ = scenarioPath != nullptr && *scenarioPath != '\0'
                        ? loadScenario(fromCallerDirectory(scenarioPath))
                        : defaultScenario();
        return true;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vcam: %s\n", error.what());
        getServices().errorLoggerAppend("vcam: %s", error.what());
        log_.reset();  // a driver that never ran has nothing to log
        return false;
    }
}

OniStatus VirtualDriver::initialize(oni::driver::DeviceConnectedCallback connected,
                                    oni::driver::DeviceDisconnectedCallback disconnected,
                                    oni::driver::DeviceStateChangedCallback stateChanged,
                                    void* cookie) {
    DriverBase::initialize(connected, disconnected, stateChanged, cookie);
    if (!loadSetup()) {
        return ONI_STATUS_ERROR;
    }
    initialized_ = std::chrono::steady_clock::now();
    log_->write("init");
    for (const DeviceConfig& device : scenario_.devices) {
        deviceInfos_.push_back(deviceInfoOf(device));
        connected_.push_back(!device.connectAtMs.has_value());
    }
    for (std::size_t i = 0; i < scenario_.devices.size(); ++i) {
        if (connected_[i]) {
            log_->write("device " + scenario_.devices[i].uri);
            deviceConnected(&deviceInfos_[i]);
        }
    }
    if (!scenario_.events.empty()) {
        eventThread_ = std::thread(&VirtualDriver::playEvents, this);
    }
    return ONI_STATUS_OK;
}

void VirtualDriver::playEvents() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (const TimedEvent& event : scenario_.events) {
        const auto due = initialized_ + std::chrono::milliseconds(event.atMs);
        if (wake_.wait_until(lock, due, [this] { return stopping_; })) {
            return;
        }
        const OniDeviceInfo* info = &deviceInfos_[event.device];
        const std::string& uri = scenario_.devices[event.device].uri;
        switch (event.kind) {
            case TimedEvent::Kind::Connect:
                connected_[event.device] = true;
                log_->write("connect " + uri);
                break;
            case TimedEvent::Kind::Disconnect:
                connected_[event.device] = false;
                log_->write("disconnect " + uri);
                break;
            case TimedEvent::Kind::State:
                log_->write("state " + uri + " " + std::to_string(event.stateCode));
                break;
        }
        // The library may call back into the driver from its listeners.
        lock.unlock();
        switch (event.kind) {
            case TimedEvent::Kind::Connect:
                deviceConnected(info);
                break;
            case TimedEvent::Kind::Disconnect:
                deviceDisconnected(info);
                break;
            case TimedEvent::Kind::State:
                deviceStateChanged(info, event.stateCode);
                break;
        }
        lock.lock();
    }
}

oni::driver::DeviceBase* VirtualDriver::deviceOpen(const char* uri, const char* /*mode*/) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < scenario_.devices.size(); ++i) {
        const DeviceConfig& config = scenario_.devices[i];
        if (config.uri != uri || !connected_[i]) {
            continue;
        }
        if (config.openFails) {
            log_->write("open-fail " + config.uri);
            getServices().errorLoggerAppend("vcam: the scenario makes opening %s fail", uri);
            return nullptr;
        }
        log_->write("open " + config.uri);
        auto device = std::make_unique<VirtualDevice>(config, *log_, getServices());
        oni::driver::DeviceBase* handle = device.get();
        openDevices_.emplace(handle, std::move(device));
        return handle;
    }
    getServices().errorLoggerAppend("vcam: no connected device %s", uri);
    return nullptr;
}

void VirtualDriver::deviceClose(oni::driver::DeviceBase* device) {
    std::unique_ptr<VirtualDevice> closing;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto found = openDevices_.find(device);
        if (found == openDevices_.end()) {
            return;
        }
        closing = std::move(found->second);
        openDevices_.erase(found);
    }
    // Stopping its streams joins their threads, so no lock is held meanwhile.
    const std::string uri = closing->uri();
    closing.reset();
    log_->write("close " + uri);
}

void VirtualDriver::stopEventThread() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (eventThread_.joinable()) {
        eventThread_.join();
    }
}

void VirtualDriver::shutdown() {
    if (!log_) {
        return;  // never initialised, or already shut down
    }
    stopEventThread();
    std::map<oni::driver::DeviceBase*, std::unique_ptr<VirtualDevice>> leftovers;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        leftovers.swap(openDevices_);
    }
    for (auto& [handle, device] : leftovers) {
        const std::string uri = device->uri();
        device.reset();
        log_->write("close " + uri);
    }
    log_->write("shutdown");
    log_.reset();
}

}  // namespace vcam

// The library creates the driver through these two names.
#define XN_NEW(type, arg) new type(arg)
#define XN_DELETE(p) delete (p)
ONI_EXPORT_DRIVER(vcam::VirtualDriver)
