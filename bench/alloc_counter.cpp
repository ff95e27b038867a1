// Counts the heap allocations of a whole process, loaded with LD_PRELOAD.
// Every allocating entry point of the C library is wrapped (operator new goes
// through malloc) and counted with one process-wide counter per entry point.
// At exit one line is appended to the file named by ALLOC_COUNTER_OUT:
//   malloc=<n> calloc=<n> realloc=<n> aligned=<n> total=<n>
// Two runs that differ only in the number of frames give allocations per frame.

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// NOLINTBEGIN(bugprone-reserved-identifier,readability-inconsistent-declaration-parameter-name)
extern "C" {
// glibc's own allocator, reached without going back through these wrappers.
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}
// NOLINTEND(bugprone-reserved-identifier,readability-inconsistent-declaration-parameter-name)

namespace {

// Plain atomics: constant-initialised, so counting works before any constructor
// of this library or of the program has run.
std::atomic<unsigned long long> mallocCalls{0};
std::atomic<unsigned long long> callocCalls{0};
std::atomic<unsigned long long> reallocCalls{0};
std::atomic<unsigned long long> alignedCalls{0};

void countCall(std::atomic<unsigned long long>& counter) {
    counter.fetch_add(1, std::memory_order_relaxed);
}

bool isPowerOfTwo(std::size_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

// Formatted on the stack and written with one write(): no allocation, so the
// report does not count itself, and lines of concurrent processes stay whole.
__attribute__((destructor)) void writeCounts() {
    const char* path = std::getenv("ALLOC_COUNTER_OUT");
    if (path == nullptr) {
        return;
    }
    const unsigned long long mallocs = mallocCalls.load();
    const unsigned long long callocs = callocCalls.load();
    const unsigned long long reallocs = reallocCalls.load();
    const unsigned long long aligned = alignedCalls.load();
    std::array<char, 160> line{};
    const int length = std::snprintf(
        line.data(), line.size(), "malloc=%llu calloc=%llu realloc=%llu aligned=%llu total=%llu\n",
        mallocs, callocs, reallocs, aligned, mallocs + callocs + reallocs + aligned);
    if (length <= 0 || static_cast<std::size_t>(length) >= line.size()) {
        return;
    }
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        return;
    }
    if (write(fd, line.data(), static_cast<std::size_t>(length)) != length) {
        constexpr std::string_view kFailed = "alloc_counter: short write of the counts\n";
        if (write(STDERR_FILENO, kFailed.data(), kFailed.size()) < 0) {
            // Nowhere left to tell; the missing line shows in the reader.
        }
    }
    close(fd);
}

}  // namespace

// The C library's declarations name their parameters with reserved names.
// NOLINTBEGIN(readability-inconsistent-declaration-parameter-name)
extern "C" {

void* malloc(std::size_t size) {
    countCall(mallocCalls);
    return __libc_malloc(size);
}

void* calloc(std::size_t members, std::size_t size) {
    countCall(callocCalls);
    return __libc_calloc(members, size);
}

void* realloc(void* pointer, std::size_t size) {
    countCall(reallocCalls);
    return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
    countCall(alignedCalls);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    countCall(alignedCalls);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    countCall(alignedCalls);
    if (!isPowerOfTwo(alignment) || alignment % sizeof(void*) != 0) {
        return EINVAL;
    }
    void* pointer = __libc_memalign(alignment, size);
    if (pointer == nullptr) {
        return ENOMEM;
    }
    *result = pointer;
    return 0;
}

}  // extern "C"
// NOLINTEND(readability-inconsistent-declaration-parameter-name)
