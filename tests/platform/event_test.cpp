#include <gtest/gtest.h>

#include "platform/platform.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

bool PollsReadable(HANDLE event) {
    pollfd fd{EventGetFd(event), POLLIN, 0};
    return poll(&fd, 1, 0) == 1 && (fd.revents & POLLIN) != 0;
}

TEST(Event, CreateRefusesAttributesAndNames) {
    int attributes = 0;
    EXPECT_EQ(CreateEventA(&attributes, FALSE, FALSE, nullptr), nullptr);
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "named"), nullptr);
}

TEST(Event, AutoResetIsConsumedByOneWait) {
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_TRUE(SetEvent(event));  // a second set of a signalled event adds nothing
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(Event, ManualResetStaysSignalledUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_TRUE(ResetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

// Runs waiters that each wait once for event, then sets it once and collects their results.
std::vector<DWORD> WaitersAfterOneSet(HANDLE event, int waiters, DWORD timeout) {
    std::vector<DWORD> results(waiters, WAIT_FAILED);
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i)
        threads.emplace_back([&results, event, timeout, i] { results[i] = WaitForSingleObject(event, timeout); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    SetEvent(event);
    for (auto& thread : threads)
        thread.join();
    return results;
}

TEST(Event, OneSetOfAnAutoResetEventWakesOneOfTwoWaiters) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::vector<DWORD> results = WaitersAfterOneSet(event, 2, 300);
    EXPECT_EQ(std::count(results.begin(), results.end(), WAIT_OBJECT_0), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), WAIT_TIMEOUT), 1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(Event, OneSetOfAManualResetEventWakesEveryWaiter) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<DWORD> results = WaitersAfterOneSet(event, 4, 5000);
    EXPECT_EQ(std::count(results.begin(), results.end(), WAIT_OBJECT_0), 4);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    CloseHandle(event);
}

TEST(Event, DescriptorPollsReadableExactlyWhileSignalled) {
    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_GE(EventGetFd(automatic), 0);
    ASSERT_NE(EventGetFd(automatic), EventGetFd(manual));

    EXPECT_TRUE(PollsReadable(automatic));
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_FALSE(PollsReadable(automatic));
    SetEvent(automatic);
    EXPECT_TRUE(PollsReadable(automatic));
    ResetEvent(automatic);
    EXPECT_FALSE(PollsReadable(automatic));

    EXPECT_FALSE(PollsReadable(manual));
    SetEvent(manual);
    EXPECT_TRUE(PollsReadable(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(PollsReadable(manual));
    ResetEvent(manual);
    EXPECT_FALSE(PollsReadable(manual));
    CloseHandle(automatic);
    CloseHandle(manual);
}

// The eventfd counter records how many times it was written since the last read: however many
// threads set an event, it must have been written once.
TEST(Event, SettingASignalledEventWritesNothing) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::vector<std::thread> setters;
    for (int i = 0; i < 4; ++i)
        setters.emplace_back([event] {
            for (int j = 0; j < 1000; ++j)
                SetEvent(event);
        });
    for (auto& setter : setters)
        setter.join();
    eventfd_t writes = 0;
    ASSERT_EQ(eventfd_read(EventGetFd(event), &writes), 0);
    EXPECT_EQ(writes, 1u);
    CloseHandle(event);
}

TEST(Event, ClosedNullAndMadeUpHandlesAreRefused) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_FALSE(SetEvent(event));
    EXPECT_FALSE(ResetEvent(event));
    EXPECT_EQ(EventGetFd(event), -1);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);

    int onStack = 0;
    for (HANDLE bad : {HANDLE{nullptr}, reinterpret_cast<HANDLE>(-1), reinterpret_cast<HANDLE>(0xdeadbeef),
                       static_cast<HANDLE>(&onStack)}) {
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(EventGetFd(bad), -1);
        EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    }
}

TEST(Event, HandleValuesAreNotReused) {
    HANDLE first = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(first);
    HANDLE second = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    EXPECT_NE(first, second);
    EXPECT_FALSE(CloseHandle(first));
    EXPECT_TRUE(SetEvent(second));
    CloseHandle(second);
}

}  // namespace
