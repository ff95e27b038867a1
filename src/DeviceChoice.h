#pragma once

#include <OpenNI.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which camera a run watches: the first one listed, or the one -d names.

// The listed camera `choice` names without opening any: a bare whole number
// below the count is an index from 0, else a URI that is listed; none when it
// names no listed camera that way.
std::optional<std::size_t> listedChoice(const std::vector<std::string>& uris,
                                        std::string_view choice);

// Opens into `device` the camera to watch. Without a choice, the first listed
// (with none listed, any the library finds). With one: the listed camera it
// names, else the first listed whose serial number it is (opening each in turn
// and closing those that do not match), else the camera the library opens
// when handed `choice` as it is. The status of the last open.
openni::Status openChosenDevice(openni::Device& device,
                                const openni::Array<openni::DeviceInfo>& devices,
                                const std::optional<std::string>& choice);
