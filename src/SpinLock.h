#pragma once

#include <atomic>
#include <thread>

// A lock for critical sections of a few instructions, shared with the library's
// threads. std::mutex would do, but the Windows build's compiler (mingw-w64 with
// Windows threads) has none. Use with std::lock_guard.
class SpinLock {
public:
    void lock() noexcept {
        while (held_.test_and_set(std::memory_order_acquire)) {
            std::this_thread::yield();
        }
    }
    void unlock() noexcept { held_.clear(std::memory_order_release); }

private:
    std::atomic_flag held_ = ATOMIC_FLAG_INIT;
};
