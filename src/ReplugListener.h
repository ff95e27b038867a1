#pragma once

#include <OpenNI.h>

#include <string>
#include <vector>

#include "SpinLock.h"

// A camera plugged in or out, as the library reported it.
struct PlugEvent {
    enum class Kind { Connected, Disconnected };
    Kind kind;
    std::string uri;
};

// Notes the cameras plugged in and out for --follow, so that the main thread
// can act on them. The handlers run on the library's threads and only note:
// opening or closing a camera from within the library's own callback can
// deadlock against the library's locks.
//
// The notes are guarded by a lock. A lock is fine here: neither side calls
// the library or waits on anything while it holds it, so the library's thread
// waits at most for an event to be appended or the list to be swapped.
//
// Subscribed to the library's connected and disconnected events while alive,
// or until unsubscribe().
class ReplugListener final : public openni::OpenNI::DeviceConnectedListener,
                             public openni::OpenNI::DeviceDisconnectedListener {
public:
    ReplugListener();
    ~ReplugListener() override;
    ReplugListener(const ReplugListener&) = delete;
    ReplugListener& operator=(const ReplugListener&) = delete;

    void unsubscribe();

    // The events noted since the last call, oldest first.
    std::vector<PlugEvent> take();

    void onDeviceConnected(const openni::DeviceInfo* info) override;
    void onDeviceDisconnected(const openni::DeviceInfo* info) override;

private:
    void note(PlugEvent::Kind kind, const openni::DeviceInfo* info);

    SpinLock lock_;
    std::vector<PlugEvent> events_;  // guarded by lock_
    bool subscribed_ = false;        // main thread only
};
