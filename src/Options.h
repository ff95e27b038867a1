#pragma once

#include <optional>
#include <string>

#include "VideoModes.h"

// What the command line asks of a run. With no arguments every field keeps its
// default, and the run is the plain monitor: the first camera, default modes,
// one line per frame.

struct Options {
    bool help = false;     // -h, --help
    bool version = false;  // -V, --version
    bool list = false;     // -l, --list
    bool stats = false;    // -s, --stats: one line per stream each second, no frame lines
    bool follow = false;   // -f, --follow: reopen the camera when it is plugged in again
    std::optional<std::string> device;     // -d, --device: URI, serial number or index
    std::optional<ModeRequest> depthMode;  // --depth-mode
    std::optional<ModeRequest> colorMode;  // --color-mode
};

// The longest --device value: the library's URIs and serial numbers are shorter.
constexpr std::size_t kMaxDeviceLength = 255;

// The options of argv, or, when they are wrong, the message that says why (without
// the program's name), in `error`. Parsed with getopt_long; reads nothing else.
// Each call starts afresh. A later -d, --depth-mode or --color-mode replaces an
// earlier one; --list takes no option but -h and -V, which win over every other.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

// "usage: camwatch [...]": the line a usage error ends with.
extern const char* const kUsageLine;

// What --help prints, the usage line first.
extern const char* const kHelpText;
