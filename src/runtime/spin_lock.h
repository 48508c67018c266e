// CSpinLock: a one-flag lock for holds of a few dozen instructions that never block inside.
// Entering is one exchange and leaving one plain store, against the owner and depth
// bookkeeping of a critical section. A waiter spins, then yields its processor so that a
// holder preempted on a busy machine gets to run.
#pragma once

#include <atomic>
#include <thread>

#include "base/hold.h"

class CAPABILITY("mutex") CSpinLock {
public:
    void Lock() noexcept ACQUIRE() {
        while (held_.exchange(true, std::memory_order_acquire)) WaitUntilFree();
    }
    void Unlock() noexcept RELEASE() { held_.store(false, std::memory_order_release); }

private:
    void WaitUntilFree() noexcept {
        for (unsigned spins = 0; held_.load(std::memory_order_relaxed); ++spins) {
            if (spins < 64) {
                __builtin_ia32_pause();
            } else {
                std::this_thread::yield();
            }
        }
    }

    std::atomic<bool> held_{false};
};

// Holds a spin lock for the lifetime of the scope.
using CSpinHold = CHold<CSpinLock>;
