#include "Streams.h"

#include "OutputFailure.h"

bool createAndStart(openni::Device& device, openni::SensorType sensor, openni::VideoStream& stream,
                    const char* name) {
    createStream(device, sensor, stream, name);
    return startStream(stream, name);
}

void createStream(openni::Device& device, openni::SensorType sensor, openni::VideoStream& stream,
                  const char* name) {
    if (device.getSensorInfo(sensor) != nullptr &&
        stream.create(device, sensor) != openni::STATUS_OK) {
        reportLine(stdout, "Couldn't create %s stream\n%s\n", name,
                   openni::OpenNI::getExtendedError());
    }
}

// Starting a stream that was never created fails without a library call; its
// reason is then what the library said last.
bool startStream(openni::VideoStream& stream, const char* name) {
    if (stream.start() != openni::STATUS_OK) {
        reportLine(stdout, "Couldn't start the %s stream\n%s\n", name,
                   openni::OpenNI::getExtendedError());
        return false;
    }
    return true;
}

void listen(openni::VideoStream& stream, openni::VideoStream::NewFrameListener& listener) {
    if (stream.isValid()) {
        stream.addNewFrameListener(&listener);
    }
}

void stopListening(openni::VideoStream& stream, openni::VideoStream::NewFrameListener& listener) {
    if (stream.isValid()) {
        stream.removeNewFrameListener(&listener);
    }
}

void stopAndDestroy(openni::VideoStream& stream) {
    if (stream.isValid()) {
        stream.stop();
        stream.destroy();
    }
}

bool readReadyFrame(openni::VideoStream& stream, OniFrame*& frame) {
    OniStreamHandle handle = stream._getHandle();
    int readyIndex = 0;
    frame = nullptr;
    if (oniWaitForAnyStream(&handle, 1, &readyIndex, 0) != ONI_STATUS_OK) {
        return false;
    }
    // The library's inline readFrame leaves its frame pointer uninitialised
    // when the read fails; the plain call with a null pointer does not.
    if (oniStreamReadFrame(handle, &frame) != ONI_STATUS_OK) {
        frame = nullptr;
    }
    return true;
}
