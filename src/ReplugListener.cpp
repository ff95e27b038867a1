#include "ReplugListener.h"

#include <mutex>
#include <utility>

ReplugListener::ReplugListener() {
    openni::OpenNI::addDeviceConnectedListener(this);
    openni::OpenNI::addDeviceDisconnectedListener(this);
    subscribed_ = true;
}

ReplugListener::~ReplugListener() {
    unsubscribe();
}

void ReplugListener::unsubscribe() {
    if (subscribed_) {
        openni::OpenNI::removeDeviceConnectedListener(this);
        openni::OpenNI::removeDeviceDisconnectedListener(this);
        subscribed_ = false;
    }
}

std::vector<PlugEvent> ReplugListener::take() {
    std::vector<PlugEvent> taken;
    const std::lock_guard<SpinLock> lock(lock_);
    taken.swap(events_);
    return taken;
}

void ReplugListener::onDeviceConnected(const openni::DeviceInfo* info) {
    note(PlugEvent::Kind::Connected, info);
}

void ReplugListener::onDeviceDisconnected(const openni::DeviceInfo* info) {
    note(PlugEvent::Kind::Disconnected, info);
}

void ReplugListener::note(PlugEvent::Kind kind, const openni::DeviceInfo* info) {
    PlugEvent event{kind, info->getUri()};  // made before the lock, to hold it briefly
    const std::lock_guard<SpinLock> lock(lock_);
    events_.push_back(std::move(event));
}
