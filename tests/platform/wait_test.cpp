#include <gtest/gtest.h>

#include "platform/platform.h"

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Events closed at the end of the test.
class CEvents {
public:
    CEvents(std::initializer_list<BOOL> manualResets) {
        for (BOOL manual : manualResets)
            handles_.push_back(CreateEventA(nullptr, manual, FALSE, nullptr));
    }
    ~CEvents() {
        for (HANDLE handle : handles_)
            CloseHandle(handle);
    }
    HANDLE operator[](size_t i) const { return handles_[i]; }
    const HANDLE* data() const { return handles_.data(); }
    DWORD size() const { return static_cast<DWORD>(handles_.size()); }

private:
    std::vector<HANDLE> handles_;
};

TEST(Wait, FirstSignalledHandleInListOrderWins) {
    CEvents events{TRUE, TRUE, TRUE};
    SetEvent(events[2]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_OBJECT_0);
}

TEST(Wait, OnlyTheReportedAutoResetEventIsReset) {
    CEvents events{FALSE, FALSE, FALSE};
    SetEvent(events[0]);
    SetEvent(events[2]);
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_TIMEOUT);
}

TEST(Wait, SignalledManualEventAheadKeepsAutoEventBehindUntouched) {
    CEvents events{TRUE, FALSE};
    SetEvent(events[0]);
    SetEvent(events[1]);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_OBJECT_0);
    ResetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_OBJECT_0 + 1);
}

TEST(Wait, BlockedWaitReportsTheEventSetLater) {
    CEvents events{FALSE, FALSE, FALSE};
    std::thread setter([&events] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        SetEvent(events[2]);
    });
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 5000), WAIT_OBJECT_0 + 2);
    setter.join();
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 0), WAIT_TIMEOUT);
}

TEST(Wait, TimeoutLastsAtLeastTheRequestedTime) {
    CEvents events{FALSE, TRUE};
    auto start = Clock::now();
    EXPECT_EQ(WaitForMultipleObjects(events.size(), events.data(), FALSE, 60), WAIT_TIMEOUT);
    auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(60));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2000));
}

TEST(Wait, BadArgumentsFail) {
    CEvents events{FALSE, FALSE};
    SetEvent(events[0]);
    EXPECT_EQ(WaitForMultipleObjects(0, events.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(2, nullptr, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(2, events.data(), TRUE, 0), WAIT_FAILED);
    HANDLE withNull[] = {events[0], nullptr};
    EXPECT_EQ(WaitForMultipleObjects(2, withNull, FALSE, 0), WAIT_FAILED);
    HANDLE twice[] = {events[0], events[0]};
    EXPECT_EQ(WaitForMultipleObjects(2, twice, FALSE, 0), WAIT_FAILED);
    // A failed call consumed nothing.
    EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
}

TEST(Wait, AcceptsUpToSixtyFourHandles) {
    std::vector<HANDLE> handles;
    for (int i = 0; i < 65; ++i)
        handles.push_back(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    SetEvent(handles[63]);
    EXPECT_EQ(WaitForMultipleObjects(65, handles.data(), FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(WaitForMultipleObjects(64, handles.data(), FALSE, 0), WAIT_OBJECT_0 + 63);
    for (HANDLE handle : handles)
        CloseHandle(handle);
}

TEST(Wait, HandleClosedDuringAWaitDoesNotBreakIt) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::thread closer([event] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CloseHandle(event);
    });
    EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
    closer.join();
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
}

// A producer publishes work and sets an auto-reset event; the consumer waits and takes all work
// published so far. Sets coalesce, but a set after the consumer's last look must always wake it:
// a lost wake-up shows as a wait that times out with work pending.
TEST(WaitStress, ProducerConsumerLosesNoWakeUp) {
    constexpr int kItems = 200000;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::mutex mutex;
    int pending = 0;
    std::thread producer([&] {
        for (int i = 0; i < kItems; ++i) {
            {
                std::lock_guard lock(mutex);
                ++pending;
            }
            SetEvent(event);
        }
    });
    int taken = 0;
    int wakeUps = 0;
    while (taken < kItems) {
        ASSERT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0) << "taken " << taken;
        ++wakeUps;
        std::lock_guard lock(mutex);
        taken += pending;
        pending = 0;
    }
    producer.join();
    EXPECT_EQ(taken, kItems);
    EXPECT_LE(wakeUps, kItems);
    CloseHandle(event);
}

// Each set happens while the event is not signalled (the producer waits for the acknowledgement
// first), so each must wake exactly one of the consumers: no more, no fewer.
TEST(WaitStress, EachSignalWakesExactlyOneOfSeveralWaiters) {
    constexpr int kRounds = 5000;
    constexpr int kConsumers = 3;
    HANDLE work = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> wakeUps{0};
    std::atomic<int> finished{0};
    std::vector<std::thread> consumers;
    for (int i = 0; i < kConsumers; ++i)
        consumers.emplace_back([&] {
            while (WaitForSingleObject(work, 10000) == WAIT_OBJECT_0 && !stop.load()) {
                wakeUps.fetch_add(1);
                SetEvent(done);
            }
            finished.fetch_add(1);
        });
    int acknowledged = 0;
    for (int round = 0; round < kRounds; ++round) {
        SetEvent(work);
        if (WaitForSingleObject(done, 5000) != WAIT_OBJECT_0)
            break;
        ++acknowledged;
    }
    EXPECT_EQ(acknowledged, kRounds);
    EXPECT_EQ(WaitForSingleObject(done, 50), WAIT_TIMEOUT);
    EXPECT_EQ(wakeUps.load(), kRounds);
    stop.store(true);
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (finished.load() < kConsumers && Clock::now() < deadline) {
        SetEvent(work);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (auto& consumer : consumers)
        consumer.join();
    CloseHandle(work);
    CloseHandle(done);
}

}  // namespace
