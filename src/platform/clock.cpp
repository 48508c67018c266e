// Tick count, process id and thread id.
#include "platform/monotonic.h"
#include "platform/platform.h"

#include <pthread.h>
#include <time.h>
#include <unistd.h>

constinit thread_local DWORD cachedThreadId __attribute__((tls_model("initial-exec"))) = 0;

namespace {

// fork() gives the calling thread a new id in the child; the child's only thread forgets the
// cached one.
void ForgetThreadIdInChild() noexcept {
    cachedThreadId = 0;
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

extern "C" uint64_t GetMicrosecondCount(void) noexcept {
    return static_cast<uint64_t>(mbus::platform::MonotonicNanos()) / 1000u;
}

extern "C" DWORD FetchCurrentThreadId(void) noexcept {
    static const bool registered = pthread_atfork(nullptr, nullptr, &ForgetThreadIdInChild) == 0;
    (void)registered;
    cachedThreadId = static_cast<DWORD>(gettid());
    return cachedThreadId;
}

// Not cached: a cached value would go stale in a forked child.
extern "C" DWORD GetCurrentProcessId(void) noexcept {
    return static_cast<DWORD>(getpid());
}
