// Tick count, thread and process ids, and the login session number.
#include <gtest/gtest.h>

#include "platform/session.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

// Read between two readings of the coarse monotonic clock, the tick count lies between them.
TEST(Clock, TickCountFollowsTheMonotonicClock) {
    const auto milliseconds = [] {
        timespec now;
        clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
        return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    };
    const DWORD before = milliseconds();
    const DWORD tick = GetTickCount();
    const DWORD after = milliseconds();
    EXPECT_LE(tick - before, after - before);  // unsigned differences: correct across the 32-bit wrap
}

// From the kernel on every call, not from a cache a new thread or a forked child would inherit.
TEST(Clock, IdsAreThoseOfTheCallingThreadAndProcess) {
    DWORD other = 0, otherKernel = 0;
    std::thread([&] {
        other = GetCurrentThreadId();
        otherKernel = static_cast<DWORD>(gettid());
    }).join();
    EXPECT_EQ(other, otherKernel);
    EXPECT_NE(other, GetCurrentThreadId());
    EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(gettid()));
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(GetCurrentThreadId() == static_cast<DWORD>(gettid()) && GetCurrentProcessId() == static_cast<DWORD>(getpid()) ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Session, ParsesOnlyAWellFormedNumberBelowTheUnsetValue) {
    const std::pair<const char*, DWORD> cases[] = {
        {"3\n", 3}, {"0", 0}, {"4294967294\n", 4294967294u},
        // Refused, leaving the output alone (77): unset, too large, empty, signs, blanks, junk.
        {"4294967295\n", 77}, {"4294967296", 77}, {"99999999999", 77}, {"", 77}, {"\n", 77},
        {"-1", 77}, {"12a", 77}, {" 1", 77}, {"1\n\n", 77},
    };
    for (const auto& [text, expected] : cases) {
        DWORD session = 77;
        EXPECT_EQ(mbus::platform::ParseSessionId(text, std::strlen(text), &session), expected != 77) << text;
        EXPECT_EQ(session, expected) << text;
    }
}

TEST(Session, ReadsProcAndFailsWithoutAProcess) {
    DWORD session = 77;
    EXPECT_FALSE(ProcessIdToSessionId(GetCurrentProcessId(), nullptr));
    EXPECT_FALSE(ProcessIdToSessionId(0x7FFFFFF0u, &session));
    EXPECT_EQ(session, 77u);
    std::string text;
    std::ifstream("/proc/self/sessionid") >> text;
    DWORD expected = 0;
    bool set = !text.empty() && mbus::platform::ParseSessionId(text.data(), text.size(), &expected);
    EXPECT_EQ(ProcessIdToSessionId(GetCurrentProcessId(), &session), set ? TRUE : FALSE);
    EXPECT_EQ(session, set ? expected : 77u);
}

}  // namespace
