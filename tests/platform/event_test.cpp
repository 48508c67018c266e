// Events and the waits on them: reset semantics, the descriptor, list order, concurrency.
#include <gtest/gtest.h>

#include "platform/handle.h"
#include "support/thread_probe.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <vector>

namespace {

using namespace std::chrono_literals;

// Events of the given reset kinds, closed at the end of the test.
struct CEvents : std::vector<HANDLE> {
    explicit CEvents(const std::vector<BOOL>& manualResets) {
        for (BOOL manual : manualResets) push_back(CreateEventA(nullptr, manual, FALSE, nullptr));
    }
    ~CEvents() {
        for (HANDLE handle : *this) CloseHandle(handle);
    }
    DWORD Wait(DWORD timeout = 0) const { return WaitForMultipleObjects(size(), data(), FALSE, timeout); }
};

bool PollsReadable(HANDLE event) {
    pollfd fd{EventGetFd(event), POLLIN, 0};
    return poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

// The state seen through a zero wait must agree with the descriptor's readability.
void ExpectSignalled(HANDLE event, bool signalled, bool consumedByWait) {
    EXPECT_EQ(PollsReadable(event), signalled);
    EXPECT_EQ(WaitForSingleObject(event, 0), signalled ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    EXPECT_EQ(PollsReadable(event), signalled && !consumedByWait);
}

// A descriptor asked for after the event was set is readable at once, until a wait takes it. An
// application that reads from the descriptor it polls changes nothing: the read fails, the
// descriptor stays readable while the event is signalled, and a reset still clears it.
TEST(Event, ResetSemanticsShowOnTheDescriptorWhateverReadsIt) {
    CEvents events({FALSE, TRUE, FALSE});
    EXPECT_TRUE(SetEvent(events[2]));
    ExpectSignalled(events[2], true, true);
    for (bool manual : {false, true}) {
        SCOPED_TRACE(manual ? "manual" : "auto");
        HANDLE event = events[manual];
        ExpectSignalled(event, false, false);
        EXPECT_TRUE(SetEvent(event));
        EXPECT_TRUE(SetEvent(event));  // a second set of a signalled event adds nothing
        ExpectSignalled(event, true, !manual);
        ExpectSignalled(event, manual, !manual);
        EXPECT_TRUE(SetEvent(event));
        const int fd = EventGetFd(event);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(EventGetFd(event), fd) << "one descriptor per event";
        uint64_t value = 0;
        EXPECT_EQ(read(fd, &value, sizeof value), -1);
        ExpectSignalled(event, true, !manual);
        EXPECT_TRUE(SetEvent(event));
        EXPECT_TRUE(ResetEvent(event));
        ExpectSignalled(event, false, false);
    }
}

// However many threads set an event, its own eventfd (behind the descriptor applications get)
// was written once.
TEST(Event, SettingASignalledEventWritesNothing) {
    CEvents events({FALSE});
    std::vector<std::thread> setters;
    for (int i = 0; i < 4; ++i)
        setters.emplace_back([&events] {
            for (int j = 0; j < 1000; ++j) SetEvent(events[0]);
        });
    for (auto& setter : setters) setter.join();
    using mbus::platform::CHandleObject;
    int fd = -1;
    mbus::platform::CHandleTable::Instance().Visit(events[0], CHandleObject::EKind::Event,
                                                   [&fd](CHandleObject& object) { fd = object.Signal().Fd(); });
    eventfd_t writes = 0;
    ASSERT_EQ(eventfd_read(fd, &writes), 0);
    EXPECT_EQ(writes, 1u);
}

TEST(Event, BadArgumentsAndStaleHandlesAreRefused) {
    int onStack = 0;
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "named"), nullptr);
    HANDLE closed = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(CloseHandle(closed));
    CEvents fresh({TRUE});
    EXPECT_NE(fresh[0], closed);  // handle values are not reused
    for (HANDLE bad : {closed, HANDLE{nullptr}, reinterpret_cast<HANDLE>(-1), static_cast<HANDLE>(&onStack)}) {
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(EventGetFd(bad), -1);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    }
}

TEST(Wait, FirstSignalledInListOrderWinsAndOnlyItIsReset) {
    CEvents events({FALSE, TRUE, FALSE});
    SetEvent(events[2]);
    SetEvent(events[0]);
    EXPECT_EQ(events.Wait(), WAIT_OBJECT_0);
    EXPECT_EQ(events.Wait(), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(events.Wait(), WAIT_TIMEOUT);
    // A signalled manual-reset event ahead keeps winning and leaves the auto-reset one behind it.
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(events.Wait(), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(events.Wait(), WAIT_OBJECT_0 + 1);
    ResetEvent(events[1]);
    EXPECT_EQ(events.Wait(), WAIT_OBJECT_0 + 2);
}

// A wait times out no sooner than asked; a handle closed while a wait on it runs does not break
// that wait, it only fails later waits.
TEST(Wait, TimesOutInTimeAndOutlivesAHandleClosedUnderIt) {
    CEvents events({FALSE, FALSE});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(events.Wait(30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
    std::atomic<pid_t> waiter{0};
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        waiter = gettid();
        result = events.Wait(10000);
    });
    ASSERT_TRUE(WaitsIn(waiter, SYS_ppoll));
    EXPECT_TRUE(CloseHandle(events[1]));
    SetEvent(events[0]);
    other.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(events[1], 0), WAIT_FAILED);
}

// Waits that time out take the spin away, and a late signal to a sleeping waiter keeps it away;
// a wait with a time-out of 0 leaves it alone. A Set() that wakes a sleeper stamps its time.
TEST(Wait, LateSignalsTakeTheSpinAwayAndPollsLeaveIt) {
    using mbus::platform::CSpinBudget;
    CEvents events({FALSE});
    mbus::platform::CSignal& signal = mbus::platform::CHandleTable::Instance().Find(events[0])->Signal();
    CSpinBudget& budget = signal.Budget();
    for (int i = 0; i < 4; ++i) budget.Learn(0);
    ASSERT_EQ(budget.Nanos(), CSpinBudget::kMaxNanos);
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_TIMEOUT);
    EXPECT_EQ(budget.Nanos(), CSpinBudget::kMaxNanos);
    EXPECT_EQ(WaitForSingleObject(events[0], 1), WAIT_TIMEOUT);
    EXPECT_EQ(budget.Nanos(), CSpinBudget::kMaxNanos / 2);

    const int64_t before = signal.WokeAt();
    std::atomic<pid_t> waiter{0};
    DWORD result = WAIT_FAILED;
    std::thread other([&] {
        waiter = gettid();
        result = WaitForSingleObject(events[0], 10000);
    });
    ASSERT_TRUE(WaitsIn(waiter, SYS_futex));
    SetEvent(events[0]);
    other.join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_GT(signal.WokeAt(), before);
    EXPECT_EQ(budget.Nanos(), CSpinBudget::kMaxNanos / 4);
}

TEST(Wait, BadListsFailAndConsumeNothing) {
    CEvents handles(std::vector<BOOL>(65, FALSE));
    SetEvent(handles[0]);
    EXPECT_EQ(WaitForMultipleObjects(65, handles.data(), FALSE, 0), WAIT_FAILED);
    HANDLE twice[] = {handles[0], handles[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForSingleObject(handles[0], 0), WAIT_OBJECT_0);
    SetEvent(handles[63]);
    EXPECT_EQ(WaitForMultipleObjects(64, handles.data(), FALSE, 0), WAIT_OBJECT_0 + 63);
}

// Ends waiters that a lost wake-up left asleep, after a failure: every change of an event wakes
// its sleepers, and a reset first makes a signalled event change again.
void Rouse(const CEvents& events, const std::atomic<int>& ended, int waiters) {
    while (ended < waiters) {
        for (HANDLE event : events) {
            ResetEvent(event);
            SetEvent(event);
        }
        std::this_thread::yield();
    }
}

// Sets coalesce, but a set after the consumer's last look must wake it. The consumer waits
// without a time-out, so a lost wake-up leaves it asleep for good.
TEST(WaitStress, ProducerConsumerLosesNoWakeUp) {
    constexpr int kItems = 200000;
    CEvents events({FALSE});
    std::atomic<int> pending{0}, taken{0}, ended{0};
    std::thread consumer([&] {
        while (taken < kItems && WaitForSingleObject(events[0], INFINITE) == WAIT_OBJECT_0) taken += pending.exchange(0);
        ended = 1;
    });
    for (int i = 0; i < kItems; ++i) {
        pending.fetch_add(1);
        SetEvent(events[0]);
    }
    EXPECT_TRUE(Eventually([&] { return taken == kItems; }, 60000)) << "a wake-up was lost: taken " << taken.load();
    taken = kItems;
    Rouse(events, ended, 1);
    consumer.join();
}

// Each set of the work event (never while signalled) wakes exactly one consumer, whether the
// consumers wait for it alone or in a list; then every consumer is stopped. They wait without a
// time-out, so a lost wake-up leaves a round unacknowledged.
TEST(WaitStress, EachSignalWakesExactlyOneOfSeveralWaiters) {
    constexpr int kRounds = 5000;
    for (bool alone : {true, false}) {
        SCOPED_TRACE(alone ? "waits for the work event alone" : "waits for work or stop");
        CEvents events({FALSE, FALSE, TRUE});  // work, done, stop
        std::atomic<int> wakeUps{0}, stopped{0}, ended{0};
        std::atomic<bool> stopping{false};
        std::vector<std::thread> consumers;
        for (int i = 0; i < 3; ++i)
            consumers.emplace_back([&] {
                HANDLE workOrStop[] = {events[0], events[2]};
                DWORD result;
                while ((result = alone ? WaitForSingleObject(events[0], INFINITE) : WaitForMultipleObjects(2, workOrStop, FALSE, INFINITE)) ==
                           WAIT_OBJECT_0 &&
                       !stopping) {
                    wakeUps.fetch_add(1);
                    SetEvent(events[1]);
                }
                stopped += result == WAIT_OBJECT_0 + (alone ? 0 : 1);
                if (alone) SetEvent(events[1]);
                ++ended;
            });
        int acknowledged = 0;
        while (acknowledged < kRounds && SetEvent(events[0]) && WaitForSingleObject(events[1], 10000) == WAIT_OBJECT_0)
            ++acknowledged;
        EXPECT_EQ(acknowledged, kRounds);
        stopping = true;
        for (int i = 0; alone && i < 3; ++i) {
            SetEvent(events[0]);
            EXPECT_EQ(WaitForSingleObject(events[1], 10000), WAIT_OBJECT_0);
        }
        SetEvent(events[2]);
        if (::testing::Test::HasFailure()) Rouse(events, ended, 3);
        for (auto& consumer : consumers) consumer.join();
        // A surplus wake-up before the stop shows here, one after it as a consumer gone early.
        EXPECT_EQ(wakeUps.load(), kRounds);
        EXPECT_EQ(stopped.load(), 3);
    }
}

}  // namespace
