#include "EventLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace vcam {

EventLog::EventLog(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {
    if (fd_ < 0) {
        throw std::runtime_error("cannot open log " + path + ": " + std::strerror(errno));
    }
}

EventLog::~EventLog() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void EventLog::write(const std::string& line) {
    if (fd_ < 0) {
        return;
    }
    const std::string text = line + '\n';
    // One write per line under the lock keeps lines whole and in event order;
    // O_APPEND keeps them whole even when several processes share the file.
    const std::lock_guard<std::mutex> lock(mutex_);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(fd_, text.data() + done, text.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;  // a full disk must not stop the camera
        }
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace vcam
