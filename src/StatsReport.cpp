#include "StatsReport.h"

#include <algorithm>
#include <array>

#include "OutputFailure.h"

namespace {

constexpr StatsClock::duration kSecond = std::chrono::seconds(1);

double secondsBetween(StatsClock::time_point from, StatsClock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

std::size_t lengthWritten(int result, std::size_t capacity) {
    return result < 0 ? 0 : std::min(static_cast<std::size_t>(result), capacity - 1);
}

void accumulate(FrameTally& total, const FrameTally& span) {
    total.frames += span.frames;
    total.missed += span.missed;
}

// One formatted write per line, as every report line is.
void print(std::FILE* out, const char* line, std::size_t length) {
    reportLine(out, "%.*s", static_cast<int>(length), line);
}

}  // namespace

double framesPerSecond(std::uint64_t frames, double seconds) {
    return seconds > 0 ? static_cast<double>(frames) / seconds : 0.0;
}

std::size_t formatSpanLine(const char* name, const FrameTally& span, double seconds,
                           const FrameTally& total, char* line, std::size_t capacity) {
    const int written = std::snprintf(
        line, capacity, "%s: %llu frames, %.1f fps, %llu missed (total %llu frames, %llu missed)\n",
        name, static_cast<unsigned long long>(span.frames), framesPerSecond(span.frames, seconds),
        static_cast<unsigned long long>(span.missed), static_cast<unsigned long long>(total.frames),
        static_cast<unsigned long long>(total.missed));
    return lengthWritten(written, capacity);
}

std::size_t formatTotalLine(const char* name, const FrameTally& total, double seconds, char* line,
                            std::size_t capacity) {
    const int written = std::snprintf(
        line, capacity, "%s total: %llu frames in %.1f s, %.1f fps, %llu missed\n", name,
        static_cast<unsigned long long>(total.frames), seconds,
        framesPerSecond(total.frames, seconds), static_cast<unsigned long long>(total.missed));
    return lengthWritten(written, capacity);
}

StatsReport::StatsReport(std::FILE* out, StatsClock::time_point start)
    : out_(out), start_(start), lastLines_(start), nextLines_(start + kSecond) {}

void StatsReport::add(const char* name, FrameCounter& counter) {
    streams_.push_back({name, &counter, {}});
}

void StatsReport::reportDueSecond(StatsClock::time_point now) {
    if (now < nextLines_) {
        return;
    }
    const double seconds = secondsBetween(lastLines_, now);
    std::array<char, kStatsLineCapacity> line;
    for (Stream& stream : streams_) {
        const FrameTally span = stream.counter->take();
        accumulate(stream.total, span);
        print(out_, line.data(),
              formatSpanLine(stream.name, span, seconds, stream.total, line.data(), line.size()));
    }
    lastLines_ = now;
    nextLines_ += kSecond;
    if (nextLines_ <= now) {  // a stall: start counting seconds afresh
        nextLines_ = now + kSecond;
    }
}

void StatsReport::reportTotals(StatsClock::time_point now) {
    const double seconds = secondsBetween(start_, now);
    std::array<char, kStatsLineCapacity> line;
    for (Stream& stream : streams_) {
        accumulate(stream.total, stream.counter->take());
        print(out_, line.data(),
              formatTotalLine(stream.name, stream.total, seconds, line.data(), line.size()));
    }
}
