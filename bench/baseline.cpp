// baseline: subscribes to the first camera the way camwatch does, but each
// frame listener only reads and releases the frame. The difference between the
// two programs' CPU time is what camwatch's own per-frame work costs.
//
// Prints nothing per frame; once torn down it prints how many frames each
// listener read, so that lost frames can be told from the driver's count.

#include <OpenNI.h>

#include <atomic>
#include <cstdio>

#include "Console.h"
#include "Streams.h"

namespace {

constexpr int kKeyPollMilliseconds = 100;

class ReadAndRelease : public openni::VideoStream::NewFrameListener {
public:
    void onNewFrame(openni::VideoStream& stream) override {
        OniFrame* frame = nullptr;
        if (!readReadyFrame(stream, frame) || frame == nullptr) {  // as camwatch reads
            return;
        }
        framesRead_.fetch_add(1, std::memory_order_relaxed);
        oniFrameRelease(frame);
    }

    [[nodiscard]] unsigned long long framesRead() const {
        return framesRead_.load(std::memory_order_relaxed);
    }

private:
    std::atomic<unsigned long long> framesRead_{0};
};

}  // namespace

int main() {
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

    ReadAndRelease depthReader;
    ReadAndRelease colorReader;
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
    openni::OpenNI::shutdown();

    std::printf("depth frames %llu\ncolor frames %llu\n", depthReader.framesRead(),
                colorReader.framesRead());
    return 0;
}
