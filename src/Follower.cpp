#include "Follower.h"

#include <utility>

#include "OutputFailure.h"
#include "SerialNumber.h"
#include "Streams.h"

namespace {

// The camera's serial number, or empty when its driver gives none.
std::string serialNumberOf(const openni::Device& device) {
    return readSerialNumber(device).value_or("");
}

void reportReopenFailure(const std::string& uri) {
    reportLine(stdout, "Couldn't reopen device \"%s\"\n%s\n", uri.c_str(),
               openni::OpenNI::getExtendedError());
}

}  // namespace

Follower::Follower(ReplugListener& replugs, WatchedRun run)
    : replugs_(replugs),
      run_(std::move(run)),
      watched_(run_.device.getDeviceInfo().getUri(), serialNumberOf(run_.device)) {}

void Follower::followReplugs() {
    for (const PlugEvent& event : replugs_.take()) {
        if (event.kind == PlugEvent::Kind::Disconnected) {
            watched_.unplugged(event.uri);
            continue;
        }
        switch (watched_.arrived(event.uri)) {
            case WatchedCamera::Arrival::Other:
                break;
            case WatchedCamera::Arrival::Watched:
                reopen(event.uri);
                break;
            case WatchedCamera::Arrival::AskItsSerial:
                reopenWhenSerialMatches(event.uri);
                break;
        }
    }
}

void Follower::reopen(const std::string& uri) {
    closeRun();
    if (run_.device.open(uri.c_str()) != openni::STATUS_OK) {
        reportReopenFailure(uri);
        return;
    }
    openRun(uri);
}

void Follower::reopenWhenSerialMatches(const std::string& uri) {
    openni::Device candidate;
    if (candidate.open(uri.c_str()) != openni::STATUS_OK) {
        // It may be the watched camera: without its number there is no telling.
        reportReopenFailure(uri);
        return;
    }
    const bool watched = watched_.hasSerial(serialNumberOf(candidate));
    // The run's own device, which main owns and the teardown closes, opens the
    // camera again; a device object cannot take over another's camera.
    candidate.close();
    if (watched) {
        reopen(uri);
    }
}

void Follower::closeRun() {
    stopListening(run_.depth, run_.depthListener);
    stopListening(run_.color, run_.colorListener);
    stopAndDestroy(run_.depth);
    stopAndDestroy(run_.color);
    run_.device.close();
    run_.releaseHeldFrames();
}

void Follower::openRun(const std::string& uri) {
    watched_.reopened(uri);
    reportLine(stdout, "Device \"%s\" reopened\n", uri.c_str());
    run_.startStreams();
    listen(run_.depth, run_.depthListener);
    listen(run_.color, run_.colorListener);
}
