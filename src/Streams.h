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

// What a listener's read of its stream gave: nothing when no frame was ready,
// else the frame read, or null when the read failed.
struct ReadyFrame {
    bool wasReady = false;
    OniFrame* frame = nullptr;
};

// Reads the frame the stream has ready, without waiting. The library may call a
// listener again for a frame the previous read already took, and a read then
// waits for the next frame while holding the lock that removing the listener
// needs: with no more frames, the teardown would hang. The frame read carries a
// reference that the caller gives back with oniFrameRelease.
ReadyFrame readReadyFrame(openni::VideoStream& stream);
