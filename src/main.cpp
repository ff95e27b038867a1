// camwatch: reports, line by line, the frames and device events of the first
// camera the OpenNI2 library lists, until a key is pressed.

#include <OpenNI.h>

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "Console.h"
#include "ExitStatus.h"
#include "FrameCallback.h"
#include "OpenNIDeviceListener.h"
#include "OutputFailure.h"
#include "StandardDescriptors.h"
#include "Streams.h"
#include "TeardownBound.h"

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

}  // namespace

int main() {
    if (const int error = prepareStandardDescriptors(); error != 0) {
        noteOutputFailure(error);
        return reportOutputFailure(kRunEnded);
    }
    // Lines reach a pipe as they are printed and survive an ending by signal.
    // Each line is then one write, whose failure its formatted write returns.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const KeyboardMode keyboardMode;

    if (openni::OpenNI::initialize() != openni::STATUS_OK) {
        reportLine(stdout, "Initialize failed\n%s\n", openni::OpenNI::getExtendedError());
        return reportOutputFailure(kInitializeFailed);
    }

    OpenNIDeviceListener deviceEvents;
    subscribe(deviceEvents);

    openni::Array<openni::DeviceInfo> devices;
    openni::OpenNI::enumerateDevices(&devices);
    if (devices.getSize() < 1) {
        reportLine(stdout, " No Device Connected!\n");
    }
    for (int i = 0; i < devices.getSize(); ++i) {
        reportLine(stdout, "Device \"%s\" already connected\n", devices[i].getUri());
    }

    // With an empty list there is no first URI; asking for any device lets the
    // library say why none can be opened.
    const char* uri = devices.getSize() > 0 ? devices[0].getUri() : openni::ANY_DEVICE;
    openni::Device device;
    if (device.open(uri) != openni::STATUS_OK) {
        reportLine(stdout, "Couldn't open device\n%s\n", openni::OpenNI::getExtendedError());
        // No library thread may call the listener once it is gone.
        unsubscribe(deviceEvents);
        endAtOnce(kOpenFailed);
    }

    openni::VideoStream depth;
    createAndStart(device, openni::SENSOR_DEPTH, depth, "depth");
    openni::VideoStream color;
    createAndStart(device, openni::SENSOR_COLOR, color, "color");

    int status = kRunEnded;
    std::optional<TeardownBound> bound;
    {
        // The reporters live in this block so that their last frames go back
        // after the streams and the device are gone but before the library shuts
        // down: depth first, then color, in reverse order of construction.
        FrameCallback colorReporter;
        FrameCallback depthReporter;
        listen(depth, depthReporter);
        listen(color, colorReporter);

        // A report that cannot be written ends the run as a key does.
        while (!takeStopThenTestKey() && outputFailure() == 0) {
            pauseMilliseconds(kKeyPollMilliseconds);
        }
        status = reportOutputFailure(status);
        bound.emplace(status);

        stopListening(depth, depthReporter);
        stopListening(color, colorReporter);
        unsubscribe(deviceEvents);
        stopAndDestroy(depth);
        stopAndDestroy(color);
        device.close();
    }

    openni::OpenNI::shutdown();
    return status;
}
