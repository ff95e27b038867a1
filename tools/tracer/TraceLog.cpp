#include "TraceLog.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "AppendFile.h"
#include "StopPoint.h"

namespace {

constexpr std::size_t kMaxLineBytes = 2048;

AppendFile& traceFile() {
    // Created on first use, from whichever thread calls first; never destroyed
    // before the last library call of a process that ends by exit().
    static auto* const file = [] {
        const char* path = std::getenv("CAMWATCH_TRACE");
        if (path == nullptr || *path == '\0') {
            return new AppendFile;
        }
        auto* opened = new AppendFile(path);
        if (!opened->isOpen()) {
            std::fprintf(stderr, "camwatch_trace: cannot open %s\n", path);
        }
        return opened;
    }();
    return *file;
}

}  // namespace

bool traceEnabled() {
    return traceFile().isOpen();
}

void traceLine(const char* format, ...) {
    AppendFile& file = traceFile();
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
    line[size] = '\0';
    stopIfAsked(line.data());
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
