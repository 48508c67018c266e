// CRITICAL_SECTION: a recursive lock on a futex, in the caller's opaque storage. Every object
// of the library carries one and takes it for each operation, so the uncontended path is one
// compare-and-swap to enter and one exchange to leave; initialising and deleting cost nothing.
#include "platform/platform.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <new>

namespace {

struct CRecursiveLock {
    // 0 free, 1 held, 2 held and a thread may be sleeping on it.
    std::atomic<uint32_t> state;
    // Thread id of the holder, 0 when free. Only the holder writes its own id, so a thread
    // that reads its own id holds the lock.
    std::atomic<uint32_t> owner;
    // Nesting depth of the holder; touched by the holder only.
    uint32_t depth;
};

static_assert(sizeof(CRecursiveLock) <= sizeof(CRITICAL_SECTION::opaque), "the lock must fit in CRITICAL_SECTION");
static_assert(alignof(CRecursiveLock) <= alignof(CRITICAL_SECTION), "CRITICAL_SECTION must be aligned for the lock");

constexpr int kSpins = 100;

CRecursiveLock* Lock(CRITICAL_SECTION* section) noexcept {
    return reinterpret_cast<CRecursiveLock*>(section->opaque);
}

void FutexWait(std::atomic<uint32_t>* word, uint32_t value) noexcept {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAIT_PRIVATE, value, nullptr, nullptr, 0);
}

void FutexWakeOne(std::atomic<uint32_t>* word) noexcept {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Spins briefly (holders keep locks for a few instructions), then sleeps, marking the lock
// as having a sleeper so that the holder's leave wakes one.
void AcquireContended(CRecursiveLock* lock) noexcept {
    for (int spin = 0; spin < kSpins; ++spin) {
        uint32_t expected = 0;
        if (lock->state.load(std::memory_order_relaxed) == 0 &&
            lock->state.compare_exchange_weak(expected, 1, std::memory_order_acquire)) {
            return;
        }
        __builtin_ia32_pause();
    }
    while (lock->state.exchange(2, std::memory_order_acquire) != 0) FutexWait(&lock->state, 2);
}

}  // namespace

extern "C" void InitializeCriticalSection(CRITICAL_SECTION* section) noexcept {
    CRecursiveLock* lock = new (section->opaque) CRecursiveLock;
    lock->state.store(0, std::memory_order_relaxed);
    lock->owner.store(0, std::memory_order_relaxed);
    lock->depth = 0;
}

extern "C" void EnterCriticalSection(CRITICAL_SECTION* section) noexcept {
    CRecursiveLock* lock = Lock(section);
    const uint32_t self = GetCurrentThreadId();
    if (lock->owner.load(std::memory_order_relaxed) == self) {
        ++lock->depth;
        return;
    }
    uint32_t expected = 0;
    if (!lock->state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) AcquireContended(lock);
    lock->owner.store(self, std::memory_order_relaxed);
    lock->depth = 1;
}

// A thread that does not hold the lock leaves nothing.
extern "C" void LeaveCriticalSection(CRITICAL_SECTION* section) noexcept {
    CRecursiveLock* lock = Lock(section);
    if (lock->owner.load(std::memory_order_relaxed) != GetCurrentThreadId()) return;
    if (--lock->depth != 0) return;
    lock->owner.store(0, std::memory_order_relaxed);
    if (lock->state.exchange(0, std::memory_order_release) == 2) FutexWakeOne(&lock->state);
}

extern "C" void DeleteCriticalSection(CRITICAL_SECTION*) noexcept {}
