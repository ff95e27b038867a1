// Tells the library which cameras are plugged in: the ones present at start,
// then the scenario's timed events on a thread of their own.
#pragma once

#include <Driver/OniDriverAPI.h>

#include <cstddef>
#include <memory>
#include <thread>

#include "EventLog.h"
#include "Plug.h"
#include "Scenario.h"

namespace vcam {

struct LibraryCallbacks {
    oni::driver::DeviceConnectedCallback connected = nullptr;
    oni::driver::DeviceDisconnectedCallback disconnected = nullptr;
    oni::driver::DeviceStateChangedCallback stateChanged = nullptr;
    void* cookie = nullptr;
};

class EventPlayer {
public:
    EventPlayer(const Scenario& scenario, std::shared_ptr<EventLog> log,
                LibraryCallbacks callbacks);
    ~EventPlayer();
    EventPlayer(const EventPlayer&) = delete;
    EventPlayer& operator=(const EventPlayer&) = delete;

    // Reports the cameras present at start, in file order, on the caller's thread.
    void announcePresentDevices();
    // Plays the timed events, timed from this call.
    void start();
    [[nodiscard]] bool isConnected(std::size_t device) const;
    // Shared with the streams of the camera once it is opened.
    [[nodiscard]] std::shared_ptr<Plug> plug(std::size_t device) const;
    // Prompt even with events pending; see the .cpp for a thread stuck in the
    // library. No event is played after it; calling it again does nothing.
    void stop();

private:
    struct Shared;
    static void play(const std::shared_ptr<Shared>& shared);
    static void deliver(Shared& s, const TimedEvent& event);

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
};

}  // namespace vcam
