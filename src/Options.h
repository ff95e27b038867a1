#pragma once

#include <optional>
#include <string>

// What the command line asks of a run. With no arguments every field keeps its
// default, and the run is the plain monitor: the first camera, default modes,
// one line per frame.

// A video mode asked for with WxH[@FPS][:FORMAT]; a part left out matches any.
struct ModeRequest {
    int width = 0;
    int height = 0;
    std::optional<int> fps;
    std::optional<int> pixelFormat;  // the library's code, also when given by name
};

struct Options {
    bool help = false;     // -h, --help
    bool version = false;  // -V, --version
    bool list = false;     // -l, --list
    bool stats = false;    // -s, --stats: one line per stream each second, no frame lines
    bool follow = false;   // -f, --follow: reopen the camera when it is plugged in again
    std::optional<std::string> device;  // -d, --device: URI, serial number or index
    std::optional<ModeRequest> depthMode;  // --depth-mode
    std::optional<ModeRequest> colorMode;  // --color-mode
};

// The options of argv, or, when they are wrong, the message that says why (without
// the program's name), in `error`. Parsed with getopt_long; reads nothing else.
std::optional<Options> parseOptions(int argc, char* argv[], std::string& error);
