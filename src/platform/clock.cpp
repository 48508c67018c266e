// Tick count, process id and thread id.
#include "platform/platform.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

namespace {

// The calling thread's id, filled on first use: GetCurrentThreadId runs on every object lock.
thread_local DWORD tCachedThreadId = 0;

// fork() gives the calling thread a new id in the child; the child's only thread forgets the
// cached one.
void ForgetThreadIdInChild() noexcept {
    tCachedThreadId = 0;
}

}  // namespace

// The coarse monotonic clock (a few ms resolution) is read on every object lock and unlock; it
// costs a fraction of the precise one, and the only consumer, the 100 ms slow-lock check,
// needs no finer grain.
extern "C" DWORD GetTickCount(void) noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
    return static_cast<DWORD>(milliseconds);
}

extern "C" DWORD GetCurrentThreadId(void) noexcept {
    if (tCachedThreadId == 0) {
        static const bool registered = pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild) == 0;
        (void)registered;
        tCachedThreadId = static_cast<DWORD>(gettid());
    }
    return tCachedThreadId;
}

// Not cached: a cached value would go stale in a forked child.
extern "C" DWORD GetCurrentProcessId(void) noexcept {
    return static_cast<DWORD>(getpid());
}
