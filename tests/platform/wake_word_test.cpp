// The request queue's sleep: no wake-up is lost between taking a ticket and sleeping on it.
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/wake_word.h"
#include "support/thread_probe.h"

using namespace std::chrono_literals;

// A wake before the sleep ends a sleep without a time-out at once; a wake during it ends it; a
// time-out never ends it early.
TEST(WakeWord, AWakeAfterTheTicketIsNeverLostAndASleepEndsInTime) {
    CWakeWord word;
    for (bool before : {true, false}) {
        SCOPED_TRACE(before ? "woken before the sleep" : "woken during the sleep");
        const uint32_t ticket = word.Ticket();
        if (before) word.Wake();
        std::atomic<bool> woke{false};
        std::atomic<pid_t> sleeperId{0};
        std::thread sleeper([&] {
            sleeperId = gettid();
            word.Sleep(ticket, INFINITE);
            woke.store(true);
        });
        if (!before) {
            // The word is the object's only member: the futex the sleeper waits on is at its address.
            ASSERT_TRUE(WaitsIn(sleeperId, SYS_futex, &word));
            EXPECT_FALSE(woke.load());
            word.Wake();
        }
        EXPECT_TRUE(Eventually([&] { return woke.load(); }));
        word.Wake();  // ends a sleep that lost its wake-up
        sleeper.join();
    }
    const auto start = std::chrono::steady_clock::now();
    word.Sleep(word.Ticket(), 120);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 100ms);
}
