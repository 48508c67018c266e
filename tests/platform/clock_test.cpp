#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/session.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

using mbus::platform::ParseSessionId;

TEST(Clock, TickCountFollowsTheMonotonicClock) {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    DWORD expected = static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
    DWORD first = GetTickCount();
    EXPECT_LE(first - expected, 50u);  // unsigned difference: correct across the 32-bit wrap
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    DWORD elapsed = GetTickCount() - first;
    EXPECT_GE(elapsed, 90u);  // the coarse clock advances in steps of a few ms
    EXPECT_LT(elapsed, 2000u);
}

TEST(Clock, ThreadIdIsTheKernelIdOfEachThread) {
    EXPECT_EQ(GetCurrentThreadId(), static_cast<DWORD>(gettid()));
    EXPECT_EQ(GetCurrentThreadId(), GetCurrentThreadId());
    DWORD other = 0;
    DWORD otherKernel = 0;
    std::thread([&] {
        other = GetCurrentThreadId();
        otherKernel = static_cast<DWORD>(gettid());
    }).join();
    EXPECT_EQ(other, otherKernel);
    EXPECT_NE(other, GetCurrentThreadId());
}

TEST(Clock, ForkedChildSeesItsOwnIds) {
    DWORD parentThread = GetCurrentThreadId();
    DWORD parentProcess = GetCurrentProcessId();
    EXPECT_EQ(parentProcess, static_cast<DWORD>(getpid()));
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = GetCurrentThreadId() == static_cast<DWORD>(gettid()) && GetCurrentThreadId() != parentThread &&
                  GetCurrentProcessId() == static_cast<DWORD>(getpid()) && GetCurrentProcessId() != parentProcess;
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(Session, ParsesTheKernelsSessionNumber) {
    DWORD session = 77;
    EXPECT_TRUE(ParseSessionId("3\n", 2, &session));
    EXPECT_EQ(session, 3u);
    EXPECT_TRUE(ParseSessionId("0", 1, &session));
    EXPECT_EQ(session, 0u);
    EXPECT_TRUE(ParseSessionId("4294967294\n", 11, &session));
    EXPECT_EQ(session, 4294967294u);
}

TEST(Session, RefusesUnsetAndMalformedNumbers) {
    for (const char* text : {"4294967295\n", "4294967296", "99999999999", "", "\n", "-1", "12a", " 1", "1\n\n"}) {
        DWORD session = 77;
        EXPECT_FALSE(ParseSessionId(text, std::strlen(text), &session)) << text;
        EXPECT_EQ(session, 77u) << text;
    }
}

TEST(Session, ReadsProcAndFailsWithoutAProcess) {
    DWORD session = 77;
    EXPECT_FALSE(ProcessIdToSessionId(GetCurrentProcessId(), nullptr));
    EXPECT_FALSE(ProcessIdToSessionId(0x7FFFFFF0u, &session));
    EXPECT_EQ(session, 77u);

    std::string text;
    std::ifstream(("/proc/" + std::to_string(getpid()) + "/sessionid").c_str()) >> text;
    DWORD expected = 0;
    bool set = !text.empty() && ParseSessionId(text.data(), text.size(), &expected);
    EXPECT_EQ(ProcessIdToSessionId(GetCurrentProcessId(), &session), set ? TRUE : FALSE);
    if (set) {
        EXPECT_EQ(session, expected);
    }
}

}  // namespace
