// Runs the program's per-frame work a given number of times, for instruction
// counting and allocation counting: the difference between two runs of N and 2N
// frames is the cost of N frames, free of start-up and exit.
//
//   frame_path_driver depth|color|unknown <frames> <output file>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "PrintPath.h"
#include "SampleFrames.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool parseCount(const char* text, long& count) {
    char* end = nullptr;
    count = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && count >= 0;
}

bool pickFrame(const SampleFrames& frames, const char* name, FrameView& frame) {
    if (std::strcmp(name, "depth") == 0) {
        frame = frames.depth();
    } else if (std::strcmp(name, "color") == 0) {
        frame = frames.color();
    } else if (std::strcmp(name, "unknown") == 0) {
        frame = frames.unknown();
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const SampleFrames frames;
    FrameView frame;
    long count = 0;
    if (argc != 4 || !pickFrame(frames, argv[1], frame) || !parseCount(argv[2], count)) {
        std::fprintf(stderr, "usage: %s depth|color|unknown <frames> <output file>\n", argv[0]);
        return 2;
    }
    std::unique_ptr<std::FILE, FileCloser> out(std::fopen(argv[3], "w"));
    if (!out || std::setvbuf(out.get(), nullptr, _IOLBF, BUFSIZ) != 0) {
        std::fprintf(stderr, "%s: cannot open %s\n", argv[0], argv[3]);
        return 1;
    }
    for (long i = 0; i < count; ++i) {
        printMiddlePixelLine(frame, out.get());
    }
    const bool writeFailed = std::ferror(out.get()) != 0;
    if (std::fclose(out.release()) != 0 || writeFailed) {
        std::fprintf(stderr, "%s: writing %s failed\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
