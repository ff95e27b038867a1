#pragma once

#include <OpenNI.h>

// The life of one camera stream, shared by camwatch and the benchmark's
// baseline so that both pay the same start and teardown.

// Creates the stream when the device has the sensor, then starts it. A failure
// is reported with the library's reason, and the run goes on without it.
// True when the stream runs.
bool createAndStart(openni::Device& device, openni::SensorType sensor, openni::VideoStream& stream,
                    const char* name);

// The two halves of createAndStart, for a stream whose mode is set in between.
void createStream(openni::Device& device, openni::SensorType sensor, openni::VideoStream& stream,
                  const char* name);
bool startStream(openni::VideoStream& stream, const char* name);

// Which of a camera's two streams run.
struct StreamsStarted {
    bool depth = false;
    bool color = false;
};

// Attaches or detaches a frame listener; a stream that was never created has none.
void listen(openni::VideoStream& stream, openni::VideoStream::NewFrameListener& listener);
void stopListening(openni::VideoStream& stream, openni::VideoStream::NewFrameListener& listener);

void stopAndDestroy(openni::VideoStream& stream);

// Reads the frame the stream has ready, without waiting: the library may call a
// listener again for a frame an earlier read took, and a read would then wait
// holding the lock that removing the listener needs. False when none is ready;
// else `frame` is the frame read, for the caller to release, or null.
bool readReadyFrame(openni::VideoStream& stream, OniFrame*& frame);
