// Nanoseconds of the precise monotonic clock: the one read of it that the platform layer makes,
// for deadlines, spins and GetMicrosecondCount.
#pragma once

#include <time.h>

#include <cstdint>

namespace mbus::platform {

inline int64_t MonotonicNanos() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

}  // namespace mbus::platform
