#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "EventLog.h"
#include "EventPlayer.h"
#include "Scenario.h"

namespace vcam {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Stands in for the library: records what it is told, and can make a device
// event wait for a lock the way the library's handler does.
struct FakeLibrary {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
    std::mutex* heldDuringStateEvents = nullptr;
    std::atomic<bool> inStateEvent{false};

    void add(const std::string& call) {
        const std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
        changed.notify_all();
    }

    bool waitForCalls(std::size_t count, milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return calls.size() >= count; });
    }

    std::vector<std::string> snapshot() {
        const std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

    LibraryCallbacks callbacks() {
        return LibraryCallbacks{&FakeLibrary::connected, &FakeLibrary::disconnected,
                                &FakeLibrary::stateChanged, this};
    }

    static void connected(const OniDeviceInfo* info, void* self) {
        static_cast<FakeLibrary*>(self)->add(std::string("connected ") + info->uri);
    }
    static void disconnected(const OniDeviceInfo* info, void* self) {
        static_cast<FakeLibrary*>(self)->add(std::string("disconnected ") + info->uri);
    }
    static void stateChanged(const OniDeviceInfo* info, int state, void* self) {
        auto* library = static_cast<FakeLibrary*>(self);
        library->inStateEvent = true;
        if (library->heldDuringStateEvents != nullptr) {
            const std::lock_guard<std::mutex> wait(*library->heldDuringStateEvents);
        }
        library->add(std::string("state ") + info->uri + " " + std::to_string(state));
    }
};

Scenario parse(const std::string& text) {
    std::istringstream in(text);
    return parseScenario(in, "test.vcam");
}

// A log of this process alone: test runs of other builds on the same machine
// share the temporary folder.
std::string freshLogPath(const std::string& name) {
    std::string path = testing::TempDir() + "vcam_event_player_" + name + "." +
                       std::to_string(::getpid()) + ".log";
    std::remove(path.c_str());
    return path;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(EventPlayer, AnnouncesCamerasPresentAtStartInFileOrder) {
    const std::string logPath = freshLogPath("announce");
    FakeLibrary library;
    EventPlayer player(parse("device vcam://b\nat 5000 connect vcam://later\ndevice vcam://a\n"),
                       std::make_shared<EventLog>(logPath), library.callbacks());
    player.announcePresentDevices();
    EXPECT_EQ(library.snapshot(),
              (std::vector<std::string>{"connected vcam://b", "connected vcam://a"}));
    EXPECT_TRUE(player.isConnected(0));
    EXPECT_FALSE(player.isConnected(1));  // not plugged in yet
    EXPECT_TRUE(player.isConnected(2));
    EXPECT_EQ(readFile(logPath), "device vcam://b\ndevice vcam://a\n");
}

TEST(EventPlayer, PlaysTimedEventsInOrderAtTheirTimes) {
    const std::string logPath = freshLogPath("timed");
    FakeLibrary library;
    EventPlayer player(parse("device vcam://0\n"
                             "at 60 disconnect vcam://0\n"
                             "at 30 connect vcam://1\n"
                             "at 30 state vcam://0 -2\n"),
                       std::make_shared<EventLog>(logPath), library.callbacks());
    const Clock::time_point started = Clock::now();
    player.start();
    ASSERT_TRUE(library.waitForCalls(3, milliseconds(5000)));
    EXPECT_GE(Clock::now() - started, milliseconds(60));
    EXPECT_EQ(library.snapshot(),
              (std::vector<std::string>{"connected vcam://1", "state vcam://0 -2",
                                        "disconnected vcam://0"}));
    EXPECT_FALSE(player.isConnected(0));
    EXPECT_TRUE(player.isConnected(1));
    player.stop();
    EXPECT_EQ(readFile(logPath), "connect vcam://1\nstate vcam://0 -2\ndisconnect vcam://0\n");
}

TEST(EventPlayer, StopIsPromptWithEventsPendingAndEndsThem) {
    FakeLibrary library;
    EventPlayer player(parse("device vcam://0\nat 100000 disconnect vcam://0\n"),
                       std::make_shared<EventLog>(), library.callbacks());
    player.start();
    const Clock::time_point stopping = Clock::now();
    player.stop();
    // Waiting for the pending event would take 100 s; the bound leaves room
    // for a loaded machine.
    EXPECT_LT(Clock::now() - stopping, milliseconds(5000));
    player.stop();  // a second stop, as at shutdown after the last close, is harmless
    EXPECT_TRUE(library.snapshot().empty());
    EXPECT_TRUE(player.isConnected(0));
}

// A frame being handed over when the cable comes out still arrives, before
// the library hears of the unplug; none is sent after it.
TEST(EventPlayer, UnplugWaitsForTheFrameInFlightThenSilencesTheCamera) {
    FakeLibrary library;
    EventPlayer player(parse("device vcam://0\nat 0 disconnect vcam://0\n"),
                       std::make_shared<EventLog>(), library.callbacks());
    const std::shared_ptr<Plug> plug = player.plug(0);
    std::promise<void> sending;
    std::promise<void> release;
    std::thread stream([&] {
        plug->whilePlugged([&] {
            sending.set_value();
            release.get_future().wait();
            library.add("frame");
        });
    });
    sending.get_future().wait();
    player.start();
    // The event thread is held up by the frame, so the library hears nothing yet.
    EXPECT_FALSE(library.waitForCalls(1, milliseconds(100)));
    release.set_value();
    stream.join();
    ASSERT_TRUE(library.waitForCalls(2, milliseconds(5000)));
    EXPECT_EQ(library.snapshot(), (std::vector<std::string>{"frame", "disconnected vcam://0"}));
    EXPECT_FALSE(plug->whilePlugged([&] { library.add("frame after the unplug"); }));
    EXPECT_EQ(library.snapshot().size(), 2U);
}

TEST(EventPlayer, ACameraPluggedInAgainIsANewPlugIn) {
    FakeLibrary library;
    EventPlayer player(parse("device vcam://0\nat 0 disconnect vcam://0\nat 0 connect vcam://0\n"),
                       std::make_shared<EventLog>(), library.callbacks());
    const std::shared_ptr<Plug> first = player.plug(0);
    EXPECT_FALSE(player.isConnected(1));
    player.start();
    ASSERT_TRUE(library.waitForCalls(2, milliseconds(5000)));
    EXPECT_EQ(library.snapshot(),
              (std::vector<std::string>{"disconnected vcam://0", "connected vcam://0"}));
    // The camera opened before the unplug stays gone: a replug is a new device.
    EXPECT_FALSE(first->plugged());
    EXPECT_TRUE(player.isConnected(1));
}

// The library shuts its drivers down while holding the lock its device event
// handler takes, so stop() must not wait for an event caught in the handler.
TEST(EventPlayer, StopReturnsWhileAnEventWaitsForTheCallersLock) {
    // Static: the abandoned thread finishes its callback after this test returns.
    static std::mutex libraryLock;
    static FakeLibrary library;
    library.heldDuringStateEvents = &libraryLock;
    auto player = std::make_unique<EventPlayer>(parse("device vcam://0\nat 0 state vcam://0 1\n"),
                                                std::make_shared<EventLog>(), library.callbacks());
    {
        const std::lock_guard<std::mutex> held(libraryLock);
        player->start();
        while (!library.inStateEvent) {
            std::this_thread::yield();
        }
        const Clock::time_point stopping = Clock::now();
        player.reset();
        // Waiting for the event would never end while the lock is held.
        EXPECT_LT(Clock::now() - stopping, milliseconds(5000));
    }
    // Once the lock is free the event completes on its own.
    EXPECT_TRUE(library.waitForCalls(1, milliseconds(5000)));
}

}  // namespace
}  // namespace vcam
