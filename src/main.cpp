// camwatch: reports, line by line, the frames and device events of the first
// camera the OpenNI2 library lists, until a key is pressed.

#include <OpenNI.h>

#include <cstdio>
#include <optional>

#include "Console.h"
#include "FrameCallback.h"
#include "OpenNIDeviceListener.h"
#include "OutputFailure.h"
#include "StandardDescriptors.h"
#include "Streams.h"
#include "TeardownBound.h"

namespace {

constexpr int kKeyPollMilliseconds = 100;
constexpr int kOutputFailureStatus = 3;

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

// A failure status stays what it is; a lost line is still told.
int endWithOutputChecked(int status) {
    if (outputFailure() != 0) {
        reportOutputFailure(outputFailure());
    }
    return status;
}

}  // namespace

int main() {
    if (const int error = prepareStandardDescriptors(); error != 0) {
        reportOutputFailure(error);
        return kOutputFailureStatus;
    }
    // Lines reach a pipe as they are printed and survive an ending by signal.
    // Each line is then one write, whose failure its printf returns.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const KeyboardMode keyboardMode;

    if (openni::OpenNI::initialize() != openni::STATUS_OK) {
        noteReportWrite(std::printf("Initialize failed\n%s\n", openni::OpenNI::getExtendedError()));
        return endWithOutputChecked(1);
    }

    OpenNIDeviceListener deviceEvents;
    subscribe(deviceEvents);

    openni::Array<openni::DeviceInfo> devices;
    openni::OpenNI::enumerateDevices(&devices);
    if (devices.getSize() < 1) {
        noteReportWrite(std::printf(" No Device Connected!\n"));
    }
    for (int i = 0; i < devices.getSize(); ++i) {
        noteReportWrite(std::printf("Device \"%s\" already connected\n", devices[i].getUri()));
    }

    // With an empty list there is no first URI; asking for any device lets the
    // library say why none can be opened.
    const char* uri = devices.getSize() > 0 ? devices[0].getUri() : openni::ANY_DEVICE;
    openni::Device device;
    if (device.open(uri) != openni::STATUS_OK) {
        noteReportWrite(
            std::printf("Couldn't open device\n%s\n", openni::OpenNI::getExtendedError()));
        {
            const TeardownBound bound(2);
            // No library thread may call the listener once main has returned.
            unsubscribe(deviceEvents);
            openni::OpenNI::shutdown();
        }
        return endWithOutputChecked(2);
    }

    openni::VideoStream depth;
    createAndStart(device, openni::SENSOR_DEPTH, depth, "depth");
    openni::VideoStream color;
    createAndStart(device, openni::SENSOR_COLOR, color, "color");

    int status = 0;
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
        while (!keyPressed() && outputFailure() == 0) {
            pauseMilliseconds(kKeyPollMilliseconds);
        }
        if (outputFailure() != 0) {
            reportOutputFailure(outputFailure());
            status = kOutputFailureStatus;
        }
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
