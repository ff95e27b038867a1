// The camera and its streams as the library sees them, with the library's
// services played by this test: frames are recorded as they are handed over.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "EventLog.h"
#include "OniConversions.h"
#include "Plug.h"
#include "Scenario.h"
#include "VirtualDevice.h"
#include "VirtualStream.h"

namespace vcam {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Generous: the bounds only matter when something is wrong.
constexpr milliseconds kPatience{5000};

struct Received {
    int index;
    std::uint64_t timestamp;
    int width;
    int height;
    int stride;
    int dataSize;
    VideoMode mode;
    std::uint8_t firstMiddleByte;
};

// The library's side: frame buffers, the new-frame callback and the error log.
class FakeLibrary {
public:
    FakeLibrary() {
        driverServices_.driverServices = this;
        driverServices_.errorLoggerAppend = &FakeLibrary::appendError;
        driverServices_.errorLoggerClear = [](void*) {};
        driverServices_.log = [](void*, int, const char*, int, const char*, const char*) {};
        // The wrapper's methods hide the C structure's fields of the same names.
        OniStreamServices& fields = streamServices_;
        fields.streamServices = this;
        fields.acquireFrame = &FakeLibrary::acquire;
        fields.releaseFrame = &FakeLibrary::release;
    }

    oni::driver::DriverServices& driverServices() { return services_; }

    void attach(VirtualStream& stream) {
        stream.setServices(&streamServices_);
        stream.setNewFrameCallback(&FakeLibrary::newFrame, this);
        requiredSize_ = stream.getRequiredFrameSize();
    }

    bool waitForFrames(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] { return frames_.size() >= count; });
    }

    template <typename Predicate>
    bool waitForFrame(Predicate isIt) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience,
                                 [&] { return !frames_.empty() && isIt(frames_.back()); });
    }

    std::vector<Received> frames() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

    std::vector<std::string> errors() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }

    [[nodiscard]] int requiredSize() const { return requiredSize_; }

private:
    static OniFrame* acquire(void* self) {
        auto* frame = new OniFrame{};
        frame->data = new std::uint8_t[static_cast<FakeLibrary*>(self)->requiredSize_];
        return frame;
    }

    static void release(void* /*self*/, OniFrame* frame) {
        delete[] static_cast<std::uint8_t*>(frame->data);
        delete frame;
    }

    static void newFrame(oni::driver::StreamBase* /*stream*/, OniFrame* frame, void* self) {
        auto* library = static_cast<FakeLibrary*>(self);
        // The buffer must hold what the frame says it holds.
        EXPECT_LE(frame->dataSize, library->requiredSize_);
        const std::ptrdiff_t middle = (frame->height + 1) * frame->width / 2;
        const std::ptrdiff_t bpp = frame->width > 0 ? frame->stride / frame->width : 1;
        const VideoMode mode = videoModeOf(frame->videoMode);
        const Received received{frame->frameIndex,
                                frame->timestamp,
                                frame->width,
                                frame->height,
                                frame->stride,
                                frame->dataSize,
                                mode,
                                static_cast<std::uint8_t*>(frame->data)[middle * bpp]};
        const std::lock_guard<std::mutex> lock(library->mutex_);
        library->frames_.push_back(received);
        library->changed_.notify_all();
    }

    static void appendError(void* self, const char* format, va_list args) {
        auto* library = static_cast<FakeLibrary*>(self);
        std::vector<char> text(1024);
        std::vsnprintf(text.data(), text.size(), format, args);
        const std::lock_guard<std::mutex> lock(library->mutex_);
        library->errors_.emplace_back(text.data());
    }

    OniDriverServices driverServices_{};
    oni::driver::DriverServices services_{&driverServices_};
    oni::driver::StreamServices streamServices_{};
    int requiredSize_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Received> frames_;
    std::vector<std::string> errors_;
};

DeviceConfig deviceOf(const std::string& text) {
    std::istringstream in(text);
    return parseScenario(in, "test.vcam").devices.at(0);
}

// One stream of the scenario's first sensor, wired to a fake library.
struct StreamUnderTest {
    explicit StreamUnderTest(const std::string& scenario)
        : device(deviceOf(scenario)),
          plug(std::make_shared<Plug>(true)),
          stream(device.uri, device.sensors.at(0), plug, log, library.driverServices()) {
        library.attach(stream);
    }

    OniStatus setMode(const VideoMode& mode) {
        const OniVideoMode oni = oniVideoModeOf(mode);
        return stream.setProperty(ONI_STREAM_PROPERTY_VIDEO_MODE, &oni, sizeof(oni));
    }

    VideoMode currentMode() {
        OniVideoMode oni{};
        int size = sizeof(oni);
        EXPECT_EQ(stream.getProperty(ONI_STREAM_PROPERTY_VIDEO_MODE, &oni, &size), ONI_STATUS_OK);
        return videoModeOf(oni);
    }

    FakeLibrary library;
    EventLog log;
    DeviceConfig device;
    std::shared_ptr<Plug> plug;
    VirtualStream stream;
};

std::vector<int> indexesOf(const std::vector<Received>& frames) {
    std::vector<int> indexes;
    std::transform(frames.begin(), frames.end(), std::back_inserter(indexes),
                   [](const Received& frame) { return frame.index; });
    return indexes;
}

TEST(VirtualStreamLostFrames, SkipTheirIndexTimestampAndMiddleValueWhileFramesCountsSentOnes) {
    StreamUnderTest test(
        "device d\ndepth width=3 height=3 fps=0 frames=5 ts=100 step=10 "
        "middle=7 middle_step=1 lose=3 lost=4\n");
    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(5));
    test.stream.stop();
    const std::vector<Received> frames = test.library.frames();
    ASSERT_EQ(indexesOf(frames), (std::vector<int>{1, 2, 5, 7, 8}));
    for (const Received& frame : frames) {
        EXPECT_EQ(frame.timestamp, 100 + (frame.index - 1) * 10U) << frame.index;
        EXPECT_EQ(frame.firstMiddleByte, 7 + frame.index - 1) << frame.index;
    }
}

TEST(VirtualStreamLostFrames, StillTakeTheirTimeSlots) {
    // Sent: 1, 3 and 5, the last five periods of 20 ms after the start.
    StreamUnderTest test("device d\ndepth width=2 height=2 fps=50 frames=3 lose=2\n");
    const Clock::time_point started = Clock::now();
    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(3));
    EXPECT_GE(Clock::now() - started, milliseconds(100));
    test.stream.stop();
    EXPECT_EQ(indexesOf(test.library.frames()), (std::vector<int>{1, 3, 5}));
}

TEST(VirtualStreamLostFrames, IndexesCountFromOneAtEachStart) {
    StreamUnderTest test("device d\ndepth width=2 height=2 fps=0 frames=2 lost=1\n");
    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(2));
    test.stream.stop();
    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(4));
    test.stream.stop();
    EXPECT_EQ(indexesOf(test.library.frames()), (std::vector<int>{2, 3, 2, 3}));
}

TEST(VirtualStreamModes, OnlyAnOfferedModeIsSetAndFramesThenUseIt) {
    StreamUnderTest test(
        "device vcam://m\ndepth width=8 height=2 fps=0 frames=2 middle=0x2a "
        "modes=4x3@0:200,16x16@5:100\n");
    // Buffers fit the largest mode, whatever mode is set later.
    EXPECT_EQ(test.library.requiredSize(), 16 * 16 * 2);
    EXPECT_EQ(test.currentMode(), (VideoMode{8, 2, 0, 100}));

    EXPECT_EQ(test.setMode({4, 3, 0, 100}), ONI_STATUS_NOT_SUPPORTED);  // not with this format
    EXPECT_EQ(test.setMode({4, 3, 1, 200}), ONI_STATUS_NOT_SUPPORTED);  // nor this rate
    EXPECT_EQ(
        test.library.errors(),
        (std::vector<std::string>{"vcam: the depth sensor of vcam://m offers no mode 4x3@0:100",
                                  "vcam: the depth sensor of vcam://m offers no mode 4x3@1:200"}));
    EXPECT_EQ(test.currentMode(), (VideoMode{8, 2, 0, 100}));
    EXPECT_EQ(test.stream.setProperty(ONI_STREAM_PROPERTY_VIDEO_MODE, "x", 1),
              ONI_STATUS_BAD_PARAMETER);

    ASSERT_EQ(test.setMode({4, 3, 0, 200}), ONI_STATUS_OK);
    EXPECT_EQ(test.currentMode(), (VideoMode{4, 3, 0, 200}));
    int stride = 0;
    int size = sizeof(stride);
    ASSERT_EQ(test.stream.getProperty(ONI_STREAM_PROPERTY_STRIDE, &stride, &size), ONI_STATUS_OK);
    EXPECT_EQ(stride, 12);

    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(2));
    test.stream.stop();
    const Received frame = test.library.frames().at(0);
    EXPECT_EQ(frame.width, 4);
    EXPECT_EQ(frame.height, 3);
    EXPECT_EQ(frame.stride, 12);
    EXPECT_EQ(frame.dataSize, 36);
    EXPECT_EQ(frame.mode, (VideoMode{4, 3, 0, 200}));
    // bpp 3 writes 0xRRGGBB: 0x00002a begins with its zero red byte.
    EXPECT_EQ(frame.firstMiddleByte, 0);

    // Back to its own mode, which a stop and start keep.
    ASSERT_EQ(test.setMode({8, 2, 0, 100}), ONI_STATUS_OK);
    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(4));
    test.stream.stop();
    const Received own = test.library.frames().at(3);
    EXPECT_EQ(own.stride, 16);
    EXPECT_EQ(own.dataSize, 32);
    EXPECT_EQ(own.firstMiddleByte, 0x2a);
}

TEST(VirtualStreamModes, AModeSetWhileRunningTakesOverWithTheNextFrames) {
    StreamUnderTest test("device d\ndepth width=2 height=2 fps=200 modes=6x4@100:100\n");
    ASSERT_EQ(test.stream.start(), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrames(2));
    ASSERT_EQ(test.setMode({6, 4, 100, 100}), ONI_STATUS_OK);
    ASSERT_TRUE(test.library.waitForFrame([](const Received& frame) { return frame.width == 6; }));
    const std::size_t switched = test.library.frames().size();
    ASSERT_TRUE(test.library.waitForFrames(switched + 2));
    test.stream.stop();

    const std::vector<Received> frames = test.library.frames();
    bool inNewMode = false;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        // Numbering and time go on across the change.
        EXPECT_EQ(frames[i].index, static_cast<int>(i) + 1);
        if (i > 0) {
            EXPECT_GT(frames[i].timestamp, frames[i - 1].timestamp);
        }
        inNewMode = inNewMode || frames[i].width == 6;
        EXPECT_EQ(frames[i].width, inNewMode ? 6 : 2) << "frame " << i + 1;
        EXPECT_EQ(frames[i].dataSize, inNewMode ? 48 : 8) << "frame " << i + 1;
    }
    // The new mode's step, 1000000/100.
    EXPECT_EQ(frames.back().timestamp - frames[frames.size() - 2].timestamp, 10000U);
}

struct DeviceUnderTest {
    explicit DeviceUnderTest(const std::string& scenario)
        : config(deviceOf(scenario)),
          plug(std::make_shared<Plug>(true)),
          device(config, plug, log, library.driverServices()) {}

    FakeLibrary library;
    EventLog log;
    DeviceConfig config;
    std::shared_ptr<Plug> plug;
    VirtualDevice device;
};

TEST(VirtualDeviceInfo, TheSerialIsAWholeNulTerminatedStringOrNone) {
    DeviceUnderTest test("device d serial=AB12\n");
    EXPECT_TRUE(test.device.isPropertySupported(ONI_DEVICE_PROPERTY_SERIAL_NUMBER));
    std::array<char, 8> serial{"xxxxxxx"};
    int size = 5;
    ASSERT_EQ(test.device.getProperty(ONI_DEVICE_PROPERTY_SERIAL_NUMBER, serial.data(), &size),
              ONI_STATUS_OK);
    EXPECT_STREQ(serial.data(), "AB12");
    EXPECT_EQ(size, 5);
    std::array<char, 4> small{"yyy"};
    size = static_cast<int>(small.size());
    EXPECT_EQ(test.device.getProperty(ONI_DEVICE_PROPERTY_SERIAL_NUMBER, small.data(), &size),
              ONI_STATUS_BAD_PARAMETER);
    EXPECT_STREQ(small.data(), "yyy");  // untouched rather than cut short
    EXPECT_EQ(test.device.getProperty(ONI_DEVICE_PROPERTY_SERIAL_NUMBER, serial.data(), nullptr),
              ONI_STATUS_BAD_PARAMETER);
    EXPECT_EQ(test.device.getProperty(ONI_DEVICE_PROPERTY_FIRMWARE_VERSION, serial.data(), &size),
              ONI_STATUS_NOT_SUPPORTED);

    test.plug->unplug();
    size = static_cast<int>(serial.size());
    EXPECT_EQ(test.device.getProperty(ONI_DEVICE_PROPERTY_SERIAL_NUMBER, serial.data(), &size),
              ONI_STATUS_ERROR);

    DeviceUnderTest none("device d\n");
    EXPECT_FALSE(none.device.isPropertySupported(ONI_DEVICE_PROPERTY_SERIAL_NUMBER));
    size = static_cast<int>(serial.size());
    EXPECT_EQ(none.device.getProperty(ONI_DEVICE_PROPERTY_SERIAL_NUMBER, serial.data(), &size),
              ONI_STATUS_NOT_SUPPORTED);
}

}  // namespace
}  // namespace vcam
