#include "ReadFailure.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

long readFailurePeriod(const char* setting) {
    if (setting == nullptr || *setting == '\0') {
        return 0;
    }
    char* end = nullptr;
    errno = 0;
    const long period = std::strtol(setting, &end, 10);
    if (errno != 0 || *end != '\0' || period < 1) {
        return 0;
    }
    return period;
}

bool nextReadShouldFail() {
    static const long period = readFailurePeriod(std::getenv("CAMWATCH_TRACE_FAIL_READ"));
    static std::atomic<unsigned long> reads{0};
    if (period == 0) {
        return false;
    }
    const unsigned long count = reads.fetch_add(1) + 1;
    return count % static_cast<unsigned long>(period) == 0;
}
