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
    for (int held = 2; held > 0; --held) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_FALSE(entered.load()) << "held " << held;
        LeaveCriticalSection(&section);
    }
    other.join();
    EXPECT_TRUE(entered.load());
    DeleteCriticalSection(&section);
}

}  // namespace
