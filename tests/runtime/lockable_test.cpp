// Lock ownership checks and slow-lock reports.
#include <cstdio>
#include <cstdlib>

#include "runtime/reports.h"
#include "runtime/tracer.h"
#include "support/eventually.h"
#include "support/trace_capture.h"

namespace {
const char kSlow[] = "held for more than 100 ms";

// On the test's thread the locks' clock stands still until the test moves it; other threads keep
// the real tick count.
thread_local bool tTestThread = false;
thread_local DWORD tTicks = 0;
DWORD TestTicks() noexcept {
    return tTestThread ? tTicks : GetTickCount();
}

class Locks : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        tTestThread = true;
        CLockable::SetTickSource(&TestTicks);
    }
    void TearDown() override {
        CLockable::SetTickSource(&GetTickCount);
        LibraryTest::TearDown();
    }
};

// Exposes the lock word (2 once a thread is about to sleep on the lock), and takes and releases
// the lock the ways the runtime checks must catch or allow (twice on one thread, released by
// another thread), which the compile-time analysis refuses to see.
class CWatchedLock : public CLockable {
public:
    uint32_t State() const { return section_.state.load(); }
    void LockUnchecked() NO_THREAD_SAFETY_ANALYSIS { Lock(); }
    void UnlockUnchecked() NO_THREAD_SAFETY_ANALYSIS { Unlock(); }
};

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
    CWatchedLock object;
    object.LockUnchecked();
    tTicks += 300;
    object.LockUnchecked();
    object.UnlockUnchecked();
    object.UnlockUnchecked();
    EXPECT_EQ(SlowLockMs(), -1) << "the inner Lock restarted the clock";
    for (DWORD held : {20u, 150u}) {
        object.LockUnchecked();
        tTicks += held;
        object.UnlockUnchecked();
    }
    EXPECT_EQ(SlowLockMs(), 150);
}

TEST_F(Locks, UnlockFromAnotherThreadIsRefusedAndTheLockStaysHeld) {
    CWatchedLock object;
    object.LockUnchecked();
    std::thread intruder([&] { object.UnlockUnchecked(); });
    intruder.join();
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: Attempt to unlock accross threads.\n", 18}}));

    std::atomic<bool> acquired{false};
    std::thread waiter([&] {
        object.LockUnchecked();
        acquired = true;
        object.UnlockUnchecked();
    });
    ASSERT_TRUE(Eventually([&] { return object.State() == 2; })) << "the waiter reached the lock";
    EXPECT_FALSE(acquired.load());
    object.UnlockUnchecked();
    waiter.join();
    EXPECT_TRUE(acquired.load());
}

void SlowCallback(const char* text, uint32_t category) {
    tTicks += 120;
    trace_capture::Callback(text, category);
}

TEST_F(Locks, AlwaysSlowCallbackReportsItselfOnlyOnce) {
    MbTracerSet(&SlowCallback);
    ReportError("slow");
    auto records = trace_capture::Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "**Error: slow.\n");
    EXPECT_NE(records[1].text.find(kSlow), std::string::npos);
}

}  // namespace
