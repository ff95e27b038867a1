#pragma once

#include <optional>
#include <string_view>

// The library's pixel formats by the names its header gives them, less the
// PIXEL_FORMAT_ prefix: DEPTH_1_MM (100) to YUYV (205).

// The name of a format code, or null for a code the library does not name.
const char* pixelFormatName(int code);

// The code of a format name, in any case; none for a name the library lacks.
std::optional<int> pixelFormatCode(std::string_view name);
