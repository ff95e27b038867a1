#include "Streams.h"

#include <cstdio>

#include "OutputFailure.h"

void createAndStart(openni::Device& device, openni::SensorType sensor, openni::VideoStream& stream,
                    const char* name) {
    if (device.getSensorInfo(sensor) != nullptr &&
        stream.create(device, sensor) != openni::STATUS_OK) {
        noteReportWrite(std::printf("Couldn't create %s stream\n%s\n", name,
                                    openni::OpenNI::getExtendedError()));
    }
    if (stream.start() != openni::STATUS_OK) {
        noteReportWrite(std::printf("Couldn't start the %s stream\n%s\n", name,
                                    openni::OpenNI::getExtendedError()));
    }
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
