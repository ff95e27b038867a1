#pragma once

#include <OpenNI.h>

#include <cstdio>

#include "MiddlePixelLine.h"

// Prints one line per new frame of the stream it listens to, and keeps the
// latest frame it read until the next one replaces it or it is destroyed.
class FrameCallback : public openni::VideoStream::NewFrameListener {
public:
    FrameCallback() = default;
    FrameCallback(const FrameCallback&) = delete;
    FrameCallback& operator=(const FrameCallback&) = delete;
    ~FrameCallback() override;

    void onNewFrame(openni::VideoStream& stream) override;

    // Gives the held frame back; only once the reporter is off its stream.
    void releaseFrame();

private:
    openni::VideoFrameRef heldFrame_;
};

// Prints the timestamp and middle pixel of `frame` with one printf.
void reportMiddlePixel(const openni::VideoFrameRef& frame);

// The printing half of reportMiddlePixel, apart so that it can be timed
// without a camera: one formatted write of the frame's line to `out`.
void printMiddlePixelLine(const FrameView& frame, std::FILE* out);
