#ifndef _WIN32

#include "StandardDescriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool isOpen(int descriptor) {
    return fcntl(descriptor, F_GETFD) != -1 || errno != EBADF;
}

// Opened on the descriptor itself even when a lower one is closed too.
void openOnDevNull(int descriptor, int flags) {
    const int opened = open("/dev/null", flags);
    if (opened < 0 || opened == descriptor) {
        return;
    }
    dup2(opened, descriptor);
    close(opened);
}

}  // namespace

int prepareStandardDescriptors() {
    if (!isOpen(STDIN_FILENO)) {
        openOnDevNull(STDIN_FILENO, O_RDONLY);
    }
    if (!isOpen(STDERR_FILENO)) {
        openOnDevNull(STDERR_FILENO, O_WRONLY);
    }
    return isOpen(STDOUT_FILENO) ? 0 : EBADF;
}

#endif
