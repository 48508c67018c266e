// Calls through the runtime within one process, server and client on real sockets.
#include "platform/rpc/batch.h"
#include "platform/rpc/binding.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"
#include "support/rpc_test_support.h"
#include "support/thread_probe.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <future>
#include <numeric>

namespace {

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        ClearCalls();
        ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
        ASSERT_NE(binding_, nullptr);
    }
    void TearDown() override {
        SetCallHook(nullptr);
        EXPECT_EQ(server_.Stop(), RPC_S_OK);
    }
    // A call whose data of `size` bytes starts with its index, 4 bytes little-endian.
    RPC_STATUS Send(uint32_t index, RPC_BINDING_HANDLE binding = nullptr, uint16_t size = 4) {
        std::vector<uint8_t> data(std::max<size_t>(size, 4));
        for (int i = 0; i < 4; ++i) data[i] = static_cast<uint8_t>(index >> 8 * i);
        return DeliverStatus(binding ? binding : binding_, "i", 0, 2, data.data(), size);
    }
    static uint32_t IndexOf(const std::vector<uint8_t>& data) {
        return data.size() < 4 ? UINT32_MAX : data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24;
    }
    // The indices of the calls that arrived, once there are count of them (or the wait ended).
    static std::vector<uint32_t> Indices(size_t count) {
        std::vector<uint32_t> indices;
        for (const CRecordedCall& call : WaitForCalls(count)) indices.push_back(IndexOf(call.data));
        return indices;
    }
    static std::vector<uint32_t> Range(uint32_t count) {
        std::vector<uint32_t> indices(count);
        std::iota(indices.begin(), indices.end(), 0u);
        return indices;
    }
    // The indices of the failed calls; each must have failed as a call to a missing server does.
    static std::vector<size_t> FailedCalls(const std::vector<CRpcCallFailure>& failures) {
        std::vector<size_t> calls;
        for (const CRpcCallFailure& failure : failures) {
            EXPECT_EQ(failure.status, RPC_S_SERVER_UNAVAILABLE);
            calls.push_back(failure.call);
        }
        return calls;
    }

    const std::string endpoint_ = TestEndpoint("tr");
    CTestServer server_;
    CTestBinding binding_{endpoint_};
};

}  // namespace

TEST_F(Transport, CallsArriveWithTheirShapeAndBadOnesRaiseWithoutSending) {
    const uint32_t pid = static_cast<uint32_t>(getpid());
    std::vector<uint8_t> largest(65535);
    std::iota(largest.begin(), largest.end(), uint8_t{3});
    const std::vector<CRecordedCall> calls = {
        {"svc", 0x30001, 1, false, {1, 2, 3}, pid},
        {"", 0, 1, true, {}, pid},
        {"x", 0xFFFFFFFF, 0xFFFF, false, {}, pid},
        {std::string(65535, 'n'), 0, 4, false, largest, pid},
    };
    const uint8_t byte = 1;
    for (const CRecordedCall& c : calls) {
        const uint8_t* data = c.dataNull ? nullptr : c.data.empty() ? &byte : c.data.data();
        ASSERT_EQ(DeliverStatus(binding_, c.service.c_str(), c.flags, c.kind, data, c.data.size()), RPC_S_OK);
    }
    EXPECT_EQ(DeliverStatus(nullptr, "s", 0, 1, &byte, 1), RPC_S_INVALID_BINDING);
    EXPECT_EQ(DeliverStatus(binding_, nullptr, 0, 1, &byte, 1), RPC_X_NULL_REF_POINTER);
    EXPECT_EQ(DeliverStatus(binding_, "s", 0, 1, nullptr, 1), RPC_X_NULL_REF_POINTER);
    EXPECT_EQ(DeliverStatus(binding_, std::string(65536, 'n').c_str(), 0, 4, nullptr, 0), RPC_S_STRING_TOO_LONG);
    ASSERT_EQ(Send(7), RPC_S_OK);
    std::vector<CRecordedCall> received = WaitForCalls(5);
    ASSERT_EQ(received.size(), 5u);
    EXPECT_EQ(IndexOf(received.back().data), 7u);  // and nothing of the refused calls before it
    received.pop_back();
    EXPECT_TRUE(received == calls);
}

// Two threads alternate between two bindings: each thread's calls arrive whole and in order.
TEST_F(Transport, OrderIsKeptAcrossBindingsAndThreadsOfOneProcess) {
    constexpr uint32_t kCalls = 2000;
    CTestBinding second(endpoint_);
    auto sender = [&](uint32_t tag) {
        for (uint32_t i = 0; i < kCalls; ++i) ASSERT_EQ(Send(tag << 16 | i, (i + tag) % 3 ? binding_ : second), RPC_S_OK);
    };
    std::thread a(sender, 1), b(sender, 2);
    a.join();
    b.join();
    std::vector<uint32_t> byThread[3];  // [0]: calls of no thread
    for (uint32_t index : Indices(2 * kCalls)) byThread[index >> 16 < 3 ? index >> 16 : 0].push_back(index & 0xFFFF);
    EXPECT_TRUE(byThread[0].empty());
    EXPECT_TRUE(byThread[1] == Range(kCalls) && byThread[2] == Range(kCalls));
}

// A stale connection is replaced without losing the next call; a missing endpoint raises 1722.
TEST_F(Transport, ClientReconnectsAcrossServerRestarts) {
    ASSERT_EQ(Send(0), RPC_S_OK);
    ASSERT_EQ(WaitForCalls(1).size(), 1u);
    ASSERT_EQ(server_.Stop(), RPC_S_OK);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    ASSERT_EQ(Send(1), RPC_S_OK);
    ASSERT_EQ(WaitForCalls(2).size(), 2u);
    ASSERT_EQ(server_.Stop(), RPC_S_OK);
    EXPECT_EQ(Send(2), RPC_S_SERVER_UNAVAILABLE);
    CTestBinding missing(TestEndpoint("none"));
    EXPECT_EQ(Send(2, missing), RPC_S_SERVER_UNAVAILABLE);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    ASSERT_EQ(Send(3), RPC_S_OK);
    EXPECT_EQ(Indices(3), (std::vector<uint32_t>{0, 1, 3}));
}

// The runtime takes any name whose socket name fits (sink names are checked by their caller).
TEST_F(Transport, EndpointNamesUpToTheAddressLimit) {
    const std::string longest = endpoint_ + std::string(kEndpointMax - endpoint_.size(), 'L');
    EXPECT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, std::string(kEndpointMax + 1, 'L').c_str(), nullptr),
              RPC_S_INVALID_ENDPOINT_FORMAT);
    ASSERT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, longest.c_str(), nullptr), RPC_S_OK);
    CTestBinding binding(longest);
    EXPECT_EQ(Send(5, binding), RPC_S_OK);
    EXPECT_EQ(Indices(1), (std::vector<uint32_t>{5}));
}

// A call that pauses intake stops the reading of every connection, also of one that was ready
// in the same turn; a resume from another thread reads on, and each connection keeps its order.
// The first connection's calls are numbered from 10, the second's from 20.
TEST_F(Transport, APausedIntakeReadsNoConnectionUntilResumed) {
    const std::string other = TestEndpoint("tr2");
    ASSERT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, other.c_str(), nullptr), RPC_S_OK);
    CTestBinding second(other);
    ASSERT_EQ(Send(20, second), RPC_S_OK);
    ASSERT_EQ(WaitForCalls(1).size(), 1u) << "both connections are accepted before the pause";
    std::atomic<int> seen{0};
    std::atomic<bool> bothSent{false};
    SetCallHook([&] {
        // The first call holds the dispatcher until both connections have a call waiting; the
        // next one, from either, pauses.
        const int call = seen.fetch_add(1);
        while (call == 0 && !bothSent.load()) std::this_thread::sleep_for(1ms);
        if (call == 1) RpcServerPauseIntake();
    });
    ASSERT_EQ(Send(10), RPC_S_OK);
    for (int waited = 0; seen.load() == 0 && waited < 5000; ++waited) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(seen.load(), 1);
    ASSERT_EQ(Send(11), RPC_S_OK);
    ASSERT_EQ(Send(21, second), RPC_S_OK);
    bothSent.store(true);
    EXPECT_EQ(WaitForCalls(4, 200ms).size(), 3u) << "one of the two waiting calls stays unread";
    EXPECT_TRUE(RpcServerIntakePaused());
    // Nothing more is sent: the waiting call is read, and run, because of the resume alone.
    RpcServerResumeIntake();
    std::vector<uint32_t> byConnection[3];
    for (const CRecordedCall& call : WaitForCalls(4)) byConnection[IndexOf(call.data) / 10 % 3].push_back(IndexOf(call.data));
    EXPECT_EQ(byConnection[1], (std::vector<uint32_t>{10, 11}));
    EXPECT_EQ(byConnection[2], (std::vector<uint32_t>{20, 21}));
    EXPECT_FALSE(RpcServerIntakePaused());
}

TEST_F(Transport, UnregisterWaitsForTheRunningCallUnlessCalledFromIt) {
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    SetCallHook([&] {
        entered.set_value();
        released.wait_for(10s);
    });
    ASSERT_EQ(Send(0), RPC_S_OK);
    ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
    std::atomic<pid_t> stopper{0};
    auto stopped = std::async(std::launch::async, [&] {
        stopper = gettid();
        return server_.Stop();
    });
    ASSERT_TRUE(WaitsIn(stopper, SYS_futex)) << "Stop waits";
    EXPECT_EQ(stopped.wait_for(0s), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), RPC_S_OK);
    EXPECT_EQ(WaitForCalls(1, 0ms).size(), 1u);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);  // the name is free at once

    std::promise<RPC_STATUS> inside;
    SetCallHook([&] { inside.set_value(RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, 1)); });
    ASSERT_EQ(Send(1), RPC_S_OK);
    auto future = inside.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), RPC_S_OK);
    EXPECT_EQ(WaitForCalls(2).size(), 2u);  // the routine then ran to its end
    EXPECT_EQ(RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, 1), RPC_S_UNKNOWN_IF);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
}

TEST(TransportBusy, FullBacklogRaisesServerTooBusy) {
    // A listener that never accepts, with room for one waiting connection, taken by a raw client;
    // the binding waits for room only briefly.
    const std::string endpoint = TestEndpoint("busy");
    const int listener = ListenWithoutAccepting(endpoint, 0);
    ASSERT_GE(listener, 0);
    CRawClient waiting(endpoint);
    ASSERT_TRUE(waiting.Connected());
    CTestBinding binding(endpoint);
    static_cast<RPC_BINDING_HANDLE>(binding)->channel->SetConnectTimeout(20);
    EXPECT_EQ(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_SERVER_TOO_BUSY);
    CloseDescriptor(listener);
}

TEST_F(Transport, BatchGathersUntilEndOrAFullBufferAndKeepsOrder) {
    CTestBinding second(endpoint_);
    {
        CRpcBatch batch;
        EXPECT_THROW(CRpcBatch another, std::logic_error);
        for (uint32_t i = 0; i < 100; ++i) ASSERT_EQ(Send(i, i % 2 ? second : binding_), RPC_S_OK);
        EXPECT_EQ(batch.Calls(), 100u);
        // Both bindings share the endpoint's one stream: a call sent past the batch arrives
        // first only when the batch wrote nothing yet.
        std::thread([&] { ASSERT_EQ(Send(1000), RPC_S_OK); }).join();
        EXPECT_EQ(Indices(1), (std::vector<uint32_t>{1000}));
        EXPECT_TRUE(batch.End().empty());
        EXPECT_EQ(CRpcBatch::Current(), nullptr);
    }
    std::vector<uint32_t> expected = Range(100);
    expected.insert(expected.begin(), 1000);
    EXPECT_EQ(Indices(101), expected);

    // A full buffer is written at once; a batch left without End still writes the rest.
    ClearCalls();
    const uint32_t perBuffer = kBatchFlushBytes / (65535 + 64);
    {
        CRpcBatch batch;
        for (uint32_t i = 0; i < 2 * perBuffer; ++i) ASSERT_EQ(Send(i, binding_, 65535), RPC_S_OK);
        const size_t early = WaitForCalls(perBuffer).size();
        EXPECT_GE(early, perBuffer);
        EXPECT_LT(early, 2 * perBuffer);
    }
    EXPECT_EQ(Indices(2 * perBuffer), Range(2 * perBuffer));
}

// While the server does not read, what the socket does not take waits in the channel's backlog,
// a large rest as the batch's own buffers: the frames keep their reservations until they went
// out, and every call arrives once, in order, also from the batches after it.
TEST_F(Transport, ABacklogKeepsOrderAndWindowAcrossBatches) {
    const auto window = std::make_shared<CSendWindow>(1000, 64 << 20);
    ASSERT_EQ(RpcBindingSetSendWindow(binding_, window), RPC_S_OK);
    std::promise<void> go;
    std::shared_future<void> released = go.get_future().share();
    SetCallHook([released] { released.wait(); });
    // The first batch leaves the socket part of its room, so that the next one is cut short in
    // the socket before the rest of it waits.
    const uint32_t perBatch = 2 * kBatchFlushBytes / (30000 + 64);
    uint32_t sent = 0;
    for (const uint32_t count : {6u, perBatch, perBatch}) {
        CRpcBatch batch;
        for (const uint32_t end = sent + count; sent < end; ++sent) {
            ASSERT_TRUE(window->Reserve(30000, false));
            ASSERT_EQ(Send(sent, binding_, 30000), RPC_S_OK);
        }
        EXPECT_TRUE(batch.End().empty()) << sent;
    }
    EXPECT_GT(window->Frames(), perBatch) << "the server reads one call, the socket takes some";
    go.set_value();
    EXPECT_EQ(Indices(sent), Range(sent));
    EXPECT_TRUE(Eventually([&] { return window->Frames() == 0; }));
}

// Each call that did not go out is reported with its index and status; calls refused at once
// raise as usual. A server gone since the last batch fails every call of the next.
TEST_F(Transport, BatchReportsEachFailedCall) {
    CTestBinding missing(TestEndpoint("nobody"));
    {
        CRpcBatch batch;
        for (uint32_t i = 0; i < 4; ++i) ASSERT_EQ(Send(i, i % 2 ? missing : binding_), RPC_S_OK);
        EXPECT_EQ(DeliverStatus(binding_, nullptr, 0, 1, nullptr, 0), RPC_X_NULL_REF_POINTER);
        EXPECT_EQ(FailedCalls(batch.End()), (std::vector<size_t>{1, 3}));
    }
    EXPECT_EQ(Indices(2), (std::vector<uint32_t>{0, 2}));
    ASSERT_EQ(server_.Stop(), RPC_S_OK);
    CRpcBatch batch;
    for (uint32_t i = 0; i < 3; ++i) ASSERT_EQ(Send(i), RPC_S_OK);
    EXPECT_EQ(FailedCalls(batch.End()), (std::vector<size_t>{0, 1, 2}));
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
}

// A batch that writes now only never connects and never waits: a frame it cannot write goes
// nowhere and keeps its reservation, for a batch that may wait; one over a live connection is
// written and settled at once. A connection the server closed is not made anew either.
TEST_F(Transport, ANowOnlyBatchWritesOnlyOverALiveConnection) {
    const auto window = std::make_shared<CSendWindow>(16, 1024);
    ASSERT_EQ(RpcBindingSetSendWindow(binding_, window), RPC_S_OK);
    const auto sendNow = [&](uint32_t index) {
        EXPECT_TRUE(window->Reserve(4, false));
        CRpcBatch batch(CSubmitMode::kNowOnly);
        EXPECT_EQ(Send(index), RPC_S_OK);
        const std::vector<CRpcCallFailure> failures = batch.End();
        return failures.empty() ? RPC_S_OK : failures.front().status;
    };
    for (const bool restart : {false, true}) {
        ClearCalls();
        EXPECT_EQ(sendNow(0), RPC_S_WOULD_WAIT) << (restart ? "closed by the server" : "never connected");
        EXPECT_EQ(window->Frames(), 1u);
        window->Release(1, 4);
        ASSERT_EQ(Send(1), RPC_S_OK) << "a call that may wait connects";
        EXPECT_EQ(sendNow(2), RPC_S_OK);
        EXPECT_EQ(window->Frames(), 0u);
        EXPECT_EQ(Indices(2), (std::vector<uint32_t>{1, 2}));
        ASSERT_EQ(server_.Stop(), RPC_S_OK);
        ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    }
}
