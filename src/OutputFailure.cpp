#include "OutputFailure.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::atomic<int> firstFailure{0};
static_assert(std::atomic<int>::is_always_lock_free, "noted from library callbacks");

}  // namespace

void noteReportWrite(int printfResult) {
    if (printfResult >= 0) {
        return;
    }
    // A failed line-buffered printf has failed in its write, which set errno.
    const int error = errno != 0 ? errno : EIO;
    int none = 0;
    firstFailure.compare_exchange_strong(none, error, std::memory_order_relaxed);
}

int outputFailure() {
    return firstFailure.load(std::memory_order_relaxed);
}

void reportOutputFailure(int error) {
    std::fprintf(stderr, "camwatch: write error: %s\n", std::strerror(error));
}
