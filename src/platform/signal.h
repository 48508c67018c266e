// The signalled state of a waitable object: a flag, a futex word for waiters, and an eventfd
// for callers that poll.
#pragma once

#include <atomic>
#include <cstdint>
#include "platform/mutex.h"
#include "platform/platform.h"
#include "platform/spin_budget.h"

namespace mbus::platform {

// The flag is the state; the eventfd mirrors it for callers that poll, from the first Fd()
// call on. Invariant, held under mutex_ while mirrored_: the eventfd counter is 1 while
// signalled_ is true and 0 while it is false. The flag is raised before the counter and lowered
// after it, so the descriptor is never readable without the flag and a poller woken by it never
// polls again in vain.
//
// Waits for one object sleep on a futex, the change count, which Set() bumps after it left the
// mutex: the woken waiter finds the mutex free. Set() on a signalled object and Reset() on a
// non-signalled one read the flag without the mutex and make no system call. The flag is read
// and cleared with sequentially consistent operations, so a producer that publishes work and
// then calls Set() either sees the flag cleared by a consumer that has not yet looked for that
// work, and signals, or the consumer finds the work.
class CSignal {
public:
    // Throws std::system_error when no eventfd can be made.
    CSignal(bool manualReset, bool initialState);
    ~CSignal();
    CSignal(const CSignal&) = delete;
    CSignal& operator=(const CSignal&) = delete;

    void Set() noexcept;
    void Reset() noexcept;
    // True when signalled. An auto-reset signal is reset by the call that reports it, so of
    // several callers racing for one signal exactly one sees true.
    bool TryAcquire() noexcept;
    bool IsSignalled() const noexcept { return signalled_.load(); }
    // Readable while signalled, from this call on; callers poll it and never read from it.
    int Fd() noexcept;
    // The descriptor applications get: an epoll instance watching Fd(), so it polls readable
    // exactly when Fd() does, while a read() from it fails (EINVAL) and changes nothing. -1 when
    // it cannot be made.
    int PollFd() noexcept;

    // Sleeping until the next Set(): read Changes() before a TryAcquire() that failed, then
    // Sleep() with it; the sleep ends at once when a Set() came in between, else at the next
    // Set(), after milliseconds, or early (callers check again).
    uint32_t Changes() const noexcept { return changes_.load(); }
    void Sleep(uint32_t changes, DWORD milliseconds) noexcept;
    // When the last Set() that found a thread inside Sleep() was made (MonotonicNanos).
    int64_t WokeAt() const noexcept { return wokeAt_.load(std::memory_order_relaxed); }
    // How long waiters spin before they sleep.
    CSpinBudget& Budget() noexcept { return budget_; }

private:
    const bool manualReset_;
    const int fd_;
    std::atomic<bool> signalled_;
    // Whether the eventfd mirrors the flag; guarded by mutex_.
    bool mirrored_ GUARDED_BY(mutex_);
    // PollFd's epoll instance, -1 until made; guarded by mutex_.
    int pollFd_ GUARDED_BY(mutex_) = -1;
    std::atomic<uint32_t> changes_;
    // Threads inside Sleep(); a Set() without any makes no futex call.
    std::atomic<uint32_t> sleepers_;
    std::atomic<int64_t> wokeAt_{0};
    CSpinBudget budget_;
    CMutex mutex_;

    void ChangeLocked(bool signalled) noexcept REQUIRES(mutex_);
    void MirrorLocked() noexcept REQUIRES(mutex_);
    // Makes the descriptor readable; under mutex_, with the counter at 0.
    void RaiseCounter() noexcept REQUIRES(mutex_);
};

}  // namespace mbus::platform
