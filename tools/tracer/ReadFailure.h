#pragma once

#include <cstdint>

// Failed frame reads, which the virtual camera cannot produce, on demand:
// with CAMWATCH_TRACE_FAIL_READ=<n> (n >= 1) every n-th oniStreamReadFrame of
// the process, counted over all streams, fails. Unset, empty, zero, negative or
// not a number: no read fails.

// The pointer a failed read leaves in its out-parameter: garbage a correct
// caller never dereferences, holds or releases.
constexpr std::uintptr_t kGarbageFrameAddress = 0xdeadbeef;

// Counts this read and says whether it is one to fail.
bool nextReadShouldFail();

// The period given in the environment, 0 when none (exposed for tests).
long readFailurePeriod(const char* setting);
