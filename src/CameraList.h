#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "VideoModes.h"

// camwatch --list: every camera the library lists, in its order, each with the
// modes of its sensors. One camera a line, one mode a line under it:
//   camera 0: "vcam://0" usb 1d27:0601 serial "0001" name "Virtual camera" vendor "camwatch"
//     depth 640x480@30:DEPTH_1_MM (100)
//     color 640x480@30:RGB888 (200)
//   camera 1: "vcam://1" usb 1d27:0601 name "Virtual camera" vendor "camwatch"
//     not opened: <the library's reason, on one line>

// What the list says of one camera on its first line.
struct CameraFacts {
    std::string_view uri;
    std::string_view name;
    std::string_view vendor;
    std::uint16_t usbVendorId = 0;
    std::uint16_t usbProductId = 0;
    std::optional<std::string> serial;  // none when the camera could not be opened
};

std::string cameraLine(int index, const CameraFacts& camera);
std::string modeLine(std::string_view sensor, const VideoModeSpec& mode);
std::string notOpenedLine(std::string_view reason);

// Initialises the library, prints the list on standard output and shuts the
// library down. The exit status: 0 when a camera was listed, 2 when none was
// (said on standard error too), 1 when the library could not be initialised.
int listCameras();
