// The library's C functions that camwatch calls, each forwarded to the real
// one found after us in the lookup order and traced as
//   <function> <name>=<value>... -> <result>
// once the real call has returned. Handles and pointers are hex (null is 0x0).

#include <OniCAPI.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ReadFailure.h"
#include "TraceLog.h"

namespace {

template <typename Function>
Function* real(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    if (symbol == nullptr) {
        // Forwarding to nothing would crash later and far from the cause.
        std::fprintf(stderr, "camwatch_trace: no real %s to forward to\n", name);
        std::abort();
    }
    return reinterpret_cast<Function*>(symbol);
}

// Calls that take one handle: forwarded, then traced with the handle and, when
// there is one, the status.
template <typename Handle>
OniStatus tracedStatus(OniStatus (*forward)(Handle), const char* format, Handle handle) {
    const OniStatus status = forward(handle);
    traceLine(format, traceAddress(handle), status);
    return status;
}

template <typename Handle>
void traced(void (*forward)(Handle), const char* format, Handle handle) {
    forward(handle);
    traceLine(format, traceAddress(handle));
}

// The yes/no questions about a device or stream, forwarded and traced alike;
// format takes the handle, the question's number and the answer.
template <typename Handle>
OniBool tracedQuestion(OniBool (*forward)(Handle, int), const char* format, Handle handle, int id) {
    const OniBool answer = forward(handle, id);
    traceLine(format, traceAddress(handle), id, answer);
    return answer;
}

// CAMWATCH_TRACE_REFUSE_MODE=1 makes every video mode set fail unmade, as a
// driver that refuses a mode it offers would; the virtual camera never does.
bool refuseVideoModes() {
    static const bool refuse = [] {
        const char* setting = std::getenv("CAMWATCH_TRACE_REFUSE_MODE");
        return setting != nullptr && std::strcmp(setting, "1") == 0;
    }();
    return refuse;
}

}  // namespace

extern "C" {

OniStatus oniInitialize(int apiVersion) {
    static auto* const forward = real<decltype(oniInitialize)>("oniInitialize");
    const OniStatus status = forward(apiVersion);
    traceLine("oniInitialize api=%d -> %d", apiVersion, status);
    return status;
}

void oniShutdown() {
    static auto* const forward = real<decltype(oniShutdown)>("oniShutdown");
    forward();
    traceLine("oniShutdown");
}

const char* oniGetExtendedError() {
    static auto* const forward = real<decltype(oniGetExtendedError)>("oniGetExtendedError");
    const char* text = forward();
    if (traceEnabled()) {
        traceLine("oniGetExtendedError -> %s", traceQuoted(text).c_str());
    }
    return text;
}

OniStatus oniGetDeviceList(OniDeviceInfo** pDevices, int* pNumDevices) {
    static auto* const forward = real<decltype(oniGetDeviceList)>("oniGetDeviceList");
    const OniStatus status = forward(pDevices, pNumDevices);
    traceLine("oniGetDeviceList list=0x%llx count=%d -> %d",
              traceAddress(pDevices != nullptr ? *pDevices : nullptr),
              pNumDevices != nullptr ? *pNumDevices : -1, status);
    return status;
}

OniStatus oniReleaseDeviceList(OniDeviceInfo* pDevices) {
    static auto* const forward = real<decltype(oniReleaseDeviceList)>("oniReleaseDeviceList");
    return tracedStatus(forward, "oniReleaseDeviceList list=0x%llx -> %d", pDevices);
}

OniStatus oniRegisterDeviceCallbacks(OniDeviceCallbacks* pCallbacks, void* pCookie,
                                     OniCallbackHandle* pHandle) {
    static auto* const forward =
        real<decltype(oniRegisterDeviceCallbacks)>("oniRegisterDeviceCallbacks");
    const OniStatus status = forward(pCallbacks, pCookie, pHandle);
    traceLine("oniRegisterDeviceCallbacks cookie=0x%llx handle=0x%llx -> %d", traceAddress(pCookie),
              traceAddress(pHandle != nullptr ? *pHandle : nullptr), status);
    return status;
}

void oniUnregisterDeviceCallbacks(OniCallbackHandle handle) {
    static auto* const forward =
        real<decltype(oniUnregisterDeviceCallbacks)>("oniUnregisterDeviceCallbacks");
    traced(forward, "oniUnregisterDeviceCallbacks handle=0x%llx", handle);
}

OniStatus oniDeviceOpen(const char* uri, OniDeviceHandle* pDevice) {
    static auto* const forward = real<decltype(oniDeviceOpen)>("oniDeviceOpen");
    const OniStatus status = forward(uri, pDevice);
    if (traceEnabled()) {
        traceLine("oniDeviceOpen uri=%s device=0x%llx -> %d", traceQuoted(uri).c_str(),
                  traceAddress(status == ONI_STATUS_OK && pDevice != nullptr ? *pDevice : nullptr),
                  status);
    }
    return status;
}

OniStatus oniDeviceClose(OniDeviceHandle device) {
    static auto* const forward = real<decltype(oniDeviceClose)>("oniDeviceClose");
    return tracedStatus(forward, "oniDeviceClose device=0x%llx -> %d", device);
}

OniStatus oniDeviceGetInfo(OniDeviceHandle device, OniDeviceInfo* pInfo) {
    static auto* const forward = real<decltype(oniDeviceGetInfo)>("oniDeviceGetInfo");
    const OniStatus status = forward(device, pInfo);
    if (traceEnabled()) {
        traceLine("oniDeviceGetInfo device=0x%llx uri=%s -> %d", traceAddress(device),
                  status == ONI_STATUS_OK && pInfo != nullptr ? traceQuoted(pInfo->uri).c_str()
                                                              : "(none)",
                  status);
    }
    return status;
}

const OniSensorInfo* oniDeviceGetSensorInfo(OniDeviceHandle device, OniSensorType sensorType) {
    static auto* const forward = real<decltype(oniDeviceGetSensorInfo)>("oniDeviceGetSensorInfo");
    const OniSensorInfo* info = forward(device, sensorType);
    traceLine("oniDeviceGetSensorInfo device=0x%llx sensor=%d -> 0x%llx", traceAddress(device),
              sensorType, traceAddress(info));
    return info;
}

OniStatus oniDeviceCreateStream(OniDeviceHandle device, OniSensorType sensorType,
                                OniStreamHandle* pStream) {
    static auto* const forward = real<decltype(oniDeviceCreateStream)>("oniDeviceCreateStream");
    const OniStatus status = forward(device, sensorType, pStream);
    traceLine("oniDeviceCreateStream device=0x%llx sensor=%d stream=0x%llx -> %d",
              traceAddress(device), sensorType,
              traceAddress(status == ONI_STATUS_OK && pStream != nullptr ? *pStream : nullptr),
              status);
    return status;
}

const OniSensorInfo* oniStreamGetSensorInfo(OniStreamHandle stream) {
    static auto* const forward = real<decltype(oniStreamGetSensorInfo)>("oniStreamGetSensorInfo");
    const OniSensorInfo* info = forward(stream);
    traceLine("oniStreamGetSensorInfo stream=0x%llx -> 0x%llx", traceAddress(stream),
              traceAddress(info));
    return info;
}

OniStatus oniDeviceGetProperty(OniDeviceHandle device, int propertyId, void* data, int* pDataSize) {
    static auto* const forward = real<decltype(oniDeviceGetProperty)>("oniDeviceGetProperty");
    const OniStatus status = forward(device, propertyId, data, pDataSize);
    traceLine("oniDeviceGetProperty device=0x%llx property=%d -> %d", traceAddress(device),
              propertyId, status);
    return status;
}

// A video mode is shown as WxH@FPS:FORMAT, the one property camwatch sets.
OniStatus oniStreamSetProperty(OniStreamHandle stream, int propertyId, const void* data,
                               int dataSize) {
    static auto* const forward = real<decltype(oniStreamSetProperty)>("oniStreamSetProperty");
    const bool videoMode = propertyId == ONI_STREAM_PROPERTY_VIDEO_MODE && data != nullptr &&
                           dataSize == static_cast<int>(sizeof(OniVideoMode));
    const bool refused = videoMode && refuseVideoModes();
    const OniStatus status =
        refused ? ONI_STATUS_ERROR : forward(stream, propertyId, data, dataSize);
    if (videoMode) {
        OniVideoMode mode{};
        std::memcpy(&mode, data, sizeof mode);
        int format = 0;
        std::memcpy(&format, &mode.pixelFormat, sizeof format);
        traceLine("oniStreamSetProperty stream=0x%llx property=%d mode=%dx%d@%d:%d -> %d%s",
                  traceAddress(stream), propertyId, mode.resolutionX, mode.resolutionY, mode.fps,
                  format, status, refused ? " injected" : "");
    } else {
        traceLine("oniStreamSetProperty stream=0x%llx property=%d -> %d", traceAddress(stream),
                  propertyId, status);
    }
    return status;
}

OniStatus oniStreamStart(OniStreamHandle stream) {
    static auto* const forward = real<decltype(oniStreamStart)>("oniStreamStart");
    return tracedStatus(forward, "oniStreamStart stream=0x%llx -> %d", stream);
}

void oniStreamStop(OniStreamHandle stream) {
    static auto* const forward = real<decltype(oniStreamStop)>("oniStreamStop");
    traced(forward, "oniStreamStop stream=0x%llx", stream);
}

void oniStreamDestroy(OniStreamHandle stream) {
    static auto* const forward = real<decltype(oniStreamDestroy)>("oniStreamDestroy");
    traced(forward, "oniStreamDestroy stream=0x%llx", stream);
}

OniStatus oniStreamRegisterNewFrameCallback(OniStreamHandle stream, OniNewFrameCallback handler,
                                            void* pCookie, OniCallbackHandle* pHandle) {
    static auto* const forward =
        real<decltype(oniStreamRegisterNewFrameCallback)>("oniStreamRegisterNewFrameCallback");
    const OniStatus status = forward(stream, handler, pCookie, pHandle);
    traceLine("oniStreamRegisterNewFrameCallback stream=0x%llx cookie=0x%llx handle=0x%llx -> %d",
              traceAddress(stream), traceAddress(pCookie),
              traceAddress(pHandle != nullptr ? *pHandle : nullptr), status);
    return status;
}

void oniStreamUnregisterNewFrameCallback(OniStreamHandle stream, OniCallbackHandle handle) {
    static auto* const forward =
        real<decltype(oniStreamUnregisterNewFrameCallback)>("oniStreamUnregisterNewFrameCallback");
    forward(stream, handle);
    traceLine("oniStreamUnregisterNewFrameCallback stream=0x%llx handle=0x%llx",
              traceAddress(stream), traceAddress(handle));
}

OniStatus oniWaitForAnyStream(OniStreamHandle* pStreams, int numStreams, int* pStreamIndex,
                              int timeout) {
    static auto* const forward = real<decltype(oniWaitForAnyStream)>("oniWaitForAnyStream");
    const OniStatus status = forward(pStreams, numStreams, pStreamIndex, timeout);
    // Only the first stream is shown: camwatch asks about one at a time.
    traceLine("oniWaitForAnyStream stream=0x%llx count=%d index=%d timeout=%d -> %d",
              traceAddress(pStreams != nullptr && numStreams > 0 ? pStreams[0] : nullptr),
              numStreams, status == ONI_STATUS_OK && pStreamIndex != nullptr ? *pStreamIndex : -1,
              timeout, status);
    return status;
}

OniStatus oniStreamReadFrame(OniStreamHandle stream, OniFrame** pFrame) {
    static auto* const forward = real<decltype(oniStreamReadFrame)>("oniStreamReadFrame");
    if (pFrame != nullptr && nextReadShouldFail()) {
        // The real read is skipped: the library keeps its pending frame, which
        // the next frame or the stream's end frees, so nothing leaks.
        // Deliberate garbage, the way a failing read may leave it.
        *pFrame =
            reinterpret_cast<OniFrame*>(kGarbageFrameAddress);  // NOLINT(performance-no-int-to-ptr)
        traceLine("oniStreamReadFrame stream=0x%llx frame=0x%llx -> %d injected",
                  traceAddress(stream), traceAddress(*pFrame), ONI_STATUS_ERROR);
        return ONI_STATUS_ERROR;
    }
    const OniStatus status = forward(stream, pFrame);
    const OniFrame* frame = status == ONI_STATUS_OK && pFrame != nullptr ? *pFrame : nullptr;
    if (frame != nullptr) {
        traceLine("oniStreamReadFrame stream=0x%llx frame=0x%llx index=%d ts=%llu -> %d",
                  traceAddress(stream), traceAddress(frame), frame->frameIndex,
                  static_cast<unsigned long long>(frame->timestamp), status);
    } else {
        // Whatever a failed read left behind is shown, never dereferenced.
        traceLine("oniStreamReadFrame stream=0x%llx frame=0x%llx -> %d", traceAddress(stream),
                  traceAddress(pFrame != nullptr ? *pFrame : nullptr), status);
    }
    return status;
}

void oniFrameRelease(OniFrame* pFrame) {
    static auto* const forward = real<decltype(oniFrameRelease)>("oniFrameRelease");
    // Logged before the call: the frame may be gone, and its address reused by
    // another thread's read, once the real release returns.
    traceLine("oniFrameRelease frame=0x%llx", traceAddress(pFrame));
    forward(pFrame);
}

void oniFrameAddRef(OniFrame* pFrame) {
    static auto* const forward = real<decltype(oniFrameAddRef)>("oniFrameAddRef");
    traced(forward, "oniFrameAddRef frame=0x%llx", pFrame);
}

OniBool oniDeviceIsPropertySupported(OniDeviceHandle device, int propertyId) {
    static auto* const forward =
        real<decltype(oniDeviceIsPropertySupported)>("oniDeviceIsPropertySupported");
    return tracedQuestion(forward, "oniDeviceIsPropertySupported device=0x%llx property=%d -> %d",
                          device, propertyId);
}

OniBool oniDeviceIsCommandSupported(OniDeviceHandle device, int commandId) {
    static auto* const forward =
        real<decltype(oniDeviceIsCommandSupported)>("oniDeviceIsCommandSupported");
    return tracedQuestion(forward, "oniDeviceIsCommandSupported device=0x%llx command=%d -> %d",
                          device, commandId);
}

OniBool oniStreamIsPropertySupported(OniStreamHandle stream, int propertyId) {
    static auto* const forward =
        real<decltype(oniStreamIsPropertySupported)>("oniStreamIsPropertySupported");
    return tracedQuestion(forward, "oniStreamIsPropertySupported stream=0x%llx property=%d -> %d",
                          stream, propertyId);
}

}  // extern "C"
