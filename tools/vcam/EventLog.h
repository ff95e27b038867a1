// The driver's record of what it did, one line per event, for tests to check
// against what the program printed.
#pragma once

#include <string>

#include "AppendFile.h"

namespace vcam {

class EventLog {
public:
    // A log that drops everything.
    EventLog() = default;
    // Appends to path; throws std::runtime_error when it cannot be opened.
    explicit EventLog(const std::string& path);

    // Adds the newline; the line is on disk when this returns.
    void write(const std::string& line);

private:
    AppendFile file_;
};

}  // namespace vcam
