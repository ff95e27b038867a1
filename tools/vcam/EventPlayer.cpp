#include "EventPlayer.h"

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vcam {

namespace {

// How long stop() waits for an event already handed to the library.
constexpr std::chrono::milliseconds kCallbackGrace{100};

OniDeviceInfo deviceInfoOf(const DeviceConfig& device) {
    OniDeviceInfo info{};
    std::snprintf(info.uri, sizeof(info.uri), "%s", device.uri.c_str());
    std::snprintf(info.vendor, sizeof(info.vendor), "%s", device.vendor.c_str());
    std::snprintf(info.name, sizeof(info.name), "%s", device.name.c_str());
    info.usbVendorId = device.usbVendorId;
    info.usbProductId = device.usbProductId;
    return info;
}

// Keeps this driver mapped after the library unloads it, for the sake of a
// thread that has to outlive the driver object.
void keepDriverLoaded() {
    static const char inThisLibrary = 0;
    Dl_info info{};
    if (dladdr(&inThisLibrary, &info) != 0 && info.dli_fname != nullptr) {
        // The handle is never closed: that is the point.
        dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

}  // namespace

// Everything the event thread touches, owned jointly so that it stays valid
// for a thread left behind by stop().
struct EventPlayer::Shared {
    std::vector<TimedEvent> events;
    std::vector<std::string> uris;
    std::vector<OniDeviceInfo> infos;  // the library reads them during callbacks
    std::vector<std::shared_ptr<Plug>> plugs;
    std::shared_ptr<EventLog> log;
    LibraryCallbacks callbacks;
    std::chrono::steady_clock::time_point started;

    std::mutex mutex;  // guards stopping, finished
    std::condition_variable wake;
    bool stopping = false;
    bool finished = false;
};

EventPlayer::EventPlayer(const Scenario& scenario, std::shared_ptr<EventLog> log,
                         LibraryCallbacks callbacks)
    : shared_(std::make_shared<Shared>()) {
    shared_->events = scenario.events;
    for (const DeviceConfig& device : scenario.devices) {
        shared_->uris.push_back(device.uri);
        shared_->infos.push_back(deviceInfoOf(device));
        shared_->plugs.push_back(std::make_shared<Plug>(!device.connectAtMs.has_value()));
    }
    shared_->log = std::move(log);
    shared_->callbacks = callbacks;
}

EventPlayer::~EventPlayer() {
    stop();
}

void EventPlayer::announcePresentDevices() {
    for (std::size_t i = 0; i < shared_->infos.size(); ++i) {
        if (shared_->plugs[i]->plugged()) {
            shared_->log->write("device " + shared_->uris[i]);
            shared_->callbacks.connected(&shared_->infos[i], shared_->callbacks.cookie);
        }
    }
}

void EventPlayer::start() {
    shared_->started = std::chrono::steady_clock::now();
    if (!shared_->events.empty()) {
        thread_ = std::thread(&EventPlayer::play, shared_);
    }
}

bool EventPlayer::isConnected(std::size_t device) const {
    return shared_->plugs[device]->plugged();
}

std::shared_ptr<Plug> EventPlayer::plug(std::size_t device) const {
    return shared_->plugs[device];
}

void EventPlayer::deliver(Shared& s, const TimedEvent& event) {
    const std::string& uri = s.uris[event.device];
    const OniDeviceInfo* info = &s.infos[event.device];
    Plug& cable = *s.plugs[event.device];
    switch (event.kind) {
        case TimedEvent::Kind::Connect:
            cable.plugIn();
            s.log->write("connect " + uri);
            s.callbacks.connected(info, s.callbacks.cookie);
            break;
        case TimedEvent::Kind::Disconnect:
            // The camera's streams fall silent before the library hears of it.
            cable.unplug();
            s.log->write("disconnect " + uri);
            s.callbacks.disconnected(info, s.callbacks.cookie);
            break;
        case TimedEvent::Kind::State:
            s.log->write("state " + uri + " " + std::to_string(event.stateCode));
            s.callbacks.stateChanged(info, event.stateCode, s.callbacks.cookie);
            break;
    }
}

void EventPlayer::play(const std::shared_ptr<Shared>& shared) {
    Shared& s = *shared;
    std::unique_lock<std::mutex> lock(s.mutex);
    for (const TimedEvent& event : s.events) {
        const auto due = s.started + std::chrono::milliseconds(event.atMs);
        if (s.wake.wait_until(lock, due, [&s] { return s.stopping; })) {
            break;
        }
        // No lock while the library hears of it: it may call back into the
        // driver from its listeners, and an unplug waits for a frame in flight.
        lock.unlock();
        deliver(s, event);
        lock.lock();
    }
    s.finished = true;
    s.wake.notify_all();
}

void EventPlayer::stop() {
    {
        const std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->wake.notify_all();
    if (!thread_.joinable()) {
        return;
    }
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(shared_->mutex);
        finished =
            shared_->wake.wait_for(lock, kCallbackGrace, [this] { return shared_->finished; });
    }
    if (finished) {
        thread_.join();
        return;
    }
    // The library shuts down while holding the lock that its device event
    // handler waits for, so an event caught in flight can only finish after
    // this returns. Joining would hang both; the thread is left to end on its
    // own, touching only what it shares and this library's code.
    keepDriverLoaded();
    thread_.detach();
}

}  // namespace vcam
