#pragma once

#include <OpenNI.h>

// The life of one camera stream, shared by camwatch and the benchmark's
// baseline so that both pay the same start and teardown.

// Creates the stream when the device has the sensor, then starts it. A failure
// is reported with the library's reason, and the run goes on without it.
void createAndStart(openni::Device& device, openni::SensorType sensor, openni::VideoStream& stream,
                    const char* name);

// Attaches or detaches a frame listener; a stream that was never created has none.
void listen(openni::VideoStream& stream, openni::VideoStream::NewFrameListener& listener);
void stopListening(openni::VideoStream& stream, openni::VideoStream::NewFrameListener& listener);

void stopAndDestroy(openni::VideoStream& stream);
