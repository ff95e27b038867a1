// Started with stdin closed, says whether descriptor 0 is open all the same.
// Under qemu-user through binfmt_misc with the open-binary flag (O), the kernel
// hands the emulator the program file as the lowest free descriptor, so an ARM
// program started with stdin closed finds its own file there: the end-to-end
// cases that close stdin would then see camwatch take those bytes for a key.
#include <sys/stat.h>

#include <cstdio>

int main() {
    struct stat status {};
    if (fstat(0, &status) == 0) {
        std::puts(
            "stdin is open though it was closed: the emulator's binfmt entry has the "
            "open-binary flag; scripts/setup registers it without");
        return 1;
    }
    return 0;
}
