// baseline: subscribes to the first camera the way camwatch does, but each
// frame listener only reads and releases the frame. The difference between the
// two programs' CPU time is what camwatch's own per-frame work costs.
//
// With --hold each listener keeps the frame it read until the next one, as
// camwatch's per-frame line must, and gives the last one back once the device
// is closed, before the library shuts down, as camwatch does: the reference
// for that mode. Without it, the reference for --stats, which holds nothing.
//
// Prints nothing per frame; once torn down it prints how many frames each
// listener read, so that lost frames can be told from the driver's count.

#include <OpenNI.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "Console.h"
#include "Streams.h"

namespace {

constexpr int kKeyPollMilliseconds = 100;

class NullListener : public openni::VideoStream::NewFrameListener {
public:
    explicit NullListener(bool hold) : hold_(hold) {}
    NullListener(const NullListener&) = delete;
    NullListener& operator=(const NullListener&) = delete;

    ~NullListener() override {
        if (held_ != nullptr) {
            oniFrameRelease(held_);
        }
    }

    void onNewFrame(openni::VideoStream& stream) override {
        OniFrame* frame = nullptr;
        if (!readReadyFrame(stream, frame) || frame == nullptr) {  // as camwatch reads
            return;
        }
        framesRead_.fetch_add(1, std::memory_order_relaxed);
        if (!hold_) {
            oniFrameRelease(frame);
            return;
        }
        // The one held before goes back after the new one is read, as in camwatch.
        if (held_ != nullptr) {
            oniFrameRelease(held_);
        }
        held_ = frame;
    }

    [[nodiscard]] unsigned long long framesRead() const {
        return framesRead_.load(std::memory_order_relaxed);
    }

private:
    const bool hold_;
    OniFrame* held_ = nullptr;  // only the library's thread for this stream touches it
    std::atomic<unsigned long long> framesRead_{0};
};

}  // namespace

int main(int argc, char** argv) {
    const bool hold = argc > 1 && std::strcmp(argv[1], "--hold") == 0;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const KeyboardMode keyboardMode;

    if (openni::OpenNI::initialize() != openni::STATUS_OK) {
        std::printf("Initialize failed\n%s\n", openni::OpenNI::getExtendedError());
        return 1;
    }
    openni::Array<openni::DeviceInfo> devices;
    openni::OpenNI::enumerateDevices(&devices);
    const char* uri = devices.getSize() > 0 ? devices[0].getUri() : openni::ANY_DEVICE;
    openni::Device device;
    if (device.open(uri) != openni::STATUS_OK) {
        std::printf("Couldn't open device\n%s\n", openni::OpenNI::getExtendedError());
        openni::OpenNI::shutdown();
        return 2;
    }

    openni::VideoStream depth;
    createAndStart(device, openni::SENSOR_DEPTH, depth, "depth");
    openni::VideoStream color;
    createAndStart(device, openni::SENSOR_COLOR, color, "color");

    unsigned long long depthFrames = 0;
    unsigned long long colorFrames = 0;
    {
        // In this block so that held frames go back after the device is closed
        // and before the library shuts down, depth first.
        NullListener colorReader(hold);
        NullListener depthReader(hold);
        listen(depth, depthReader);
        listen(color, colorReader);

        while (!takeStopThenTestKey()) {
            pauseMilliseconds(kKeyPollMilliseconds);
        }

        stopListening(depth, depthReader);
        stopListening(color, colorReader);
        stopAndDestroy(depth);
        stopAndDestroy(color);
        device.close();
        depthFrames = depthReader.framesRead();
        colorFrames = colorReader.framesRead();
    }
    openni::OpenNI::shutdown();

    std::printf("depth frames %llu\ncolor frames %llu\n", depthFrames, colorFrames);
    return 0;
}
