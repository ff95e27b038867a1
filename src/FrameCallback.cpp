#include "FrameCallback.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "MiddlePixelLine.h"
#include "OutputFailure.h"

FrameCallback::~FrameCallback() {
    heldFrame_.release();
}

void FrameCallback::onNewFrame(openni::VideoStream& stream) {
    if (stream.isValid()) {
        // The library may call again for a frame the previous read already
        // took, and a read then waits for the next frame while holding the lock
        // that removing this listener needs: with no more frames, the teardown
        // would hang. So a read is made only when a frame is there to take.
        OniStreamHandle handle = stream._getHandle();
        int readyIndex = 0;
        if (oniWaitForAnyStream(&handle, 1, &readyIndex, 0) != ONI_STATUS_OK) {
            return;
        }
        // The library's inline readFrame leaves its frame pointer uninitialised
        // when the read fails, and would hand that garbage to the frame reference.
        // Reading through the plain call with a null pointer keeps a failed read
        // from ever being held, analysed or released.
        OniFrame* frame = nullptr;
        const OniStatus status = oniStreamReadFrame(handle, &frame);
        if (status != ONI_STATUS_OK || frame == nullptr) {
            heldFrame_.release();
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
    FrameView view;
    view.width = frame.getWidth();
    view.height = frame.getHeight();
    view.pixelFormat = pixelFormatCode(frame);
    view.data = frame.getData();
    view.dataSize = frame.getDataSize();
    view.timestamp = frame.getTimestamp();
    printMiddlePixelLine(view, stdout);
}

void printMiddlePixelLine(const FrameView& frame, std::FILE* out) {
    // Not cleared first: the formatter always writes a terminated line.
    std::array<char, kMiddlePixelLineCapacity> line;
    formatMiddlePixelLine(frame, line.data(), line.size());
    noteReportWrite(std::fprintf(out, "%s", line.data()));
}
