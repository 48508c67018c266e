// CSpinBudget: how long a thread that waits on one object spins before it sleeps.
//
// Where idle processors halt (as virtual ones without guest halt polling do), a thread woken
// on another processor starts some 20 µs after the wake-up call. A waiter still spinning when
// the signal comes takes it at once, and its busy processor leads the scheduler to run the
// waker's next wake-up beside the waker instead of on a halted processor. The spin yields
// between its looks, so that such a thread runs at once. Spinning costs the waiter's processor
// the time it spins, so the budget follows the waits that slept, the way guest halt polling
// adapts:
// - a wait whose signal came within kGrowWithinNanos of its start doubles the budget (from
//   kStartNanos), up to kMaxNanos;
// - a wait whose signal came later, or that timed out, halves it; under kStartNanos it is 0.
// The window is wider than the largest spin: a waiter that sleeps is woken late, and a later
// wake-up of the other side's threads lengthens its next waits (a query answered in 35 µs by
// spinning waiters takes 60 µs or more between sleeping ones).
// A wait that took its signal while spinning leaves the budget as it is. Waiters on one object
// share its budget; races between them lose an update at most.
#pragma once

#include <atomic>
#include <cstdint>

namespace mbus::platform {

class CSpinBudget {
public:
    static constexpr int64_t kStartNanos = 10000;
    static constexpr int64_t kMaxNanos = 50000;
    static constexpr int64_t kGrowWithinNanos = 100000;
    // Learn() for a wait that timed out.
    static constexpr int64_t kNever = INT64_MAX;

    // False when the process may run on one processor only (read once, at the first wait): the
    // spinning waiter would then hold off the very thread that is to signal it.
    static bool Usable() noexcept;

    int64_t Nanos() const noexcept { return nanos_.load(std::memory_order_relaxed); }
    // A wait slept, and its signal came signalledAfter ns after the wait began (kNever: none).
    void Learn(int64_t signalledAfter) noexcept;

private:
    std::atomic<int64_t> nanos_{0};
};

}  // namespace mbus::platform
