// Worker threads: order, payload copies, pending counts, start and stop.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <mbus/mbus.h>

#include "platform/platform.h"
#include "requests/request_handler.h"
#include "requests/request_thread.h"
#include "requests/request_threads.h"
#include "support/messaging_fixture.h"

using namespace std::chrono_literals;

namespace {

struct Seen {
    std::string service;
    uint32_t flags;
    int32_t kind;
    std::string data;
    bool dataWasNull;
    bool operator==(const Seen&) const = default;
};

class CRecordingHandler : public CRequestHandler {
public:
    const char* Name() override { return "recorder"; }
    bool Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) override {
        std::lock_guard<std::mutex> hold(mutex);
        seen.push_back({service, flags, kind, std::string(reinterpret_cast<const char*>(data), length), data == nullptr});
        workerId = GetCurrentThreadId();
        return true;
    }
    void OnRequestsDone() override {
        doneCalls.fetch_add(1);
        doneThreadId = GetCurrentThreadId();
    }
    // Waits until `count` requests were seen and every request object is gone.
    bool WaitFor(size_t count) {
        return Eventually([&] {
            std::lock_guard<std::mutex> hold(mutex);
            return seen.size() >= count && PendingRequests() == 0;
        });
    }

    std::mutex mutex;
    std::vector<Seen> seen;
    std::atomic<int> doneCalls{0};
    std::atomic<DWORD> doneThreadId{0};
    DWORD workerId = 0;
};

using Requests = LibraryTest;
using RequestThread = LibraryTest;

}  // namespace

TEST_F(Requests, RunInPostingOrderWithTheirOwnCopies) {
    CRef<CRecordingHandler> handler = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    std::string big(65535, 'z');
    big[0] = 'a';
    big[65534] = 'b';
    char payload[] = "one";
    ASSERT_TRUE(PostRequest(false, handler.Get(), "svc", 7, 4, payload, 3));
    payload[0] = 'X';  // the request owns a copy
    ASSERT_TRUE(PostRequest(false, handler.Get(), nullptr, 0, 1, nullptr, 10));
    ASSERT_TRUE(PostRequest(false, handler.Get(), "", 1, -2, big.data(), 65535));
    ASSERT_TRUE(handler->WaitFor(3));
    EXPECT_TRUE(handler->seen == (std::vector<Seen>{{"svc", 7, 4, "one", false}, {"", 0, 1, "", false}, {"", 1, -2, big, false}}));
    EXPECT_EQ(handler->RefCount(), 1u) << "every request gave its handler reference back";
}

TEST_F(Requests, PendingCountStaysExactUnderConcurrentPosting) {
    CRef<CRecordingHandler> handler = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    const int perThread = 5000;
    auto post = [&] {
        for (int i = 0; i < perThread; ++i) ASSERT_TRUE(PostRequest(true, handler.Get(), "s", 0, 1, &i, sizeof i));
    };
    std::thread other(post);
    post();
    other.join();
    ASSERT_TRUE(handler->WaitFor(2 * perThread));
    EXPECT_EQ(handler->PendingRequests(), 0u);
    EXPECT_GE(handler->doneCalls.load(), 1);
    EXPECT_EQ(handler->doneThreadId.load(), handler->workerId) << "OnRequestsDone runs on the worker";
    EXPECT_EQ(handler->RefCount(), 1u);
}

TEST_F(Requests, RequestsDoneOnceForEachDrain) {
    CRef<CRecordingHandler> handler = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(PostRequest(false, handler.Get(), "a", 0, 0, nullptr, 0));
        ASSERT_TRUE(handler->WaitFor(static_cast<size_t>(round)));
        EXPECT_EQ(handler->doneCalls.load(), round);
    }
}

namespace {
// Holds the worker in each request until released.
class CBlockingHandler : public CRequestHandler {
public:
    const char* Name() override { return "blocker"; }
    bool Request(const char*, uint32_t, int32_t, const uint8_t*, uint16_t) override {
        started.store(true);
        while (!released.load()) std::this_thread::sleep_for(1ms);
        runs.fetch_add(1);
        return true;
    }
    std::atomic<bool> started{false};
    std::atomic<bool> released{false};
    std::atomic<uint32_t> runs{0};
};
}  // namespace

// Each pending request holds a handler reference in a 16-bit count: past the limit a post is
// refused instead of wrapping the count (which would free the handler under its requests).
TEST_F(Requests, AHandlerTakesNoMoreThanTheMostPendingRequests) {
    CRef<CBlockingHandler> handler = CRef<CBlockingHandler>::Adopt(new CBlockingHandler);
    ASSERT_TRUE(PostRequest(false, handler.Get(), "", 0, 0, nullptr, 0));
    ASSERT_TRUE(Eventually([&] { return handler->started.load(); }));
    for (uint32_t i = 1; i < kMaxPendingRequests; ++i) ASSERT_TRUE(PostRequest(false, handler.Get(), "", 0, 0, nullptr, 0));
    EXPECT_EQ(handler->PendingRequests(), kMaxPendingRequests);
    EXPECT_FALSE(PostRequest(false, handler.Get(), "s", 0, 1, "x", 1));
    EXPECT_FALSE(PostRequest(true, handler.Get(), "s", 0, 1, "x", 1)) << "the limit holds on either thread";
    EXPECT_EQ(handler->PendingRequests(), kMaxPendingRequests) << "a refused post leaves nothing behind";
    EXPECT_EQ(handler->RefCount(), 1 + kMaxPendingRequests);

    handler->released.store(true);
    ASSERT_TRUE(Eventually([&] { return handler->PendingRequests() == 0; }, 20000));
    EXPECT_EQ(handler->runs.load(), kMaxPendingRequests);
    ASSERT_TRUE(PostRequest(false, handler.Get(), "", 0, 0, nullptr, 0)) << "posting works again once drained";
    ASSERT_TRUE(Eventually([&] { return handler->PendingRequests() == 0; }));
    EXPECT_EQ(handler->RefCount(), 1u);
}

TEST_F(RequestThread, StartAndStopRefuseTheWrongState) {
    std::atomic<CRequestThread*> slot{nullptr};
    CRequestThread* thread = new CRequestThread(&slot);
    EXPECT_EQ(slot.load(), thread);
    EXPECT_FALSE(thread->Stop());
    EXPECT_TRUE(thread->Start());
    EXPECT_FALSE(thread->Start());
    EXPECT_TRUE(thread->Stop());
    EXPECT_TRUE(thread->Start()) << "a stopped thread object can run again";
    EXPECT_TRUE(thread->Stop());
    thread->Release();
    EXPECT_EQ(slot.load(), nullptr);
}

// Requests queued before Stop still run, then the worker ends: Stop interrupts a busy worker
// without cutting its queue short.
TEST_F(RequestThread, StopRunsWhatWasQueuedBeforeIt) {
    std::atomic<CRequestThread*> slot{nullptr};
    CRequestThread* thread = new CRequestThread(&slot);
    ASSERT_TRUE(thread->Start());
    CBlockingHandler* handler = new CBlockingHandler;
    ASSERT_TRUE(thread->Queue().Post(handler, "", 0, 0, nullptr, 0));
    ASSERT_TRUE(Eventually([&] { return handler->started.load(); }));
    // Queued while the worker is busy: the stop comes while they wait.
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(thread->Queue().Post(handler, "", 0, 0, nullptr, 0));
    std::atomic<int> stopped{-1};
    std::thread stopper([&] { stopped.store(thread->Stop() ? 1 : 0); });
    std::this_thread::sleep_for(50ms);
    handler->released.store(true);
    stopper.join();
    EXPECT_EQ(stopped.load(), 1);
    EXPECT_EQ(handler->runs.load(), 3u);
    EXPECT_EQ(handler->PendingRequests(), 0u);
    EXPECT_TRUE(thread->Start()) << "and the thread object runs again";
    ASSERT_TRUE(thread->Queue().Post(handler, "", 0, 0, nullptr, 0));
    EXPECT_TRUE(Eventually([&] { return handler->runs.load() == 4; }));
    EXPECT_TRUE(thread->Stop());
    thread->Release();
    handler->Release();
}

namespace {
class CSelfStopper : public CRequestHandler {
public:
    explicit CSelfStopper(CRequestThread* thread) : thread(thread) {}
    const char* Name() override { return "stopper"; }
    bool Request(const char*, uint32_t, int32_t, const uint8_t*, uint16_t) override {
        result = thread->Stop() ? 1 : 0;
        return true;
    }
    CRequestThread* thread;
    std::atomic<int> result{-1};
};
}  // namespace

TEST_F(RequestThread, StopFromTheWorkerItselfGivesUpAfterFiveSeconds) {
    std::atomic<CRequestThread*> slot{nullptr};
    CRequestThread* thread = new CRequestThread(&slot);
    ASSERT_TRUE(thread->Start());
    CSelfStopper* stopper = new CSelfStopper(thread);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(thread->Queue().Post(stopper, "", 0, 0, nullptr, 0));
    ASSERT_TRUE(Eventually([&] { return stopper->result.load() != -1; }, 10000));
    EXPECT_EQ(stopper->result.load(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
    // The worker still holds its own reference: the object goes when the worker ends.
    thread->Release();
    EXPECT_TRUE(Eventually([&] { return slot.load() == nullptr; }, 10000));
    stopper->Release();
}

TEST(RequestThreads, PostingWithoutTheLibraryQueuesNothing) {
    CRecordingHandler handler;  // untracked: no library
    EXPECT_TRUE(PostRequest(false, &handler, "x", 0, 0, nullptr, 0));
    EXPECT_TRUE(PostRequest(true, &handler, "x", 0, 0, nullptr, 0));
    EXPECT_EQ(handler.PendingRequests(), 0u);
}
