// camwatch: reports, line by line, the frames and device events of a camera
// the OpenNI2 library lists (the first, unless -d names another), until a key
// is pressed. With -l it lists the cameras instead.

#include <OpenNI.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "CameraList.h"
#include "Console.h"
#include "DeviceChoice.h"
#include "ExitStatus.h"
#include "Follower.h"
#include "FrameCallback.h"
#include "FrameCounter.h"
#include "OpenNIDeviceListener.h"
#include "Options.h"
#include "OutputFailure.h"
#include "ReplugListener.h"
#include "StandardDescriptors.h"
#include "StatsReport.h"
#include "StreamModes.h"
#include "Streams.h"
#include "TeardownBound.h"
#include "Version.h"

namespace {

constexpr int kKeyPollMilliseconds = 100;

void subscribe(OpenNIDeviceListener& listener) {
    openni::OpenNI::addDeviceConnectedListener(&listener);
    openni::OpenNI::addDeviceDisconnectedListener(&listener);
    openni::OpenNI::addDeviceStateChangedListener(&listener);
}

void unsubscribe(OpenNIDeviceListener& listener) {
    openni::OpenNI::removeDeviceConnectedListener(&listener);
    openni::OpenNI::removeDeviceDisconnectedListener(&listener);
    openni::OpenNI::removeDeviceStateChangedListener(&listener);
}

// Ends the process here, the terminal put back and the report flushed, without
// the library's shutdown or the destructors run at exit: with a driver still
// delivering device events, either can deadlock against the driver's thread.
[[noreturn]] void endAtOnce(int status) {
    std::fflush(stdout);
    const int exitStatus = reportOutputFailure(status);
    restoreKeyboardModeForExit();
    std::_Exit(exitStatus);
}

// --help and --version: text on standard output, no camera touched.
int printAndEnd(const std::string& text) {
    reportLine(stdout, "%s", text.c_str());
    if (std::fflush(stdout) != 0) {  // fully buffered in a pipe: the write was here
        noteOutputFailure(errno != 0 ? errno : EIO);
    }
    return reportOutputFailure(kRunEnded);
}

// A mode not offered ends the run before any stream starts: what there is goes
// down in the order of a run's end.
int endModeNotOffered(OpenNIDeviceListener& deviceEvents, openni::Device& device,
                      openni::VideoStream& depth, openni::VideoStream& color) {
    const int status = reportOutputFailure(kModeNotOffered);
    const TeardownBound bound(status);
    unsubscribe(deviceEvents);
    stopAndDestroy(depth);
    stopAndDestroy(color);
    device.close();
    openni::OpenNI::shutdown();
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    // The command line first: a wrong one, help and the version touch nothing else.
    std::string usageError;
    const std::optional<Options> options = parseOptions(argc, argv, usageError);
    if (!options) {
        std::fprintf(stderr, "camwatch: %s\n%s", usageError.c_str(), kUsageLine);
        return kUsage;
    }
    if (options->help) {
        return printAndEnd(kHelpText);
    }
    if (options->version) {
        return printAndEnd(std::string("camwatch ") + kVersion + "\n");
    }

    if (const int error = prepareStandardDescriptors(); error != 0) {
        noteOutputFailure(error);
        return reportOutputFailure(kRunEnded);
    }
    // Lines reach a pipe as they are printed and survive an ending by signal.
    // Each line is then one write, whose failure its formatted write returns.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (options->list) {
        return listCameras();  // no key to wait for, no device event to report
    }
    const KeyboardMode keyboardMode;

    if (openni::OpenNI::initialize() != openni::STATUS_OK) {
        reportLine(stdout, "Initialize failed\n%s\n", openni::OpenNI::getExtendedError());
        return reportOutputFailure(kInitializeFailed);
    }

    OpenNIDeviceListener deviceEvents;
    subscribe(deviceEvents);
    // --follow: plugs noted from before the open on, so that no unplug goes unseen.
    std::optional<ReplugListener> replugs;
    if (options->follow) {
        replugs.emplace();
    }

    openni::Array<openni::DeviceInfo> devices;
    openni::OpenNI::enumerateDevices(&devices);
    if (devices.getSize() < 1) {
        reportLine(stdout, " No Device Connected!\n");
    }
    for (int i = 0; i < devices.getSize(); ++i) {
        reportLine(stdout, "Device \"%s\" already connected\n", devices[i].getUri());
    }

    openni::Device device;
    if (openChosenDevice(device, devices, options->device) != openni::STATUS_OK) {
        reportLine(stdout, "Couldn't open device\n%s\n", openni::OpenNI::getExtendedError());
        // No library thread may call the listener once it is gone.
        unsubscribe(deviceEvents);
        replugs.reset();
        endAtOnce(kOpenFailed);
    }

    openni::VideoStream depth;
    openni::VideoStream color;
    // Also how --follow starts the streams on the camera reopened; none when a
    // sensor does not offer the mode asked of it.
    const auto startStreams = [&device, &depth, &color,
                               &options]() -> std::optional<StreamsStarted> {
        if (!options->depthMode && !options->colorMode) {
            StreamsStarted started;
            started.depth = createAndStart(device, openni::SENSOR_DEPTH, depth, "depth");
            started.color = createAndStart(device, openni::SENSOR_COLOR, color, "color");
            return started;
        }
        return createAndStartInModes(device, depth, color, options->depthMode, options->colorMode);
    };
    const std::optional<StreamsStarted> started = startStreams();
    if (!started) {
        replugs.reset();
        return endModeNotOffered(deviceEvents, device, depth, color);
    }

    int status = kRunEnded;
    std::optional<TeardownBound> bound;
    {
        // The reporters live in this block so that their last frames go back
        // after the streams and the device are gone but before the library shuts
        // down: depth first, then color, in reverse order of construction.
        FrameCallback colorReporter;
        FrameCallback depthReporter;
        // --stats: counters listen in the reporters' place, and this thread
        // prints their lines; no stream is added to the report otherwise.
        FrameCounter colorCounter;
        FrameCounter depthCounter;
        StatsReport stats(stdout, StatsClock::now());
        openni::VideoStream::NewFrameListener* depthListener = &depthReporter;
        openni::VideoStream::NewFrameListener* colorListener = &colorReporter;
        if (options->stats) {
            depthListener = &depthCounter;
            colorListener = &colorCounter;
            if (started->depth) {
                stats.add("depth", depthCounter);
            }
            if (started->color) {
                stats.add("color", colorCounter);
            }
        }
        listen(depth, *depthListener);
        listen(color, *colorListener);
        std::optional<Follower> follower;
        if (replugs) {
            follower.emplace(*replugs,
                             WatchedRun{device, depth, color, *depthListener, *colorListener,
                                        [&startStreams] { startStreams(); },
                                        [&depthReporter, &colorReporter] {
                                            depthReporter.releaseFrame();
                                            colorReporter.releaseFrame();
                                        }});
        }

        // A report that cannot be written ends the run as a key does.
        while (!takeStopThenTestKey() && outputFailure() == 0) {
            pauseMilliseconds(kKeyPollMilliseconds);
            stats.reportDueSecond(StatsClock::now());
            if (follower) {
                follower->followReplugs();
            }
        }
        status = reportOutputFailure(status);
        bound.emplace(status);

        stopListening(depth, *depthListener);
        stopListening(color, *colorListener);
        // The totals once nothing is counted any more; a total line that cannot
        // be written fails the run as any other line does.
        stats.reportTotals(StatsClock::now());
        if (status == kRunEnded && outputFailure() != 0) {
            status = reportOutputFailure(status);
            bound.emplace(status);
        }
        unsubscribe(deviceEvents);
        if (replugs) {
            replugs->unsubscribe();
        }
        stopAndDestroy(depth);
        stopAndDestroy(color);
        device.close();
    }

    openni::OpenNI::shutdown();
    return status;
}
