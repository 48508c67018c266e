// The request queue's sleep: no wake-up is lost between taking a ticket and sleeping on it.
#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/wake_word.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(WakeWord, AWakeAfterTheTicketIsNeverLostAndASleepEndsInTime) {
    CWakeWord word;
    uint32_t ticket = word.Ticket();
    word.Wake();
    auto start = Clock::now();
    word.Sleep(ticket, 5000);
    EXPECT_LT(Clock::now() - start, 1000ms) << "a wake before the sleep is not lost";

    std::atomic<bool> woke{false};
    ticket = word.Ticket();
    std::thread sleeper([&] {
        word.Sleep(ticket, 5000);
        woke.store(true);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(woke.load());
    word.Wake();
    sleeper.join();

    start = Clock::now();
    word.Sleep(word.Ticket(), 120);
    EXPECT_GE(Clock::now() - start, 100ms);
}
