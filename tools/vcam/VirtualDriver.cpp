#include "VirtualDriver.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vcam {

namespace {

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
    release();
}

bool VirtualDriver::loadSetup() {
    try {
        const char* logPath = std::getenv("VCAM_LOG");
        log_ = logPath != nullptr && *logPath != '\0'
                   ? std::make_shared<EventLog>(fromCallerDirectory(logPath))
                   : std::make_shared<EventLog>();
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
    log_->write("init");
    events_ = std::make_unique<EventPlayer>(
        scenario_, log_, LibraryCallbacks{connected, disconnected, stateChanged, cookie});
    events_->announcePresentDevices();
    events_->start();
    return ONI_STATUS_OK;
}

oni::driver::DeviceBase* VirtualDriver::deviceOpen(const char* uri, const char* /*mode*/) {
    for (std::size_t i = 0; events_ && i < scenario_.devices.size(); ++i) {
        const DeviceConfig& config = scenario_.devices[i];
        if (config.uri != uri || !events_->isConnected(i)) {
            continue;
        }
        if (config.openFails) {
            log_->write("open-fail " + config.uri);
            getServices().errorLoggerAppend("vcam: the scenario makes opening %s fail", uri);
            stopEventsIfNoneOpen();
            return nullptr;
        }
        log_->write("open " + config.uri);
        auto device =
            std::make_unique<VirtualDevice>(config, events_->plug(i), *log_, getServices());
        oni::driver::DeviceBase* handle = device.get();
        const std::lock_guard<std::mutex> lock(openDevicesMutex_);
        openDevices_.emplace(handle, std::move(device));
        return handle;
    }
    getServices().errorLoggerAppend("vcam: no connected device %s", uri);
    stopEventsIfNoneOpen();
    return nullptr;
}

// The library deadlocks when a device event arrives while it shuts down (its
// event handler and its shutdown take two locks in opposite orders). A program
// begins to shut down after closing its last camera, or after failing to open
// one with none open, so no event is played after either.
void VirtualDriver::stopEventsIfNoneOpen() {
    bool noneOpen = false;
    {
        const std::lock_guard<std::mutex> lock(openDevicesMutex_);
        noneOpen = openDevices_.empty();
    }
    if (noneOpen && events_) {
        events_->stop();
    }
}

void VirtualDriver::deviceClose(oni::driver::DeviceBase* device) {
    std::unique_ptr<VirtualDevice> closing;
    bool lastClosed = false;
    {
        const std::lock_guard<std::mutex> lock(openDevicesMutex_);
        const auto found = openDevices_.find(device);
        if (found == openDevices_.end()) {
            return;  // not ours: deleting it would corrupt the heap
        }
        closing = std::move(found->second);
        openDevices_.erase(found);
        lastClosed = openDevices_.empty();
    }
    if (lastClosed) {
        events_->stop();  // see stopEventsIfNoneOpen
    }
    // Stopping its streams joins their threads, so no lock is held meanwhile.
    const std::string uri = closing->uri();
    closing.reset();
    log_->write("close " + uri);
}

void VirtualDriver::shutdown() {
    if (scenario_.shutdownHangs) {
        log_->write("shutdown-hang");
        // On purpose, so that a program's bound on the library's teardown can
        // be seen at work. Only the end of the process ends this.
        for (;;) {
            pause();
        }
    }
    release();
}

void VirtualDriver::release() {
    if (!log_) {
        return;  // never initialised, or already shut down
    }
    events_.reset();
    std::map<oni::driver::DeviceBase*, std::unique_ptr<VirtualDevice>> leftovers;
    {
        const std::lock_guard<std::mutex> lock(openDevicesMutex_);
        leftovers.swap(openDevices_);
    }
    // Devices the library left open still own stream threads.
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
