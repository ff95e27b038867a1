#pragma once

#include <array>
#include <cstdio>

#include "MiddlePixelLine.h"

// What the program does with each frame once it holds it, with the line going to
// `out` rather than stdout: `out` should be line-buffered like the program's
// stdout, so that every line costs the same write the program's line does.
inline void printMiddlePixelLine(const FrameView& frame, std::FILE* out) {
    std::array<char, kMiddlePixelLineCapacity> line{};
    formatMiddlePixelLine(frame, line.data(), line.size());
    std::fprintf(out, "%s", line.data());
}
