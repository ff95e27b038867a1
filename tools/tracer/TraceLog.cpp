#include "TraceLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

constexpr std::size_t kMaxLineBytes = 2048;

class TraceFile {
public:
    TraceFile() {
        const char* path = std::getenv("CAMWATCH_TRACE");
        if (path != nullptr && *path != '\0') {
            fd_ = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd_ < 0) {
                std::fprintf(stderr, "camwatch_trace: cannot open %s\n", path);
            }
        }
    }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;
    ~TraceFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }

    void append(const char* bytes, std::size_t size) {
        const std::lock_guard<std::mutex> lock(mutex_);
        while (size > 0) {
            const ssize_t written = ::write(fd_, bytes, size);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            bytes += written;
            size -= static_cast<std::size_t>(written);
        }
    }

private:
    int fd_ = -1;
    std::mutex mutex_;
};

TraceFile& traceFile() {
    // Created on first use, from whichever thread calls first; never destroyed
    // before the last library call of a process that ends by exit().
    static auto* const file = new TraceFile;
    return *file;
}

}  // namespace

bool traceEnabled() {
    return traceFile().isOpen();
}

void traceLine(const char* format, ...) {
    TraceFile& file = traceFile();
    if (!file.isOpen()) {
        return;
    }
    std::array<char, kMaxLineBytes> line{};
    std::va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(line.data(), line.size() - 1, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    // A line too long for the buffer is cut, but still ends the line.
    const std::size_t size = std::min(static_cast<std::size_t>(length), line.size() - 2);
    line[size] = '\n';
    file.append(line.data(), size + 1);
}

unsigned long long traceAddress(const void* pointer) {
    return static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer));
}

std::string traceQuoted(const char* text) {
    if (text == nullptr) {
        return "(null)";
    }
    std::string quoted = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += *c;
        } else if (byte == '\n') {
            quoted += "\\n";
        } else if (byte == '\t') {
            quoted += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            std::array<char, 5> escape{};
            std::snprintf(escape.data(), escape.size(), "\\x%02x", byte);
            quoted += escape.data();
        } else {
            quoted += *c;
        }
    }
    quoted += '"';
    return quoted;
}
