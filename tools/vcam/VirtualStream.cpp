#include "VirtualStream.h"

#include <chrono>
#include <cstring>

#include "OniConversions.h"

namespace vcam {

namespace {

template <typename T>
OniStatus copyOut(const T& value, void* data, int* dataSize) {
    if (data == nullptr || dataSize == nullptr || *dataSize < static_cast<int>(sizeof(T))) {
        return ONI_STATUS_BAD_PARAMETER;
    }
    std::memcpy(data, &value, sizeof(T));
    *dataSize = static_cast<int>(sizeof(T));
    return ONI_STATUS_OK;
}

}  // namespace

VirtualStream::VirtualStream(std::string uri, const SensorConfig& sensor,
                             std::shared_ptr<Plug> plug, EventLog& log,
                             oni::driver::DriverServices& services)
    : uri_(std::move(uri)),
      sensor_(sensor),
      image_(sensor),
      videoMode_(videoModeOf(sensor)),
      plug_(std::move(plug)),
      log_(log),
      services_(services) {}

VirtualStream::~VirtualStream() {
    halt();
}

std::string VirtualStream::describe() const {
    return uri_ + " " + sensorKindName(sensor_.kind);
}

// What a driver says of a camera whose cable is out: an error, never a wait.
OniStatus VirtualStream::unpluggedError(const char* what) const {
    services_.errorLoggerAppend("vcam: %s the %s stream of %s failed: the camera is unplugged",
                                what, sensorKindName(sensor_.kind), uri_.c_str());
    return ONI_STATUS_ERROR;
}

OniStatus VirtualStream::start() {
    if (running_) {
        return ONI_STATUS_OK;
    }
    if (!plug_->plugged()) {
        log_.write("start-fail " + describe());
        return unpluggedError("starting");
    }
    if (sensor_.startFails) {
        log_.write("start-fail " + describe());
        services_.errorLoggerAppend("vcam: the scenario makes starting the %s stream of %s fail",
                                    sensorKindName(sensor_.kind), uri_.c_str());
        return ONI_STATUS_ERROR;
    }
    log_.write("start " + describe());
    stopRequested_ = false;
    sent_ = 0;
    running_ = true;
    thread_ = std::thread(&VirtualStream::run, this);
    return ONI_STATUS_OK;
}

void VirtualStream::stop() {
    halt();
}

void VirtualStream::halt() {
    if (!running_) {
        return;
    }
    joinThread();
    running_ = false;
    log_.write("stop " + describe());
    log_.write("sent " + describe() + " " + std::to_string(sent_.load()));
}

void VirtualStream::joinThread() {
    {
        // Taking the lock orders the request before the thread's next wait.
        const std::lock_guard<std::mutex> lock(wakeMutex_);
        stopRequested_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void VirtualStream::run() {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    const auto period = sensor_.fps > 0 ? std::chrono::nanoseconds(1000000000 / sensor_.fps)
                                        : std::chrono::nanoseconds(0);
    const bool bounded = sensor_.frameLimit.has_value();
    const auto limit = static_cast<std::uint64_t>(sensor_.frameLimit.value_or(0));
    for (std::uint64_t number = 1; !bounded || number <= limit; ++number) {
        if (sensor_.fps > 0) {
            // Like a camera, the first frame comes one period after the start.
            std::unique_lock<std::mutex> lock(wakeMutex_);
            if (wake_.wait_until(lock, started + period * number,
                                 [this] { return stopRequested_.load(); })) {
                return;
            }
        } else if (stopRequested_) {
            return;
        }
        if (!sendFrame(number)) {
            return;  // unplugged: nothing more will come
        }
    }
}

bool VirtualStream::sendFrame(std::uint64_t number) {
    return plug_->whilePlugged([this, number] { handOver(number); });
}

void VirtualStream::handOver(std::uint64_t number) {
    OniFrame* frame = getServices().acquireFrame();
    if (frame == nullptr) {
        return;  // the library is out of frame buffers; a camera would drop this one too
    }
    std::memcpy(frame->data, image_.bytes().data(), image_.bytes().size());
    image_.writeMiddle(static_cast<std::uint8_t*>(frame->data), number - 1);
    frame->dataSize = image_.dataSize();
    frame->sensorType = oniSensorTypeOf(sensor_.kind);
    frame->timestamp = sensor_.firstTimestamp + (number - 1) * sensor_.timestampStep;
    frame->frameIndex = static_cast<int>(number);
    frame->width = sensor_.width;
    frame->height = sensor_.height;
    frame->videoMode = videoMode_;
    frame->croppingEnabled = FALSE;
    frame->cropOriginX = 0;
    frame->cropOriginY = 0;
    frame->stride = sensor_.stride;
    ++sent_;
    log_.write("frame " + describe() + " " + std::to_string(number) + " " +
               std::to_string(frame->timestamp));
    raiseNewFrame(frame);
    getServices().releaseFrame(frame);
}

int VirtualStream::getRequiredFrameSize() {
    return static_cast<int>(image_.bytes().size());
}

OniStatus VirtualStream::getProperty(int propertyId, void* data, int* dataSize) {
    if (!plug_->plugged()) {
        return unpluggedError("reading a property of");
    }
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE:
            return copyOut(videoMode_, data, dataSize);
        case ONI_STREAM_PROPERTY_STRIDE:
            return copyOut(sensor_.stride, data, dataSize);
        case ONI_STREAM_PROPERTY_MIRRORING:
            return copyOut(OniBool{FALSE}, data, dataSize);
        case ONI_STREAM_PROPERTY_CROPPING:
            return copyOut(OniCropping{}, data, dataSize);
        default:
            return ONI_STATUS_NOT_SUPPORTED;
    }
}

OniStatus VirtualStream::setProperty(int propertyId, const void* data, int dataSize) {
    if (!plug_->plugged()) {
        return unpluggedError("setting a property of");
    }
    // The one mode there is may be chosen again; anything else cannot be had.
    if (propertyId == ONI_STREAM_PROPERTY_VIDEO_MODE && data != nullptr &&
        dataSize == static_cast<int>(sizeof(OniVideoMode)) &&
        std::memcmp(data, &videoMode_, sizeof(OniVideoMode)) == 0) {
        return ONI_STATUS_OK;
    }
    return ONI_STATUS_NOT_SUPPORTED;
}

OniBool VirtualStream::isPropertySupported(int propertyId) {
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE:
        case ONI_STREAM_PROPERTY_STRIDE:
        case ONI_STREAM_PROPERTY_MIRRORING:
        case ONI_STREAM_PROPERTY_CROPPING:
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace vcam
