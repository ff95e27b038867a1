// The driver's record of what it did, one line per event, for tests to check
// against what the program printed.
#pragma once

#include <mutex>
#include <string>

namespace vcam {

class EventLog {
public:
    // A log that drops everything.
    EventLog() = default;
    // Appends to path; throws std::runtime_error when it cannot be opened.
    explicit EventLog(const std::string& path);
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Adds the newline; the line is on disk when this returns.
    void write(const std::string& line);

private:
    int fd_ = -1;
    std::mutex mutex_;
};

}  // namespace vcam
