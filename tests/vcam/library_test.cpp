// The virtual camera through the real camera library: what a program sees of
// a camera's identity, its modes, its lost frames and its replug under a new
// URI. Run with the library of the virtual camera's runtime folder first on
// LD_LIBRARY_PATH (ctest does), one test per process (the library is
// initialised once per test).
#include <OpenNI.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;

// Generous: the bounds only matter when something is wrong.
constexpr milliseconds kPatience{5000};

// Scenario file of this process alone, named to the driver before the library starts.
class Library {
public:
    explicit Library(const std::string& scenario)
        : path_(testing::TempDir() + "vcam_library_test." + std::to_string(::getpid()) + ".vcam") {
        std::ofstream(path_) << scenario;
        ::setenv("VCAM_SCENARIO", path_.c_str(), 1);
        ::unsetenv("VCAM_LOG");
        status_ = openni::OpenNI::initialize();
    }
    ~Library() {
        openni::OpenNI::shutdown();
        std::remove(path_.c_str());
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    [[nodiscard]] openni::Status status() const { return status_; }

private:
    std::string path_;
    openni::Status status_;
};

class ConnectedUris : public openni::OpenNI::DeviceConnectedListener {
public:
    void onDeviceConnected(const openni::DeviceInfo* info) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        uris_.emplace_back(info->getUri());
        changed_.notify_all();
    }

    bool waitFor(const std::string& uri) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kPatience, [&] {
            return std::find(uris_.begin(), uris_.end(), uri) != uris_.end();
        });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> uris_;
};

struct SeenFrame {
    int index;
    std::uint64_t timestamp;
    int width;
    int stride;
};

// Reads each frame as it comes, on the library's thread, so none is dropped.
class FrameRecorder : public openni::VideoStream::NewFrameListener {
public:
    void onNewFrame(openni::VideoStream& stream) override {
        openni::VideoFrameRef frame;
        if (stream.readFrame(&frame) != openni::STATUS_OK) {
            return;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        seen_.push_back({frame.getFrameIndex(), frame.getTimestamp(), frame.getWidth(),
                         frame.getStrideInBytes()});
        changed_.notify_all();
    }

    std::vector<SeenFrame> waitForFrames(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, kPatience, [&] { return seen_.size() >= count; });
        return seen_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenFrame> seen_;
};

std::string serialOf(openni::Device& device) {
    std::array<char, ONI_MAX_STR> serial{};
    int size = static_cast<int>(serial.size());
    if (device.getProperty(openni::DEVICE_PROPERTY_SERIAL_NUMBER, serial.data(), &size) !=
        openni::STATUS_OK) {
        return "(none)";
    }
    return serial.data();
}

// Frames of a depth stream made on the device, read until count have come.
std::vector<SeenFrame> depthFrames(openni::Device& device, std::size_t count,
                                   const openni::VideoMode* mode = nullptr) {
    openni::VideoStream stream;
    EXPECT_EQ(stream.create(device, openni::SENSOR_DEPTH), openni::STATUS_OK);
    if (mode != nullptr) {
        EXPECT_EQ(stream.setVideoMode(*mode), openni::STATUS_OK);
    }
    FrameRecorder frames;
    stream.addNewFrameListener(&frames);
    EXPECT_EQ(stream.start(), openni::STATUS_OK);
    std::vector<SeenFrame> seen = frames.waitForFrames(count);
    stream.removeNewFrameListener(&frames);
    stream.stop();
    stream.destroy();
    return seen;
}

TEST(VirtualCameraThroughTheLibrary, OffersItsModesAndLeavesGapsForLostFrames) {
    const Library library(
        "device vcam://0\ndepth width=4 height=4 fps=200 lose=3 modes=2x2@200:101\n");
    ASSERT_EQ(library.status(), openni::STATUS_OK) << openni::OpenNI::getExtendedError();
    openni::Device device;
    ASSERT_EQ(device.open("vcam://0"), openni::STATUS_OK);
    const openni::SensorInfo* sensor = device.getSensorInfo(openni::SENSOR_DEPTH);
    ASSERT_NE(sensor, nullptr);
    const openni::Array<openni::VideoMode>& modes = sensor->getSupportedVideoModes();
    ASSERT_EQ(modes.getSize(), 2);
    EXPECT_EQ(modes[0].getResolutionX(), 4);
    EXPECT_EQ(modes[1].getResolutionX(), 2);
    EXPECT_EQ(modes[1].getFps(), 200);
    EXPECT_EQ(modes[1].getPixelFormat(), openni::PIXEL_FORMAT_DEPTH_100_UM);

    openni::VideoStream refusing;
    ASSERT_EQ(refusing.create(device, openni::SENSOR_DEPTH), openni::STATUS_OK);
    openni::VideoMode unoffered = modes[1];
    unoffered.setFps(30);
    EXPECT_NE(refusing.setVideoMode(unoffered), openni::STATUS_OK);
    EXPECT_NE(std::string(openni::OpenNI::getExtendedError())
                  .find("vcam: the depth sensor of vcam://0 offers no mode 2x2@30:101"),
              std::string::npos)
        << openni::OpenNI::getExtendedError();
    refusing.destroy();

    const std::vector<SeenFrame> seen = depthFrames(device, 6, &modes[1]);
    device.close();
    // The library may hand over only part of the frames (it drops them for a
    // slow reader, as under an emulator): what is read is in order, and no
    // lost index is among it, while timestamps go on past the lost frames.
    int previous = 0;
    for (const SeenFrame& frame : seen) {
        EXPECT_GT(frame.index, previous);
        EXPECT_NE(frame.index % 3, 0) << frame.index;
        EXPECT_EQ(frame.timestamp, (frame.index - 1) * 5000U) << frame.index;
        EXPECT_EQ(frame.width, 2);
        EXPECT_EQ(frame.stride, 4);
        previous = frame.index;
    }
}

// As after USB re-enumeration: the camera comes back under a new URI while the
// program still has it open under the old one.
TEST(VirtualCameraThroughTheLibrary, ACameraBackUnderANewUriKeepsItsIdentityAndOpensBesideTheOld) {
    const Library library(
        "device vcam://old name=Cam vendor=Acme usb=1d27:0601 serial=S1\n"
        "depth width=4 height=4 fps=100\n"
        "device vcam://plain\ndepth\n"
        "at 200 disconnect vcam://old\n"
        "at 200 connect vcam://new serial=S1\n");
    ASSERT_EQ(library.status(), openni::STATUS_OK) << openni::OpenNI::getExtendedError();
    ConnectedUris connected;
    openni::OpenNI::addDeviceConnectedListener(&connected);
    openni::Array<openni::DeviceInfo> devices;
    openni::OpenNI::enumerateDevices(&devices);
    ASSERT_EQ(devices.getSize(), 2);
    EXPECT_STREQ(devices[1].getName(), "virtual camera");
    openni::Device old;
    ASSERT_EQ(old.open("vcam://old"), openni::STATUS_OK);
    // Closed while another is open: closing the last would end the timed events.
    openni::Device plain;
    ASSERT_EQ(plain.open("vcam://plain"), openni::STATUS_OK);
    EXPECT_EQ(serialOf(plain), "(none)");
    plain.close();
    openni::VideoStream oldStream;
    ASSERT_EQ(oldStream.create(old, openni::SENSOR_DEPTH), openni::STATUS_OK);
    ASSERT_EQ(oldStream.start(), openni::STATUS_OK);

    ASSERT_TRUE(connected.waitFor("vcam://new"));
    openni::OpenNI::removeDeviceConnectedListener(&connected);
    openni::Device renamed;
    ASSERT_EQ(renamed.open("vcam://new"), openni::STATUS_OK) << openni::OpenNI::getExtendedError();
    EXPECT_EQ(serialOf(renamed), "S1");
    const openni::DeviceInfo& info = renamed.getDeviceInfo();
    EXPECT_STREQ(info.getName(), "Cam");
    EXPECT_STREQ(info.getVendor(), "Acme");
    EXPECT_EQ(info.getUsbVendorId(), 0x1d27);
    EXPECT_EQ(info.getUsbProductId(), 0x0601);
    const std::vector<SeenFrame> seen = depthFrames(renamed, 1);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].index, 1);
    EXPECT_EQ(seen[0].width, 4);

    // The old camera is gone for good, yet still goes down in order.
    oldStream.stop();
    EXPECT_NE(oldStream.start(), openni::STATUS_OK);
    oldStream.destroy();
    old.close();
    renamed.close();
}

}  // namespace
