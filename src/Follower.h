#pragma once

#include <OpenNI.h>

#include <functional>
#include <string>

#include "ReplugListener.h"
#include "WatchedCamera.h"

// The objects of a run that a reopening takes down and brings up again; main
// owns them. The listeners are the frame reporters, or --stats's counters.
// `startStreams` creates and starts both streams on `device` as the run did at
// start; `releaseHeldFrames` gives back the frames the reporters hold.
struct WatchedRun {
    openni::Device& device;
    openni::VideoStream& depth;
    openni::VideoStream& color;
    openni::VideoStream::NewFrameListener& depthListener;
    openni::VideoStream::NewFrameListener& colorListener;
    std::function<void()> startStreams;
    std::function<void()> releaseHeldFrames;
};

// --follow: when the camera the run watches is unplugged and comes back, takes
// the run's streams and camera down and brings them up again on it. Works on
// the main thread, from the events `replugs` noted; made while the camera is
// open at start, whose URI and serial number it reads then.
class Follower {
public:
    Follower(ReplugListener& replugs, WatchedRun run);

    // Acts on the cameras plugged in and out since the last call: prints
    // "Device "<uri>" reopened", or "Couldn't reopen device "<uri>"" and the
    // library's error text and waits for the next one.
    void followReplugs();

private:
    void reopen(const std::string& uri);
    // Opens the camera at `uri` to read its serial number, and reopens it when
    // it is the watched one.
    void reopenWhenSerialMatches(const std::string& uri);
    // As the teardown after a key, less the device events: the streams and the
    // camera go, then the frames the reporters held.
    void closeRun();
    void openRun(const std::string& uri);

    ReplugListener& replugs_;
    WatchedRun run_;
    WatchedCamera watched_;
};
