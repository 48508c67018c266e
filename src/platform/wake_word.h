// CWakeWord: how the one consumer of a request queue sleeps and its posters wake it, on a futex
// word of its own. A condition variable costs the woken consumer one more system call on every
// wake-up: it takes its mutex back marked as contended, and its unlock then wakes nobody.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/futex.h"

class CWakeWord {
public:
    // The value to sleep on: read it before the condition is published (under the lock that
    // guards the condition), so that a wake after that point is never missed.
    uint32_t Ticket() const { return word_.load(std::memory_order_acquire); }
    // Sleeps while no Wake came since `ticket` was read, at most `milliseconds`; returns early
    // on a wake, a time-out or a signal.
    void Sleep(uint32_t ticket, uint32_t milliseconds) { FutexWait(word_, ticket, milliseconds); }
    // Ends the current or next Sleep of a ticket read before this call.
    void Wake() {
        word_.fetch_add(1, std::memory_order_release);
        FutexWake(word_, 1);
    }

private:
    std::atomic<uint32_t> word_{0};
};
