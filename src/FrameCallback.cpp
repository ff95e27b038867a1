#include "FrameCallback.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "MiddlePixelLine.h"
#include "OutputFailure.h"
#include "Streams.h"

FrameCallback::~FrameCallback() {
    releaseFrame();
}

void FrameCallback::releaseFrame() {
    heldFrame_.release();
}

void FrameCallback::onNewFrame(openni::VideoStream& stream) {
    if (stream.isValid()) {
        OniFrame* frame = nullptr;
        if (!readReadyFrame(stream, frame)) {
            return;
        }
        if (frame == nullptr) {
            heldFrame_.release();  // a failed read is never held, analysed or released
            return;
        }
        // _setFrame drops the frame held before and takes a reference of its
        // own, so the reference that came with the read is given back here.
        heldFrame_._setFrame(frame);
        oniFrameRelease(frame);
    }
    if (heldFrame_.isValid()) {
        reportMiddlePixel(heldFrame_);
    }
}

namespace {

// A driver may deliver any format code, also one outside the enum's values, and
// loading such a code as the enum type is undefined: its bytes go into an int.
int pixelFormatCode(const openni::VideoFrameRef& frame) {
    // _getFrame only lacks its const; nothing is changed through it.
    const OniFrame* raw = const_cast<openni::VideoFrameRef&>(frame)._getFrame();
    int code = 0;
    static_assert(sizeof code == sizeof raw->videoMode.pixelFormat);
    std::memcpy(&code, &raw->videoMode.pixelFormat, sizeof code);
    return code;
}

}  // namespace

void reportMiddlePixel(const openni::VideoFrameRef& frame) {
    const FrameView view{frame.getWidth(), frame.getHeight(),   pixelFormatCode(frame),
                         frame.getData(),  frame.getDataSize(), frame.getTimestamp()};
    printMiddlePixelLine(view, stdout);
}

void printMiddlePixelLine(const FrameView& frame, std::FILE* out) {
    std::array<char, kMiddlePixelLineCapacity> line;
    const std::size_t length = formatMiddlePixelLine(frame, line.data(), line.size());
    reportLine(out, "%.*s", static_cast<int>(length), line.data());
}
