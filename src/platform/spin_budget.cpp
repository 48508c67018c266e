// CSpinBudget: the spin of a waiter, grown and shrunk by the waits that slept.
#include "platform/spin_budget.h"

#include <sched.h>

#include <algorithm>

namespace mbus::platform {

bool CSpinBudget::Usable() noexcept {
    static const bool usable = [] {
        cpu_set_t set;
        return sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 1;
    }();
    return usable;
}

void CSpinBudget::Learn(int64_t signalledAfter) noexcept {
    const int64_t nanos = Nanos();
    int64_t next;
    if (signalledAfter <= kGrowWithinNanos) {
        next = std::clamp(nanos * 2, kStartNanos, kMaxNanos);
    } else {
        next = nanos / 2 < kStartNanos ? 0 : nanos / 2;
    }
    nanos_.store(next, std::memory_order_relaxed);
}

}  // namespace mbus::platform
