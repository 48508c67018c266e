// Requests are reused by their queue: a reused request carries exactly its own service and
// payload, and every way a request ends gives back its handler's reference and pending count.
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "requests/request_handler.h"
#include "requests/request_queue.h"
#include "requests/request_threads.h"
#include "support/eventually.h"
#include "support/trace_capture.h"


namespace {

struct CSeen {
    std::string service;
    std::string data;
    bool terminated;  // a NUL follows the payload
};

class CCopyingHandler : public CRequestHandler {
public:
    const char* Name() override { return "copier"; }
    bool Request(const char* service, uint32_t, int32_t, const uint8_t* data, uint16_t length) override {
        std::lock_guard<std::mutex> hold(mutex);
        seen.push_back({service, std::string(reinterpret_cast<const char*>(data), length), data[length] == 0});
        return true;
    }
    void OnRequestsDone() override { doneCalls.fetch_add(1); }
    bool WaitFor(size_t count) {
        return Eventually([&] {
            std::lock_guard<std::mutex> hold(mutex);
            return seen.size() >= count && PendingRequests() == 0;
        });
    }

    std::mutex mutex;
    std::vector<CSeen> seen;
    std::atomic<int> doneCalls{0};
};

using RequestReuse = LibraryTest;

}  // namespace

// Rounds of long then short messages: the short ones run in requests that held longer bytes
// (inline and on the heap) in the round before, and must show none of them.
TEST_F(RequestReuse, AReusedRequestCarriesOnlyItsOwnBytes) {
    CRef<CCopyingHandler> handler = CRef<CCopyingHandler>::Adopt(new CCopyingHandler);
    const std::vector<size_t> sizes = {220, 221, 222, 223, 224, 300, 5000, 65535, 0, 1, 17};
    std::vector<std::string> payloads;
    std::vector<std::string> services;
    for (size_t round = 0; round < 3; ++round) {
        for (size_t i = 0; i < sizes.size(); ++i) {
            // Longest first in the first round, shortest first in the others.
            const size_t size = round == 0 ? sizes[i] : sizes[sizes.size() - 1 - i];
            payloads.push_back(std::string(size, static_cast<char>('a' + (i + round) % 26)));
            services.push_back(round == 1 ? "" : std::string(1 + i % 3, 's'));
            const std::string& payload = payloads.back();
            ASSERT_TRUE(PostRequest(true, handler.Get(), round == 1 ? nullptr : services.back().c_str(), 0, 1,
                                    payload.data(), static_cast<uint16_t>(payload.size())));
        }
        ASSERT_TRUE(handler->WaitFor(payloads.size()));
    }
    ASSERT_EQ(handler->seen.size(), payloads.size());
    for (size_t i = 0; i < payloads.size(); ++i) {
        EXPECT_EQ(handler->seen[i].service, services[i]) << "message " << i;
        EXPECT_EQ(handler->seen[i].data, payloads[i]) << "message " << i;
        EXPECT_TRUE(handler->seen[i].terminated) << "message " << i;
    }
    // Once per drain at least; the worker may drain a round before all of it was posted.
    EXPECT_GE(handler->doneCalls.load(), 3);
    EXPECT_EQ(handler->RefCount(), 1u);
}

// A queue that goes with requests in it runs none of them and gives back what they hold.
TEST_F(RequestReuse, AQueueDestroyedWithRequestsGivesBackTheirHandlerReferences) {
    CRef<CCopyingHandler> handler = CRef<CCopyingHandler>::Adopt(new CCopyingHandler);
    CRequestQueue* queue = new CRequestQueue;
    const std::string big(1000, 'b');
    ASSERT_TRUE(queue->Post(handler.Get(), "x", 0, 1, "abc", 3));
    ASSERT_TRUE(queue->Post(handler.Get(), nullptr, 0, 1, big.data(), static_cast<uint16_t>(big.size())));
    ASSERT_TRUE(queue->Post(handler.Get(), "y", 0, 1, nullptr, 0));
    EXPECT_EQ(handler->PendingRequests(), 3u);
    EXPECT_EQ(handler->RefCount(), 4u);
    queue->Release();
    EXPECT_TRUE(handler->seen.empty());
    EXPECT_EQ(handler->PendingRequests(), 0u);
    EXPECT_EQ(handler->RefCount(), 1u);
    EXPECT_EQ(handler->doneCalls.load(), 1);
}

namespace {
// Records the order of requests and batch ends, and what was pending at each batch end.
class CBatchWatcher : public CRequestHandler {
public:
    CBatchWatcher(std::string tag, std::vector<std::string>* log) : tag(std::move(tag)), log(log) {}
    const char* Name() override { return tag.c_str(); }
    bool Request(const char*, uint32_t, int32_t, const uint8_t*, uint16_t) override {
        log->push_back(tag);
        return true;
    }
    void OnBatchDone() override { log->push_back(tag + " done, pending " + std::to_string(PendingRequests())); }
    std::string tag;
    std::vector<std::string>* log;
};
}  // namespace

// A handler hears once per run of its consecutive requests that the run ended, while the last
// request of the run still counts as pending.
TEST_F(RequestReuse, EachRunOfOneHandlerInABatchEndsWithOnBatchDone) {
    std::vector<std::string> log;
    CRef<CBatchWatcher> a = CRef<CBatchWatcher>::Adopt(new CBatchWatcher("a", &log));
    CRef<CBatchWatcher> b = CRef<CBatchWatcher>::Adopt(new CBatchWatcher("b", &log));
    CRef<CRequestQueue> queue = CRef<CRequestQueue>::Adopt(new CRequestQueue);
    for (CBatchWatcher* handler : {a.Get(), a.Get(), b.Get(), a.Get()}) {
        ASSERT_TRUE(queue->Post(handler, "", 0, 1, nullptr, 0));
    }
    std::vector<CRequest*> batch;
    queue->TakeAll(batch);
    RunBatch(batch);
    queue->Recycle(batch);
    const std::vector<std::string> expected = {"a", "a", "a done, pending 2", "b", "b done, pending 1",
                                               "a", "a done, pending 1"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(a->RefCount(), 1u);
    EXPECT_EQ(b->RefCount(), 1u);
}

// Posting races with the end of the threads (the server routine may post while the library
// terminates): a post either reaches a live queue or finds no thread, and every reference comes
// back.
TEST(RequestThreadsLifetime, PostingWhileTheThreadsAreReplacedIsSafe) {
    ASSERT_EQ(MbLibraryInit(), 1);
    CRef<CCopyingHandler> handler = CRef<CCopyingHandler>::Adopt(new CCopyingHandler);
    std::atomic<bool> done{false};
    // In bursts, so that each stop finds the queue drained in time.
    std::thread poster([&] {
        while (!done.load()) {
            for (int i = 0; i < 50; ++i) PostRequest(true, handler.Get(), "s", 0, 1, "x", 1);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    for (int round = 0; round < 40; ++round) {
        EXPECT_TRUE(StopRequestThreads());
        EXPECT_TRUE(StartRequestThreads());
    }
    done.store(true);
    poster.join();
    EXPECT_TRUE(StopRequestThreads());
    EXPECT_EQ(handler->PendingRequests(), 0u);
    EXPECT_EQ(handler->RefCount(), 1u);
    EXPECT_TRUE(StartRequestThreads());
    MbLibraryTerm();
}
