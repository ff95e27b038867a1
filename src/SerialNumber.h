#pragma once

#include <OpenNI.h>

#include <optional>
#include <string>

// The serial number of an open camera, or none when its driver gives none
// (or an empty one).
std::optional<std::string> readSerialNumber(const openni::Device& device);
