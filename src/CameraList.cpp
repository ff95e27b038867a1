#include "CameraList.h"

#include <OpenNI.h>

#include <array>
#include <cstdio>

#include "ExitStatus.h"
#include "OutputFailure.h"
#include "PrintableText.h"
#include "SerialNumber.h"
#include "TeardownBound.h"

namespace {

struct SensorKind {
    openni::SensorType type;
    const char* name;
};

constexpr std::array<SensorKind, 3> kSensors{{
    {openni::SENSOR_DEPTH, "depth"},
    {openni::SENSOR_COLOR, "color"},
    {openni::SENSOR_IR, "ir"},
}};

std::string hex4(std::uint16_t value) {
    std::array<char, 5> digits{};
    std::snprintf(digits.data(), digits.size(), "%04x", static_cast<unsigned>(value));
    return digits.data();
}

// The lines of one listed camera: it is opened for its serial number and its
// sensors' modes, and closed again.
std::string describeCamera(int index, const openni::DeviceInfo& info) {
    CameraFacts facts{fieldText(info.getUri(), ONI_MAX_STR),
                      fieldText(info.getName(), ONI_MAX_STR),
                      fieldText(info.getVendor(), ONI_MAX_STR),
                      info.getUsbVendorId(),
                      info.getUsbProductId(),
                      std::nullopt};
    openni::Device device;
    if (device.open(info.getUri()) != openni::STATUS_OK) {
        return cameraLine(index, facts) + notOpenedLine(openni::OpenNI::getExtendedError());
    }
    facts.serial = readSerialNumber(device);
    std::string lines = cameraLine(index, facts);
    for (const SensorKind& sensor : kSensors) {
        if (const openni::SensorInfo* modes = device.getSensorInfo(sensor.type)) {
            for (const VideoModeSpec& mode : offeredModes(*modes)) {
                lines += modeLine(sensor.name, mode);
            }
        }
    }
    device.close();
    return lines;
}

}  // namespace

std::string cameraLine(int index, const CameraFacts& camera) {
    std::string line = "camera " + std::to_string(index) + ": " + inQuotes(camera.uri) + " usb " +
                       hex4(camera.usbVendorId) + ":" + hex4(camera.usbProductId);
    if (camera.serial) {
        line += " serial " + inQuotes(*camera.serial);
    }
    return line + " name " + inQuotes(camera.name) + " vendor " + inQuotes(camera.vendor) + "\n";
}

std::string modeLine(std::string_view sensor, const VideoModeSpec& mode) {
    return "  " + std::string(sensor) + " " + describeMode(mode) + "\n";
}

std::string notOpenedLine(std::string_view reason) {
    return "  not opened: " + oneLine(reason) + "\n";
}

int listCameras() {
    if (openni::OpenNI::initialize() != openni::STATUS_OK) {
        reportLine(stdout, "Initialize failed\n%s\n", openni::OpenNI::getExtendedError());
        return reportOutputFailure(kInitializeFailed);
    }
    openni::Array<openni::DeviceInfo> devices;
    openni::OpenNI::enumerateDevices(&devices);
    for (int i = 0; i < devices.getSize(); ++i) {
        const std::string lines = describeCamera(i, devices[i]);
        reportLine(stdout, "%s", lines.c_str());
    }
    // An empty list is a camera that cannot be opened, as for a run.
    const int status = devices.getSize() > 0 ? kRunEnded : kOpenFailed;
    if (status != kRunEnded) {
        std::fputs("camwatch: no camera is connected\n", stderr);
    }
    std::fflush(stdout);
    const int exitStatus = reportOutputFailure(status);
    {
        const TeardownBound bound(exitStatus);
        openni::OpenNI::shutdown();
    }
    return exitStatus;
}
