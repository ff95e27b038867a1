#include "StopPoint.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>

bool isCallOf(const char* line, const char* function) {
    const std::size_t length = std::strlen(function);
    return length > 0 && std::strncmp(line, function, length) == 0 &&
           (line[length] == ' ' || line[length] == '\0');
}

void stopIfAsked(const char* line) {
    static const char* const function = std::getenv("CAMWATCH_TRACE_STOP_AFTER");
    static std::atomic<bool> stopped{false};
    if (function != nullptr && isCallOf(line, function) && !stopped.exchange(true)) {
        std::raise(SIGSTOP);
    }
}
