// Says whether ptrace exists here. qemu-user implements none, so a debugger
// run under it cannot attach, and a hang's stacks cannot be taken on an
// emulated root: the launcher's tests expect gdb's word for it there. A peek
// at a process not traced by us changes nothing; it fails with ESRCH where
// ptrace exists and with ENOSYS where it does not.
#include <sys/ptrace.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main() {
    errno = 0;
    ptrace(PTRACE_PEEKUSER, getppid(), nullptr, nullptr);
    const int error = errno;
    std::printf("ptrace: %s\n", std::strerror(error));
    return error == ENOSYS ? 0 : 1;
}
