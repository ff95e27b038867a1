#include "AppendFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

AppendFile::AppendFile(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)),
      openError_(fd_ < 0 ? errno : 0) {}

AppendFile::~AppendFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void AppendFile::append(const char* bytes, std::size_t size) {
    if (fd_ < 0) {
        return;
    }
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
