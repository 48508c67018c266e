// The slow paths of CRITICAL_SECTION: spinning, sleeping on the futex and waking a sleeper.
#include "platform/futex.h"

namespace {

constexpr int kSpins = 100;

}  // namespace

extern "C" void InitializeCriticalSection(CRITICAL_SECTION* section) noexcept {
    section->state.store(0, std::memory_order_relaxed);
    section->owner.store(0, std::memory_order_relaxed);
    section->depth = 0;
    lock_annotations::Created(section);
}

extern "C" void DeleteCriticalSection(CRITICAL_SECTION* section) noexcept {
    lock_annotations::Destroyed(section);
}

// Spins briefly (holders keep locks for a few instructions), then sleeps, marking the lock
// as having a sleeper so that the holder's leave wakes one.
extern "C" void AcquireContendedCriticalSection(CRITICAL_SECTION* section) noexcept {
    for (int spin = 0; spin < kSpins; ++spin) {
        uint32_t expected = 0;
        if (section->state.load(std::memory_order_relaxed) == 0 &&
            section->state.compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
            return;
        }
        __builtin_ia32_pause();
    }
    while (section->state.exchange(2, std::memory_order_acquire) != 0) {
        FutexWait(section->state, 2, INFINITE);
    }
}

extern "C" void WakeCriticalSectionWaiter(CRITICAL_SECTION* section) noexcept {
    FutexWake(section->state, 1);
}
