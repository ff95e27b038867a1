// One sensor's stream: a thread that sends the precomputed frame at the
// rate of the stream's video mode until it is stopped or has sent its frames.
#pragma once

#include <Driver/OniDriverAPI.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EventLog.h"
#include "FrameImage.h"
#include "Plug.h"
#include "Scenario.h"

namespace vcam {

class VirtualStream : public oni::driver::StreamBase {
public:
    VirtualStream(std::string uri, const SensorConfig& sensor, std::shared_ptr<Plug> plug,
                  EventLog& log, oni::driver::DriverServices& services);
    ~VirtualStream() override;
    VirtualStream(const VirtualStream&) = delete;
    VirtualStream& operator=(const VirtualStream&) = delete;

    [[nodiscard]] const char* sensorName() const { return sensorKindName(sensor_.kind); }

    OniStatus start() override;
    void stop() override;
    int getRequiredFrameSize() override;

    OniStatus getProperty(int propertyId, void* data, int* dataSize) override;
    OniStatus setProperty(int propertyId, const void* data, int dataSize) override;
    OniBool isPropertySupported(int propertyId) override;

private:
    // What the stream sends in its current mode, made when the mode is chosen.
    struct Sending {
        explicit Sending(const SensorConfig& inMode);
        const SensorConfig sensor;
        const FrameImage image;
        const OniVideoMode videoMode;
    };

    void run();
    // False once the camera is unplugged: nothing was sent.
    bool sendFrame(const Sending& mode, std::uint64_t index, std::uint64_t timestamp);
    void handOver(const Sending& mode, std::uint64_t index, std::uint64_t timestamp);
    OniStatus setVideoMode(const void* data, int dataSize);
    [[nodiscard]] std::shared_ptr<const Sending> sending();
    [[nodiscard]] OniStatus unpluggedError(const char* what) const;
    void joinThread();
    [[nodiscard]] std::string describe() const;
    void halt();

    const std::string uri_;
    const SensorConfig sensor_;
    const std::vector<VideoMode> offered_;
    // For the largest offered mode, so a mode set while the library holds
    // buffers still fits them.
    const int requiredFrameSize_;
    const std::shared_ptr<Plug> plug_;
    EventLog& log_;
    oni::driver::DriverServices& services_;

    std::thread thread_;
    bool running_ = false;  // between a successful start() and stop()
    std::mutex wakeMutex_;  // also guards sending_ and modeChanges_
    std::condition_variable wake_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<std::uint64_t> sent_{0};
    std::shared_ptr<const Sending> sending_;
    std::uint64_t modeChanges_ = 0;
};

}  // namespace vcam
