#include "OutputFailure.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "ExitStatus.h"

namespace {

std::atomic<int> firstFailure{0};
static_assert(std::atomic<int>::is_always_lock_free, "noted from library callbacks");

}  // namespace

// Formatted, also for a line already made: glibc's fwrite reports success when
// the flush at the newline fails.
void reportLine(std::FILE* out, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    const int written = std::vfprintf(out, format, arguments);
    va_end(arguments);
    if (written < 0) {  // in the line's write, which set errno
        noteOutputFailure(errno != 0 ? errno : EIO);
    }
}

void noteOutputFailure(int error) {
    int none = 0;
    firstFailure.compare_exchange_strong(none, error, std::memory_order_relaxed);
}

int outputFailure() {
    return firstFailure.load(std::memory_order_relaxed);
}

int reportOutputFailure(int status) {
    const int error = outputFailure();
    if (error != 0) {
        std::fprintf(stderr, "camwatch: write error: %s\n", std::strerror(error));
    }
    return error != 0 && status == kRunEnded ? kOutputFailed : status;
}
