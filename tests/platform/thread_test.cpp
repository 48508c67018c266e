#include <gtest/gtest.h>

#include "platform/platform.h"

#include <dirent.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

// What a started thread saw of itself; it runs until release is set.
struct SThreadProbe {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> id{0};
    char name[16] = {};
    ~SThreadProbe() { CloseHandle(release); }
};

DWORD ProbeThread(void* parameter) {
    auto* probe = static_cast<SThreadProbe*>(parameter);
    pthread_getname_np(pthread_self(), probe->name, sizeof probe->name);
    probe->id.store(static_cast<DWORD>(gettid()));
    WaitForSingleObject(probe->release, 5000);
    return 0;
}

int TaskCount() {
    int count = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks))
            count += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return count;
}

// Waits until the process is back to count threads, so a test knows a detached thread is gone.
bool TaskCountReturnsTo(int count) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (TaskCount() != count) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(Thread, HandleIsSignalledWhenTheThreadEnds) {
    SThreadProbe probe;
    DWORD id = 0;
    HANDLE thread = CreateNamedThread(&ProbeThread, &probe, 0, "probe", &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 50), WAIT_TIMEOUT);
    SetEvent(probe.release);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_EQ(id, probe.id.load());
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
}

TEST(Thread, NameIsCutToFifteenCharacters) {
    SThreadProbe probe;
    SetEvent(probe.release);
    HANDLE thread = CreateNamedThread(&ProbeThread, &probe, 0, "mbus-request-thread", nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_STREQ(probe.name, "mbus-request-th");
    CloseHandle(thread);
}

TEST(Thread, HandleClosedBeforeTheEndReleasesTheThread) {
    int before = TaskCount();
    SThreadProbe probe;
    HANDLE thread = CreateNamedThread(&ProbeThread, &probe, 0, "early-close", nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    SetEvent(probe.release);
    EXPECT_TRUE(TaskCountReturnsTo(before));
}

TEST(Thread, HandleClosedAfterTheEndReleasesTheThread) {
    int before = TaskCount();
    SThreadProbe probe;
    SetEvent(probe.release);
    HANDLE thread = CreateNamedThread(&ProbeThread, &probe, 0, "late-close", nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_TRUE(TaskCountReturnsTo(before));
}

DWORD ExitEarly(void*) {
    pthread_exit(nullptr);
}

TEST(Thread, HandleIsSignalledWhenTheThreadExitsEarly) {
    HANDLE thread = CreateNamedThread(&ExitEarly, nullptr, 0, nullptr, nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(Thread, StackSizeIsRoundedUpToWhatTheSystemAccepts) {
    for (size_t stackSize : {size_t{1}, size_t{70001}, size_t{1} << 20}) {
        SThreadProbe probe;
        SetEvent(probe.release);
        HANDLE thread = CreateNamedThread(&ProbeThread, &probe, stackSize, "stack", nullptr);
        ASSERT_NE(thread, nullptr) << stackSize;
        EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        CloseHandle(thread);
    }
}

TEST(Thread, ThreadHandleIsNoEvent) {
    SThreadProbe probe;
    HANDLE thread = CreateNamedThread(&ProbeThread, &probe, 0, "not-event", nullptr);
    EXPECT_FALSE(SetEvent(thread));
    EXPECT_FALSE(ResetEvent(thread));
    EXPECT_EQ(EventGetFd(thread), -1);
    HANDLE both[] = {thread, probe.release};
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(probe.release);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);
    CloseHandle(thread);
}

TEST(Thread, NullProcedureIsRefused) {
    EXPECT_EQ(CreateNamedThread(nullptr, nullptr, 0, "none", nullptr), nullptr);
}

}  // namespace
