#include "VirtualStream.h"

#include <algorithm>
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

int largestFrameBytes(const SensorConfig& sensor) {
    std::size_t largest = 0;
    for (const VideoMode& mode : sensor.offeredModes()) {
        largest = std::max(largest, FrameImage::bufferBytes(sensorInMode(sensor, mode)));
    }
    // The scenario bounds every frame well below INT_MAX.
    return static_cast<int>(largest);
}

}  // namespace

VirtualStream::Sending::Sending(const SensorConfig& inMode)
    : sensor(inMode), image(inMode), videoMode(oniVideoModeOf(inMode.ownMode())) {}

VirtualStream::VirtualStream(std::string uri, const SensorConfig& sensor,
                             std::shared_ptr<Plug> plug, EventLog& log,
                             oni::driver::DriverServices& services)
    : uri_(std::move(uri)),
      sensor_(sensor),
      offered_(sensor.offeredModes()),
      requiredFrameSize_(largestFrameBytes(sensor)),
      plug_(std::move(plug)),
      log_(log),
      services_(services),
      sending_(std::make_shared<const Sending>(sensor)) {}

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

std::shared_ptr<const VirtualStream::Sending> VirtualStream::sending() {
    const std::lock_guard<std::mutex> lock(wakeMutex_);
    return sending_;
}

// Frame indexes count from 1 at each start; a lost frame takes its index, its
// timestamp and its time slot, and is not sent. A new mode takes effect with
// the next frame, one of its periods after it was set.
void VirtualStream::run() {
    using Clock = std::chrono::steady_clock;
    const bool bounded = sensor_.frameLimit.has_value();
    const auto limit = static_cast<std::uint64_t>(sensor_.frameLimit.value_or(0));
    std::unique_lock<std::mutex> lock(wakeMutex_);
    std::shared_ptr<const Sending> mode = sending_;
    std::uint64_t modeChanges = modeChanges_;
    Clock::time_point slotsFrom = Clock::now();
    std::uint64_t slot = 0;
    std::uint64_t index = 0;
    std::uint64_t timestamp = sensor_.firstTimestamp;
    while (!bounded || sent_ < limit) {
        const int fps = mode->sensor.fps;
        if (fps > 0) {
            // Like a camera, the first frame comes one period after the start.
            const auto due = slotsFrom + std::chrono::nanoseconds(1000000000 / fps) * (slot + 1);
            wake_.wait_until(lock, due,
                             [&] { return stopRequested_ || modeChanges_ != modeChanges; });
        }
        if (stopRequested_) {
            return;
        }
        if (modeChanges_ != modeChanges) {
            mode = sending_;
            modeChanges = modeChanges_;
            slotsFrom = Clock::now();
            slot = 0;
            continue;
        }
        ++slot;
        ++index;
        const std::uint64_t frameTimestamp = timestamp;
        timestamp += mode->sensor.timestampStep;
        if (sensor_.isLost(index)) {
            continue;
        }
        // Unlocked while the library has the frame: its listener may set a mode.
        lock.unlock();
        const bool plugged = sendFrame(*mode, index, frameTimestamp);
        lock.lock();
        if (!plugged) {
            return;  // unplugged: nothing more will come
        }
    }
}

bool VirtualStream::sendFrame(const Sending& mode, std::uint64_t index, std::uint64_t timestamp) {
    return plug_->whilePlugged([&] { handOver(mode, index, timestamp); });
}

void VirtualStream::handOver(const Sending& mode, std::uint64_t index, std::uint64_t timestamp) {
    OniFrame* frame = getServices().acquireFrame();
    if (frame == nullptr) {
        return;  // the library is out of frame buffers; a camera would drop this one too
    }
    const SensorConfig& sensor = mode.sensor;
    std::memcpy(frame->data, mode.image.bytes().data(), mode.image.bytes().size());
    mode.image.writeMiddle(static_cast<std::uint8_t*>(frame->data), index - 1);
    frame->dataSize = mode.image.dataSize();
    frame->sensorType = oniSensorTypeOf(sensor.kind);
    frame->timestamp = timestamp;
    frame->frameIndex = static_cast<int>(index);
    frame->width = sensor.width;
    frame->height = sensor.height;
    frame->videoMode = mode.videoMode;
    frame->croppingEnabled = FALSE;
    frame->cropOriginX = 0;
    frame->cropOriginY = 0;
    frame->stride = sensor.stride;
    ++sent_;
    log_.write("frame " + describe() + " " + std::to_string(index) + " " +
               std::to_string(timestamp));
    raiseNewFrame(frame);
    getServices().releaseFrame(frame);
}

int VirtualStream::getRequiredFrameSize() {
    return requiredFrameSize_;
}

OniStatus VirtualStream::getProperty(int propertyId, void* data, int* dataSize) {
    if (!plug_->plugged()) {
        return unpluggedError("reading a property of");
    }
    switch (propertyId) {
        case ONI_STREAM_PROPERTY_VIDEO_MODE:
            return copyOut(sending()->videoMode, data, dataSize);
        case ONI_STREAM_PROPERTY_STRIDE:
            return copyOut(sending()->sensor.stride, data, dataSize);
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
    if (propertyId == ONI_STREAM_PROPERTY_VIDEO_MODE) {
        return setVideoMode(data, dataSize);
    }
    return ONI_STATUS_NOT_SUPPORTED;
}

// Only a mode the sensor offers, exactly, as a camera offers no other.
OniStatus VirtualStream::setVideoMode(const void* data, int dataSize) {
    if (data == nullptr || dataSize != static_cast<int>(sizeof(OniVideoMode))) {
        return ONI_STATUS_BAD_PARAMETER;
    }
    OniVideoMode asked{};
    std::memcpy(&asked, data, sizeof(asked));
    const VideoMode mode = videoModeOf(asked);
    const std::string text = describeMode(mode);
    if (std::find(offered_.begin(), offered_.end(), mode) == offered_.end()) {
        log_.write("mode-fail " + describe() + " " + text);
        services_.errorLoggerAppend("vcam: the %s sensor of %s offers no mode %s",
                                    sensorKindName(sensor_.kind), uri_.c_str(), text.c_str());
        return ONI_STATUS_NOT_SUPPORTED;
    }
    auto next = std::make_shared<const Sending>(sensorInMode(sensor_, mode));
    log_.write("mode " + describe() + " " + text);
    {
        const std::lock_guard<std::mutex> lock(wakeMutex_);
        sending_ = std::move(next);
        ++modeChanges_;
    }
    wake_.notify_all();
    return ONI_STATUS_OK;
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
