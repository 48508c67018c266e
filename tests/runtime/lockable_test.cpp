// Lock ownership checks and slow-lock reports.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "runtime/ref_count.h"
#include "runtime/reports.h"
#include "runtime/tracer.h"
#include "support/trace_capture.h"

using Locks = LibraryTest;
using namespace std::chrono_literals;

namespace {
const char kSlow[] = "held for more than 100 ms";

// Returns the total milliseconds of the only slow-lock report, or -1 when there is none.
int SlowLockMs() {
    int ms = -1;
    for (const TraceRecord& record : trace_capture::Records()) {
        const size_t at = record.text.find("ms. (");
        if (record.text.find(kSlow) == std::string::npos || at == std::string::npos) continue;
        EXPECT_EQ(record.category, 16u);
        EXPECT_EQ(ms, -1) << "more than one slow-lock report";
        ms = std::atoi(record.text.c_str() + at + 5);
    }
    return ms;
}
}  // namespace

TEST_F(Locks, DescribeNamesAddressClassAndCount) {
    CLockable plain;
    CRef<CCountable> counted = CRef<CCountable>::Adopt(new CCountable);
    CStrTracer out(trace::kDiagnostic);
    plain.Describe(out);
    out.Print("|");
    counted->Describe(out);
    char expected[128];
    std::snprintf(expected, sizeof expected, "%p CLockable|%p CCountable (1)", static_cast<void*>(&plain),
                  static_cast<void*>(counted.Get()));
    EXPECT_EQ(out.Text(), expected);
}

TEST_F(Locks, SlowHoldIsReportedOnceAndShortOrRestartedHoldsAreNot) {
    CLockable object;
    object.Lock();
    std::this_thread::sleep_for(300ms);
    object.Lock();
    object.Unlock();
    object.Unlock();
    EXPECT_EQ(SlowLockMs(), -1) << "the inner Lock restarted the clock";
    object.Lock();
    std::this_thread::sleep_for(20ms);
    object.Unlock();
    EXPECT_EQ(SlowLockMs(), -1);
    object.Lock();
    std::this_thread::sleep_for(150ms);
    object.Unlock();
    const int ms = SlowLockMs();
    EXPECT_GE(ms, 140);  // the tick count moves in steps of a few ms
    EXPECT_LT(ms, 1000);
}

TEST_F(Locks, UnlockFromAnotherThreadIsRefusedAndTheLockStaysHeld) {
    CLockable object;
    object.Lock();
    std::thread intruder([&] { object.Unlock(); });
    intruder.join();
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: Attempt to unlock accross threads.\n", 18}}));

    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        object.Lock();
        acquired = true;
        object.Unlock();
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(acquired.load());
    object.Unlock();
    waiter.join();
    EXPECT_TRUE(acquired.load());
}

namespace {
void SlowCallback(const char* text, uint32_t category) {
    std::this_thread::sleep_for(120ms);
    trace_capture::Callback(text, category);
}
}  // namespace

TEST_F(Locks, AlwaysSlowCallbackReportsItselfOnlyOnce) {
    MbTracerSet(&SlowCallback);
    ReportError("slow");
    auto records = trace_capture::Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "**Error: slow.\n");
    EXPECT_NE(records[1].text.find(kSlow), std::string::npos);
}
