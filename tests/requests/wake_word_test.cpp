// The request queue's sleep: no wake-up is lost between taking a ticket and sleeping on it.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "requests/wake_word.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(WakeWord, AWakeAfterTheTicketEndsTheSleepAtOnceOrLater) {
    CWakeWord word;
    const uint32_t ticket = word.Ticket();
    word.Wake();
    const auto start = Clock::now();
    word.Sleep(ticket, 5000);
    EXPECT_LT(Clock::now() - start, 1000ms) << "a wake before the sleep is not lost";

    std::atomic<bool> woke{false};
    const uint32_t next = word.Ticket();
    std::thread sleeper([&] {
        word.Sleep(next, 5000);
        woke.store(true);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(woke.load());
    word.Wake();
    sleeper.join();
    EXPECT_TRUE(woke.load());
}

TEST(WakeWord, ASleepWithoutWakeEndsAfterItsTime) {
    CWakeWord word;
    const auto start = Clock::now();
    word.Sleep(word.Ticket(), 120);
    const auto slept = Clock::now() - start;
    EXPECT_GE(slept, 100ms);
    EXPECT_LT(slept, 3000ms);
}
