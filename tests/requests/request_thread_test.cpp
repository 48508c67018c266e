// Worker threads: order, payload copies, pending counts, failures, start and stop.
#include <algorithm>
#include <functional>
#include <mutex>
#include <stdexcept>

#include "requests/gathered_posts.h"
#include "requests/request.h"
#include "requests/request_handler.h"
#include "requests/request_threads.h"
#include "support/messaging_fixture.h"

using namespace std::chrono_literals;

namespace {

struct Seen {
    std::string service;
    uint32_t flags;
    int32_t kind;
    std::string data;
    bool dataWasNull = false;
    bool terminated = true;  // a NUL follows the payload
    bool operator==(const Seen&) const = default;
};

// Records every request, and with a log its tag for each request and each batch end; while hold is
// set the worker waits in each; hook runs before recording.
class CRecordingHandler : public CRequestHandler {
public:
    const char* Name() override { return tag.c_str(); }
    bool Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) override {
        started.store(true);
        while (hold.load()) std::this_thread::sleep_for(1ms);
        if (hook) hook();
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back({service, flags, kind, std::string(reinterpret_cast<const char*>(data), length), data == nullptr,
                        data == nullptr || data[length] == 0});
        workerId = GetCurrentThreadId();
        if (log != nullptr) log->push_back(tag);
        return true;
    }
    void OnBatchDone() override {
        if (log != nullptr) log->push_back(tag + " done, pending " + std::to_string(PendingRequests()));
    }
    void OnRequestsDone() override {
        doneCalls.fetch_add(1);
        doneThreadId = GetCurrentThreadId();
    }
    size_t Runs() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    }
    // Waits until count requests ran and every request object is gone.
    bool WaitFor(size_t count, unsigned timeoutMs = 5000) {
        return Eventually([&] { return Runs() >= count && PendingRequests() == 0; }, timeoutMs);
    }
    // Waits until the last pending request gave back the group's reference.
    bool WaitReleased() { return Eventually([&] { return doneCalls.load() >= 1 && RefCount() == 1; }); }

    std::mutex mutex;
    std::vector<Seen> seen;
    std::atomic<bool> started{false}, hold{false};
    std::function<void()> hook;
    std::atomic<int> doneCalls{0};
    std::atomic<DWORD> doneThreadId{0};
    DWORD workerId = 0;
    std::string tag = "recorder";
    std::vector<std::string>* log = nullptr;
};

class Requests : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        handler_ = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    }
    void TearDown() override {
        EXPECT_EQ(handler_->RefCount(), 1u) << "every request gave its handler reference back";
        handler_.Reset();
        LibraryTest::TearDown();
    }
    bool Post(bool toSink = false, const char* service = "", const void* data = nullptr, uint16_t length = 0) {
        return PostRequest(toSink, handler_.Get(), service, 0, 1, data, length);
    }
    CRef<CRecordingHandler> handler_;
    // A payload too large to share a request: each message of it is a request of its own.
    const std::string alone_ = std::string(300, 'l');
};

// A request thread object of the test's own, started.
class RequestThread : public Requests {
protected:
    void SetUp() override {
        Requests::SetUp();
        thread_ = new CRequestThread(&slot_);
        EXPECT_EQ(slot_.load(), thread_);
        EXPECT_FALSE(thread_->Stop()) << "nothing to stop yet";
        ASSERT_TRUE(thread_->Start());
    }
    bool Post() { return thread_->Queue().Post(handler_.Get(), "", 0, 0, nullptr, 0); }
    std::atomic<CRequestThread*> slot_{nullptr};
    CRequestThread* thread_ = nullptr;
};

TEST_F(Requests, EachDrainEndsOnceOnTheWorker) {
    for (int drain = 1; drain <= 3; ++drain) {
        ASSERT_TRUE(Post());
        ASSERT_TRUE(Eventually([&] { return handler_->doneCalls.load() == drain; }));
        EXPECT_EQ(handler_->doneThreadId.load(), handler_->workerId) << "OnRequestsDone runs on the worker";
    }
}

// An incoming message runs on the transport's own thread only while the sink thread is idle
// with nothing queued; else it is queued behind what waits, and so is one that defers itself.
TEST_F(Requests, AMessageRunsOnTheCallingThreadOnlyWhileTheSinkThreadIsIdle) {
    const DWORD self = GetCurrentThreadId();
    const uint8_t bytes[4] = {'a', 'b', 'c', 'd'};  // the caller's own bytes, no NUL behind the three
    ASSERT_TRUE(RunOrPostRequest(true, handler_.Get(), "svc", 5, 2, bytes, 3, nullptr, nullptr));
    EXPECT_EQ(handler_->Runs(), 1u) << "ran before the call returned";
    EXPECT_EQ(handler_->workerId, self);
    EXPECT_EQ(handler_->seen[0].data, "abc");
    handler_->hold.store(true);
    ASSERT_TRUE(Post(true, "first"));
    ASSERT_TRUE(Eventually([&] { return handler_->started.load(); }));
    ASSERT_TRUE(RunOrPostRequest(true, handler_.Get(), "second", 0, 1, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(handler_->Runs(), 1u) << "queued behind the running request";
    handler_->hold.store(false);
    ASSERT_TRUE(handler_->WaitFor(3));
    EXPECT_NE(handler_->workerId, self);
    EXPECT_EQ(handler_->seen[2].service, "second");
    bool deferred = false;
    handler_->hook = [&] {
        if (CRequestThread::DeferToWorker()) deferred = CRequestThread::InlineDeferred();
    };
    ASSERT_TRUE(RunOrPostRequest(true, handler_.Get(), "third", 0, 1, nullptr, 0, nullptr, nullptr));
    EXPECT_TRUE(deferred);
    ASSERT_TRUE(handler_->WaitFor(5));
    EXPECT_NE(handler_->workerId, self) << "the deferred request ran again on the worker";
    EXPECT_FALSE(CRequestThread::InlineDeferred()) << "outside a run";
}

// A request run inline may post again: to the thread it runs for, it is queued (this thread
// holds that thread's run lock); to the other thread, it runs inline too, and the outer run is
// still inline when that one ends.
TEST_F(Requests, AnInlineRunThatPostsQueuesOnItsOwnThreadAndRunsInlineOnTheOther) {
    const DWORD self = GetCurrentThreadId();
    const CRef<CRecordingHandler> inner = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    int hooked = 0;
    bool innerRanHere = false, stillInline = false;
    handler_->hook = [&] {
        if (hooked++ > 0) return;
        EXPECT_TRUE(RunOrPostRequest(false, inner.Get(), "out", 0, 1, nullptr, 0));
        innerRanHere = inner->Runs() == 1 && inner->workerId == self;
        stillInline = CRequestThread::InInlineRun() && !CRequestThread::InlineDeferred();
        EXPECT_TRUE(RunOrPostRequest(true, handler_.Get(), "again", 0, 1, nullptr, 0));
    };
    ASSERT_TRUE(RunOrPostRequest(true, handler_.Get(), "first", 0, 1, nullptr, 0));
    EXPECT_TRUE(innerRanHere);
    EXPECT_TRUE(stillInline);
    ASSERT_TRUE(handler_->WaitFor(2));
    EXPECT_EQ(handler_->seen[1].service, "again");
    EXPECT_NE(handler_->workerId, self) << "queued for the worker";
    EXPECT_FALSE(CRequestThread::InInlineRun());
}

// Reference counts are 16-bit: pending requests share one handler reference, so more of them
// than a count could hold are taken and run; and the count stays exact under concurrent posts.
TEST_F(Requests, PendingRequestsShareOneReferenceAndTheirCountStaysExact) {
    const uint32_t count = 70000;
    const auto postAlone = [&] { return Post(false, "", alone_.data(), static_cast<uint16_t>(alone_.size())); };
    handler_->hold.store(true);
    ASSERT_TRUE(postAlone());
    ASSERT_TRUE(Eventually([&] { return handler_->started.load(); }));
    for (uint32_t i = 1; i < count; ++i) ASSERT_TRUE(postAlone()) << i;
    EXPECT_EQ(handler_->PendingRequests(), count);
    EXPECT_EQ(handler_->RefCount(), 2) << "the fixture's reference and the pending group's";
    handler_->hold.store(false);
    ASSERT_TRUE(handler_->WaitFor(count, 20000));
    EXPECT_TRUE(handler_->WaitReleased());

    const int perThread = 5000;
    auto post = [&] {
        for (int i = 0; i < perThread; ++i) ASSERT_TRUE(Post(true, "s", &i, sizeof i));
    };
    std::thread other(post);
    post();
    other.join();
    ASSERT_TRUE(handler_->WaitFor(count + 2 * perThread));
    EXPECT_TRUE(handler_->WaitReleased());
}

// Gathered messages are pending as one request, which runs them in its place once queued; an
// unqueued gathering gives back exactly what it took.
TEST_F(Requests, GatheredPostsArePendingAsOneRequestAndRunInTheirPlace) {
    const int gatheredCount = 20;
    handler_->hold.store(true);
    ASSERT_TRUE(Post(true, "before"));
    ASSERT_TRUE(Eventually([&] { return handler_->started.load(); }));
    {
        CGatheredPosts gathered(true);
        CRef<CRequestHandler> reference = CRef<CRequestHandler>::Share(handler_.Get());
        ASSERT_TRUE(gathered.Open(handler_.Get(), &reference, "g0", 0, 1, nullptr, 0));
        EXPECT_FALSE(reference) << "taken over by the request";
        for (int i = 1; i < gatheredCount; ++i) {
            ASSERT_TRUE(gathered.Append(handler_.Get(), ("g" + std::to_string(i)).c_str(), 0, 1, "x", 1)) << i;
        }
        CRecordingHandler other;
        EXPECT_FALSE(gathered.Append(&other, "o", 0, 1, nullptr, 0)) << "another handler";
        EXPECT_FALSE(gathered.Append(handler_.Get(), "big", 0, 1, alone_.data(), 300)) << "too large to share";
        EXPECT_EQ(handler_->PendingRequests(), 2u) << "the held request, and the gathered one";
        EXPECT_EQ(QueuedMessages(true), 0u) << "unseen by the worker";
        bool full = true;
        ASSERT_TRUE(gathered.Flush(&full));
        EXPECT_FALSE(full);
        EXPECT_EQ(QueuedMessages(true), static_cast<size_t>(gatheredCount));
        EXPECT_EQ(handler_->PendingRequests(), 2u);
        EXPECT_TRUE(gathered.Flush(&full)) << "nothing left to queue";
        EXPECT_FALSE(gathered.Append(handler_.Get(), "late", 0, 1, nullptr, 0)) << "nothing open";
    }
    EXPECT_EQ(handler_->RefCount(), 2) << "the fixture's reference and the pending group's";
    handler_->hold.store(false);
    ASSERT_TRUE(handler_->WaitFor(1 + gatheredCount));
    std::vector<std::string> services;
    for (const Seen& seen : handler_->seen) services.push_back(seen.service);
    std::vector<std::string> expected{"before"};
    for (int i = 0; i < gatheredCount; ++i) expected.push_back("g" + std::to_string(i));
    EXPECT_EQ(services, expected);
    EXPECT_TRUE(handler_->WaitReleased());

    {
        CGatheredPosts dropped(true);
        CRef<CRequestHandler> reference = CRef<CRequestHandler>::Share(handler_.Get());
        ASSERT_TRUE(dropped.Open(handler_.Get(), &reference, "d0", 0, 1, nullptr, 0));
        ASSERT_TRUE(dropped.Append(handler_.Get(), "d1", 0, 1, nullptr, 0));
        EXPECT_EQ(handler_->PendingRequests(), 1u);
    }
    EXPECT_EQ(handler_->PendingRequests(), 0u) << "dropped unqueued";
    EXPECT_EQ(handler_->Runs(), 1u + gatheredCount);
}

TEST_F(Requests, AThrowingRequestIsTracedAndTheNextOneRuns) {
    const std::pair<std::function<void()>, const char*> failures[] = {
        {[] { throw std::bad_alloc(); }, "out of memory"},
        {[] { throw std::runtime_error("x"); }, "an exception"},
    };
    for (const auto& [fail, reason] : failures) {
        trace_capture::Clear();
        handler_->hook = [&fail = fail, throwNext = true]() mutable {
            if (std::exchange(throwNext, false)) fail();
        };
        const size_t before = handler_->Runs();
        ASSERT_TRUE(Post(true, "first"));
        ASSERT_TRUE(Post(true, "second"));
        ASSERT_TRUE(handler_->WaitFor(before + 1));
        EXPECT_EQ(handler_->seen.back().service, "second");
        EXPECT_EQ(trace_capture::Records(),
                  (TraceRecords{{std::string("**Error: a request of recorder dropped: ") + reason + ".\n", 18}}));
    }
}

// Stop refuses a stopped thread and lets what was queued before it run.
TEST_F(RequestThread, StopRunsWhatWasQueuedBeforeItAndTheObjectRunsAgain) {
    EXPECT_FALSE(thread_->Start());
    // The first request holds the worker until the stop was asked for.
    handler_->hook = [&, first = true]() mutable {
        if (std::exchange(first, false)) {
            EXPECT_TRUE(Eventually([] { return CRequestThread::CurrentStopping(); }));
        }
    };
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(Post());
    EXPECT_FALSE(CRequestThread::CurrentStopping()) << "not on a worker";
    EXPECT_TRUE(thread_->Stop());
    EXPECT_EQ(handler_->Runs(), 3u);
    EXPECT_EQ(handler_->PendingRequests(), 0u);
    EXPECT_TRUE(thread_->Start()) << "and the thread object runs again";
    ASSERT_TRUE(Post());
    EXPECT_TRUE(handler_->WaitFor(4));
    EXPECT_TRUE(thread_->Stop());
    thread_->Release();
    EXPECT_EQ(slot_.load(), nullptr);
}

TEST_F(RequestThread, StopFromTheWorkerItselfGivesUpAfterItsWait) {
    thread_->SetStopWait(20);
    std::atomic<int> result{-1};
    handler_->hook = [&] { result = thread_->Stop() ? 1 : 0; };
    ASSERT_TRUE(Post());
    ASSERT_TRUE(Eventually([&] { return result.load() != -1; }));
    EXPECT_EQ(result.load(), 0);
    // The worker still holds its own reference: the object goes when the worker ends.
    thread_->Release();
    EXPECT_TRUE(Eventually([&] { return slot_.load() == nullptr; }));
}

TEST(RequestThreads, PostingWithoutTheLibraryQueuesNothing) {
    CRecordingHandler handler;  // untracked: no library
    EXPECT_TRUE(PostRequest(false, &handler, "x", 0, 0, nullptr, 0));
    EXPECT_TRUE(PostRequest(true, &handler, "x", 0, 0, nullptr, 0));
    EXPECT_EQ(handler.PendingRequests(), 0u);
}

// Requests run in posting order with their own copies of the payload (no data is an empty one);
// recycled requests of every payload size show only their own bytes, followed by a NUL.
TEST_F(Requests, RequestsCarryOnlyTheirOwnBytesAlsoWhenReused) {
    std::string big(65535, 'z');
    big[0] = 'a';
    big[65534] = 'b';
    char one[] = "one";
    ASSERT_TRUE(PostRequest(true, handler_.Get(), "svc", 7, 4, one, 3));
    one[0] = 'X';
    ASSERT_TRUE(PostRequest(true, handler_.Get(), nullptr, 0, 1, nullptr, 10));
    ASSERT_TRUE(PostRequest(true, handler_.Get(), "", 1, -2, big.data(), 65535));
    std::vector<Seen> expected = {{"svc", 7, 4, "one"}, {"", 0, 1, ""}, {"", 1, -2, big}};
    const size_t sizes[] = {220, 224, 225, 300, 5000, 65535, 0, 1, 17};
    for (size_t round = 0; round < 3; ++round) {
        for (size_t i = 0; i < std::size(sizes); ++i) {
            const size_t size = sizes[round == 0 ? i : std::size(sizes) - 1 - i];
            const std::string payload(size, static_cast<char>('a' + (i + round) % 26));
            const std::string service(round == 1 ? 0 : 1 + i % 3, 's');
            ASSERT_TRUE(Post(true, round == 1 ? nullptr : service.c_str(), payload.data(), static_cast<uint16_t>(size)));
            expected.push_back({service, 0, 1, payload});
        }
        ASSERT_TRUE(handler_->WaitFor(expected.size()));
    }
    EXPECT_TRUE(handler_->seen == expected);
}

// A queue that goes with requests in it runs none of them and gives back what they hold.
TEST_F(Requests, AQueueDestroyedWithRequestsGivesBackTheirHandlerReferences) {
    CRequestQueue* queue = new CRequestQueue;
    const std::string big(1000, 'b');
    ASSERT_TRUE(queue->Post(handler_.Get(), "x", 0, 1, "abc", 3));
    ASSERT_TRUE(queue->Post(handler_.Get(), nullptr, 0, 1, big.data(), static_cast<uint16_t>(big.size())));
    EXPECT_EQ(handler_->RefCount(), 2u) << "two pending requests share one reference";
    queue->Release();
    EXPECT_EQ(handler_->Runs(), 0u);
    EXPECT_EQ(handler_->PendingRequests(), 0u);
    EXPECT_EQ(handler_->RefCount(), 1u);
    EXPECT_EQ(handler_->doneCalls.load(), 1);
}

// Once per run of consecutive requests, while the run's last request still counts as pending
// (each message a request of its own).
TEST_F(Requests, EachRunOfOneHandlerInABatchEndsWithOnBatchDone) {
    std::vector<std::string> log;
    CRef<CRecordingHandler> b = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    handler_->tag = "a";
    b->tag = "b";
    handler_->log = b->log = &log;
    CRef<CRequestQueue> queue = CRef<CRequestQueue>::Adopt(new CRequestQueue);
    for (CRecordingHandler* target : {handler_.Get(), handler_.Get(), b.Get(), handler_.Get()}) {
        ASSERT_TRUE(queue->Post(target, "", 0, 1, alone_.data(), static_cast<uint16_t>(alone_.size())));
    }
    std::vector<CRequest*> batch;
    queue->TakeAll(batch);
    RunBatch(batch);
    queue->Recycle(batch);
    const std::vector<std::string> expected = {"a", "a", "a done, pending 2", "b", "b done, pending 1",
                                               "a", "a done, pending 1"};
    EXPECT_EQ(log, expected);
    EXPECT_EQ(b->RefCount(), 1u);
}

// Small messages posted back to back for one handler share requests (packs) until a pack is
// full or another handler's message or a large one comes between; they still run one by one in
// posting order, a throw drops only its own message, and the queue's limit counts messages.
TEST_F(Requests, ConsecutiveSmallMessagesShareRequestsAndRunInPostingOrder) {
    CRef<CRecordingHandler> other = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    std::vector<std::string> log;
    handler_->tag = "a";
    other->tag = "b";
    handler_->log = other->log = &log;
    handler_->hook = [&, run = 0]() mutable {
        if (++run == 3) throw std::runtime_error("x");
    };
    CRef<CRequestQueue> queue = CRef<CRequestQueue>::Adopt(new CRequestQueue);
    queue->SetLimit(150, 1 << 20);
    std::vector<Seen> expected;
    std::vector<std::string> order;
    size_t posts = 0;
    const auto post = [&](CRecordingHandler* target, size_t size, bool full) {
        const std::string payload(size, static_cast<char>('a' + posts % 26));
        const std::string service = "s" + std::to_string(posts);
        bool reported = !full;
        ASSERT_TRUE(queue->Post(target, service.c_str(), 3, 1, payload.data(), static_cast<uint16_t>(size), nullptr,
                                &reported));
        EXPECT_EQ(reported, full) << posts;
        if (++posts != 3) {
            if (target == handler_.Get()) expected.push_back({service, 3, 1, payload});
            order.push_back(target->tag);
        }
    };
    for (int i = 0; i < 120; ++i) post(handler_.Get(), 60, false);
    post(other.Get(), 1, false);
    post(handler_.Get(), 0, false);
    post(handler_.Get(), 300, false);
    for (int i = 0; i < 30; ++i) post(handler_.Get(), 100, posts + 1 >= 150);
    std::vector<CRequest*> batch;
    EXPECT_TRUE(queue->TakeAll(batch)) << "a poster was told the queue is full";
    size_t messages = 0;
    for (const CRequest* request : batch) messages += request->Messages();
    EXPECT_EQ(messages, posts);
    EXPECT_LT(batch.size(), posts / 10);
    trace_capture::Clear();
    RunBatch(batch);
    queue->Recycle(batch);
    EXPECT_TRUE(handler_->seen == expected);
    EXPECT_EQ(other->Runs(), 1u);
    const auto isBatchEnd = [](const std::string& line) { return line.find(' ') != line.npos; };
    log.erase(std::remove_if(log.begin(), log.end(), isBatchEnd), log.end());
    EXPECT_EQ(log, order);
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: a request of a dropped: an exception.\n", 18}}));
    EXPECT_EQ(handler_->PendingRequests(), 0u);
    EXPECT_EQ(other->RefCount(), 1u);
}

// A worker running a pack holds back the signals its messages give until the pack ends (or
// until it must wait for room), one per event; a single message, or a thread that is no worker
// running a pack, signals at once. Each message sees the event's state before it signals.
TEST_F(Requests, MessagesOfAPackSignalTheirEventOnceThePackEnds) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::vector<DWORD> states;
    handler_->hook = [&] {
        states.push_back(WaitForSingleObject(event, 0));
        SignalMessageTaken(event);
        if (states.size() == 3) SignalTakenMessagesNow();
    };
    CRef<CRequestQueue> queue = CRef<CRequestQueue>::Adopt(new CRequestQueue);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(queue->Post(handler_.Get(), "s", 0, 1, "x", 1));
    ASSERT_TRUE(queue->Post(handler_.Get(), "s", 0, 1, alone_.data(), static_cast<uint16_t>(alone_.size())));
    std::vector<CRequest*> batch;
    queue->TakeAll(batch);
    ASSERT_EQ(batch.size(), 2u);
    RunBatch(batch);
    queue->Recycle(batch);
    const DWORD kNo = WAIT_TIMEOUT, kYes = WAIT_OBJECT_0;
    EXPECT_EQ(states, (std::vector<DWORD>{kNo, kNo, kNo, kYes, kNo, kYes}));
    EXPECT_EQ(WaitForSingleObject(event, 0), kYes) << "the single message signalled at once";
    SignalMessageTaken(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), kYes) << "no worker: at once";
    CloseHandle(event);
}

// The server routine may post while the library terminates, and so may a sender whose message
// runs inline.
TEST_F(Requests, PostingWhileTheThreadsAreReplacedIsSafe) {
    std::atomic<bool> done{false};
    // In bursts, so that each stop finds the queue drained in time.
    std::thread poster([&] {
        const uint8_t x[2] = {'x', 0};  // the recorder looks at the byte after the payload
        while (!done.load()) {
            for (int i = 0; i < 50; ++i) Post(true, "s", "x", 1);
            RunOrPostRequest(false, handler_.Get(), "s", 0, 1, x, 1);
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
    EXPECT_EQ(handler_->PendingRequests(), 0u);
    EXPECT_TRUE(StartRequestThreads());
}

std::atomic<DWORD> gTicks{0};
DWORD TestTicks() noexcept {
    return gTicks.load();
}

// Spares follow the largest batch of the current and the last period, between the floor and
// the cap, and each one is reused before anything new is made.
TEST(RequestQueue, SparesFollowRecentDemand) {
    constexpr uint32_t kPeriodMs = 300;
    CRef<CRequestQueue> queue = CRef<CRequestQueue>::Adopt(new CRequestQueue(kPeriodMs, &TestTicks));
    std::vector<CRequest*> batch;
    const auto cycle = [&](size_t count) {
        for (size_t i = 0; i < count; ++i) ASSERT_TRUE(queue->Post(nullptr, "s", 0, 1, "abc", 3));
        queue->TakeAll(batch);
        ASSERT_EQ(batch.size(), count);
        queue->Recycle(batch);
    };
    const size_t burst = CRequestQueue::kMinSpares * 2 + 7;
    cycle(burst);
    EXPECT_EQ(queue->Spares(), burst);
    for (size_t i = 0; i < burst; ++i) ASSERT_TRUE(queue->Post(nullptr, nullptr, 0, 1, nullptr, 0));
    EXPECT_EQ(queue->Spares(), 0u);
    queue->TakeAll(batch);
    queue->Recycle(batch);
    cycle(5);
    EXPECT_EQ(queue->Spares(), burst);
    // Ticks to the next recycle, and the spares it keeps: the last tick of the period, a quiet
    // period that still keeps the last one's demand, its last tick, and a second quiet period
    // that gives the surplus back.
    const std::pair<DWORD, size_t> steps[] = {
        {kPeriodMs - 1, burst}, {1, burst}, {kPeriodMs - 1, burst}, {1, CRequestQueue::kMinSpares}};
    for (const auto& [ticks, kept] : steps) {
        gTicks += ticks;
        queue->Recycle(batch);
        EXPECT_EQ(queue->Spares(), kept) << gTicks.load();
    }
    cycle(CRequestQueue::kMaxSpares + 3);
    EXPECT_EQ(queue->Spares(), CRequestQueue::kMaxSpares);
}

// Emptied requests keep their 4 KiB pack buffers up to a bound, on top of the spare list, so
// that the next packs take them first.
TEST_F(Requests, SparesKeepABoundedNumberOfPackBuffersAndHandThemOutFirst) {
    CRef<CRecordingHandler> other = CRef<CRecordingHandler>::Adopt(new CRecordingHandler);
    CRef<CRequestQueue> queue = CRef<CRequestQueue>::Adopt(new CRequestQueue);
    const std::string payload(60, 'p');
    // Four messages of one handler outgrow a request's inside: a pack buffer each.
    const auto pack = [&](CRecordingHandler* target) {
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(queue->Post(target, "s", 0, 1, payload.data(), 60));
    };
    const size_t packs = CRequestQueue::kMaxSparePackBuffers + 10;
    for (size_t i = 0; i < packs; ++i) pack(i % 2 == 0 ? handler_.Get() : other.Get());
    ASSERT_TRUE(queue->Post(handler_.Get(), "s", 0, 1, "x", 1));
    std::vector<CRequest*> batch;
    queue->TakeAll(batch);
    ASSERT_EQ(batch.size(), packs + 1);
    EXPECT_EQ(std::count_if(batch.begin(), batch.end(), [](const CRequest* r) { return r->HoldsPackBuffer(); }),
              static_cast<ptrdiff_t>(packs));
    queue->Recycle(batch);
    EXPECT_EQ(queue->Spares(), packs + 1);
    EXPECT_EQ(queue->SparePackBuffers(), CRequestQueue::kMaxSparePackBuffers);
    // A lone small message takes the top spare, which has a buffer, and gives it back.
    ASSERT_TRUE(queue->Post(handler_.Get(), "s", 0, 1, "x", 1));
    EXPECT_EQ(queue->SparePackBuffers(), CRequestQueue::kMaxSparePackBuffers - 1);
    pack(other.Get());
    queue->TakeAll(batch);
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_TRUE(batch[0]->HoldsPackBuffer() && batch[1]->HoldsPackBuffer());
    queue->Recycle(batch);
    EXPECT_EQ(queue->SparePackBuffers(), CRequestQueue::kMaxSparePackBuffers);
    EXPECT_EQ(handler_->PendingRequests(), 0u);
    EXPECT_EQ(other->PendingRequests(), 0u);
}

}  // namespace
