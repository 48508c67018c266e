// The request queue's sleep: no wake-up is lost between taking a ticket and sleeping on it.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "platform/wake_word.h"
#include "support/thread_probe.h"

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
    std::atomic<pid_t> sleeperId{0};
    ticket = word.Ticket();
    std::thread sleeper([&] {
        sleeperId = gettid();
        word.Sleep(ticket, 10000);
        woke.store(true);
    });
    ASSERT_TRUE(Eventually([&] { return sleeperId.load() != 0; }));
    // The word is the object's only member: the futex the sleeper waits on is at its address.
    ASSERT_TRUE(WaitsIn(sleeperId, SYS_futex, &word));
    EXPECT_FALSE(woke.load());
    word.Wake();
    sleeper.join();

    start = Clock::now();
    word.Sleep(word.Ticket(), 120);
    EXPECT_GE(Clock::now() - start, 100ms);
}
