// Threads and their handles. Critical sections are exercised through the handle lock tests.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "support/eventually.h"

#include <pthread.h>
#include <unistd.h>

#include <filesystem>

namespace {

// What a started thread saw of itself; it runs until release is set.
struct SThreadProbe {
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool exitEarly = false;
    std::atomic<DWORD> id{0};
    // Set by the thread after its last use of the probe: a thread whose handle was closed
    // first is never joined, and this is what orders its reads before the probe goes.
    std::atomic<bool> finished{false};
    char name[16] = {};
    ~SThreadProbe() { CloseHandle(release); }
};

DWORD ProbeThread(void* parameter) {
    auto* probe = static_cast<SThreadProbe*>(parameter);
    pthread_getname_np(pthread_self(), probe->name, sizeof probe->name);
    probe->id.store(static_cast<DWORD>(gettid()));
    WaitForSingleObject(probe->release, 5000);
    const bool exitEarly = probe->exitEarly;
    probe->finished.store(true);
    if (exitEarly) pthread_exit(nullptr);
    return 0;
}

TEST(Thread, HandleIsSignalledWhenTheThreadEndsAndIsNoEvent) {
    SThreadProbe probe;
    DWORD id = 0;
    HANDLE thread = CreateNamedThread(&ProbeThread, &probe, 0, "mbus-request-thread", &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_FALSE(SetEvent(thread));
    EXPECT_FALSE(ResetEvent(thread));
    EXPECT_EQ(EventGetFd(thread), -1);
    HANDLE both[] = {thread, probe.release};
    // Once it runs, the thread waits for release: its handle cannot be signalled before that.
    ASSERT_TRUE(Eventually([&] { return probe.id.load() != 0; }));
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_TIMEOUT);
    SetEvent(probe.release);
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0);  // stays signalled
    EXPECT_EQ(id, probe.id.load());
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_STREQ(probe.name, "mbus-request-th");  // cut to the kernel's 15 characters
    EXPECT_TRUE(CloseHandle(thread));
    EXPECT_FALSE(CloseHandle(thread));
}

// Also for a thread leaving through pthread_exit, and odd stack sizes.
TEST(Thread, ThreadIsReleasedWhetherItsHandleIsClosedBeforeOrAfterItEnds) {
    // A first thread lets runtimes that add a helper thread of their own (ThreadSanitizer
    // does) add it before anything is counted.
    std::thread([] {}).join();
    const auto tasks = [] { return std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}); };
    for (size_t stackSize : {size_t{0}, size_t{1}, size_t{70001}}) {
        for (bool closeFirst : {true, false}) {
            const auto before = tasks();
            SThreadProbe probe;
            probe.exitEarly = stackSize == 1;
            HANDLE thread = CreateNamedThread(&ProbeThread, &probe, stackSize, nullptr, nullptr);
            ASSERT_NE(thread, nullptr) << stackSize;
            if (closeFirst) {
                EXPECT_TRUE(CloseHandle(thread));
                EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
            }
            SetEvent(probe.release);
            if (!closeFirst) {
                EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
                EXPECT_TRUE(CloseHandle(thread));
            }
            EXPECT_TRUE(Eventually([&] { return probe.finished.load() && tasks() <= before; }))
                << stackSize << (closeFirst ? " closed first" : " closed last");
        }
    }
}

}  // namespace
