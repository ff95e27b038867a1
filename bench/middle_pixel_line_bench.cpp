// Nanoseconds per frame of the program's own per-frame work: building the line,
// and building plus printing it into a line-buffered file.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <memory>

#include "FrameCallback.h"
#include "MiddlePixelLine.h"
#include "SampleFrames.h"

namespace {

using FrameOf = FrameView (SampleFrames::*)() const;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// cppcheck-suppress constParameterCallback ; Google Benchmark passes a mutable State
void formatOnly(benchmark::State& state, FrameOf which) {
    const SampleFrames frames;
    const FrameView frame = (frames.*which)();
    std::array<char, kMiddlePixelLineCapacity> line{};
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the loop's own idiom
        benchmark::DoNotOptimize(formatMiddlePixelLine(frame, line.data(), line.size()));
        benchmark::ClobberMemory();
    }
}

void formatAndPrint(benchmark::State& state, FrameOf which) {
    const SampleFrames frames;
    const FrameView frame = (frames.*which)();
    // An unnamed file on disk, line-buffered like the program's stdout: every
    // line costs the write the program's line does.
    const std::unique_ptr<std::FILE, FileCloser> out(std::tmpfile());
    if (!out || std::setvbuf(out.get(), nullptr, _IOLBF, BUFSIZ) != 0) {
        state.SkipWithError("cannot open a line-buffered temporary file");
        return;
    }
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the loop's own idiom
        printMiddlePixelLine(frame, out.get());
    }
    if (std::ferror(out.get()) != 0) {
        state.SkipWithError("writing the temporary file failed");
    }
}

}  // namespace

BENCHMARK_CAPTURE(formatOnly, depth, &SampleFrames::depth);
BENCHMARK_CAPTURE(formatOnly, color, &SampleFrames::color);
BENCHMARK_CAPTURE(formatOnly, unknown, &SampleFrames::unknown);
BENCHMARK_CAPTURE(formatAndPrint, depth, &SampleFrames::depth);
BENCHMARK_CAPTURE(formatAndPrint, color, &SampleFrames::color);
BENCHMARK_CAPTURE(formatAndPrint, unknown, &SampleFrames::unknown);

BENCHMARK_MAIN();
