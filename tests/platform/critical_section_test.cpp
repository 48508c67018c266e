#include <gtest/gtest.h>

#include "platform/platform.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace {

TEST(CriticalSection, IsRecursiveAndBlocksOtherThreadsUntilFullyLeft) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    std::atomic<bool> entered{false};
    std::thread other([&] {
        EnterCriticalSection(&section);
        entered.store(true);
        LeaveCriticalSection(&section);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered.load());
    LeaveCriticalSection(&section);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered.load());
    LeaveCriticalSection(&section);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!entered.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(entered.load());
    other.join();
    DeleteCriticalSection(&section);
}

TEST(CriticalSection, ProtectsAnUnsynchronisedCounter) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    long counter = 0;
    auto add = [&] {
        for (int i = 0; i < 100000; ++i) {
            EnterCriticalSection(&section);
            ++counter;
            LeaveCriticalSection(&section);
        }
    };
    std::thread first(add);
    std::thread second(add);
    first.join();
    second.join();
    EXPECT_EQ(counter, 200000);
    DeleteCriticalSection(&section);
}

}  // namespace
