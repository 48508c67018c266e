// The spin budget of waiters: what the waits that slept teach it.
#include <gtest/gtest.h>

#include "platform/spin_budget.h"

namespace {

using mbus::platform::CSpinBudget;

// A signal within the window starts the spin and doubles it up to the cap; a later one, or a
// time-out, halves it, and under the starting spin it is none.
TEST(SpinBudget, GrowsWithSoonSignalsAndShrinksWithLateOnes) {
    constexpr int64_t kNever = CSpinBudget::kNever;
    const struct {
        int64_t signalledAfter;
        int64_t nanos;
    } steps[] = {
        {100000, 10000},  // within the window: the starting spin
        {0, 20000},       {70000, 40000}, {1, 50000}, {1, 50000},  // doubled up to the cap
        {100001, 25000},  {kNever, 12500},  // a late signal and a time-out halve it
        {kNever, 0},      {kNever, 0},      // under the starting spin: none
        {99999, 10000},   // and back
    };
    CSpinBudget budget;
    EXPECT_EQ(budget.Nanos(), 0);
    for (const auto& step : steps) {
        budget.Learn(step.signalledAfter);
        EXPECT_EQ(budget.Nanos(), step.nanos) << "after a signal " << step.signalledAfter << " ns into the wait";
    }
}

}  // namespace
