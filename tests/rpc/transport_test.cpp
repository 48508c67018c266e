// Calls through the runtime within one process: server and client on real sockets.
#include "platform/rpc/deliver.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

class Transport : public ::testing::Test {
protected:
    void SetUp() override {
        CCallRecorder::Instance().Clear();
        endpoint_ = TestEndpoint("tr");
        ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
        binding_ = TestBind(endpoint_);
        ASSERT_NE(binding_, nullptr);
    }
    void TearDown() override {
        CCallRecorder::Instance().SetHook(nullptr);
        RpcBindingFree(&binding_);
        EXPECT_EQ(server_.Stop(), RPC_S_OK);
    }

    std::string endpoint_;
    CTestServer server_;
    RPC_BINDING_HANDLE binding_ = nullptr;
};

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
}

}  // namespace

TEST_F(Transport, EveryKindArrivesWithServiceFlagsAndPayload) {
    for (uint16_t kind = 0; kind <= 6; ++kind) {
        const std::vector<uint8_t> data = Pattern(kind * 10 + 1);
        const std::string service = "svc" + std::to_string(kind);
        ASSERT_EQ(DeliverStatus(binding_, service.c_str(), 0x30000u + kind, kind, data.data(),
                                static_cast<uint16_t>(data.size())),
                  RPC_S_OK);
    }
    const auto calls = CCallRecorder::Instance().WaitFor(7);
    ASSERT_EQ(calls.size(), 7u);
    for (uint16_t kind = 0; kind <= 6; ++kind) {
        EXPECT_EQ(calls[kind].kind, kind);
        EXPECT_EQ(calls[kind].service, "svc" + std::to_string(kind));
        EXPECT_EQ(calls[kind].flags, 0x30000u + kind);
        EXPECT_FALSE(calls[kind].dataNull);
        EXPECT_EQ(calls[kind].data, Pattern(kind * 10 + 1));
        EXPECT_EQ(calls[kind].peerPid, static_cast<uint32_t>(getpid()));
    }
}

TEST_F(Transport, NullDataEmptyDataAndEmptyServiceKeepTheirShape) {
    const uint8_t byte = 0;
    ASSERT_EQ(DeliverStatus(binding_, "", 0, 1, nullptr, 0), RPC_S_OK);
    ASSERT_EQ(DeliverStatus(binding_, "x", 0xFFFFFFFF, 0xFFFF, &byte, 0), RPC_S_OK);
    const auto calls = CCallRecorder::Instance().WaitFor(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].service, "");
    EXPECT_TRUE(calls[0].dataNull);
    EXPECT_TRUE(calls[0].data.empty());
    EXPECT_FALSE(calls[1].dataNull);
    EXPECT_TRUE(calls[1].data.empty());
    EXPECT_EQ(calls[1].kind, 0xFFFF);
    EXPECT_EQ(calls[1].flags, 0xFFFFFFFFu);
}

TEST_F(Transport, LargestPayloadAndServiceArriveWhole) {
    const std::vector<uint8_t> data = Pattern(65535);
    const std::string service(65535, 'n');
    ASSERT_EQ(DeliverStatus(binding_, "big", 0, 4, data.data(), 65535), RPC_S_OK);
    ASSERT_EQ(DeliverStatus(binding_, service.c_str(), 0, 4, data.data(), 65535), RPC_S_OK);
    const auto calls = CCallRecorder::Instance().WaitFor(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].data, data);
    EXPECT_EQ(calls[1].service, service);
    EXPECT_EQ(calls[1].data, data);
    EXPECT_EQ(DeliverStatus(binding_, std::string(65536, 'n').c_str(), 0, 4, nullptr, 0), RPC_S_STRING_TOO_LONG);
}

TEST_F(Transport, BadArgumentsRaiseWithoutSending) {
    const uint8_t byte = 1;
    EXPECT_EQ(DeliverStatus(nullptr, "s", 0, 1, &byte, 1), RPC_S_INVALID_BINDING);
    EXPECT_EQ(DeliverStatus(binding_, nullptr, 0, 1, &byte, 1), RPC_X_NULL_REF_POINTER);
    EXPECT_EQ(DeliverStatus(binding_, "s", 0, 1, nullptr, 1), RPC_X_NULL_REF_POINTER);
    ASSERT_EQ(DeliverStatus(binding_, "after", 0, 1, &byte, 1), RPC_S_OK);
    const auto calls = CCallRecorder::Instance().WaitFor(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].service, "after");
}

TEST_F(Transport, OrderIsKeptAcrossBindingsAndThreadsOfOneProcess) {
    RPC_BINDING_HANDLE second = TestBind(endpoint_);
    constexpr uint32_t kCalls = 2000;
    for (uint32_t i = 0; i < kCalls; ++i) {
        const uint8_t data[4] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0, 0};
        ASSERT_EQ(DeliverStatus(i % 3 ? binding_ : second, "o", 0, 1, data, 4), RPC_S_OK);
    }
    auto calls = CCallRecorder::Instance().WaitFor(kCalls);
    ASSERT_EQ(calls.size(), kCalls);
    for (uint32_t i = 0; i < kCalls; ++i) ASSERT_EQ(calls[i].data[0] | (calls[i].data[1] << 8), static_cast<int>(i & 0xFFFF));

    // Two threads writing at once: every frame arrives whole, each thread's in its own order.
    CCallRecorder::Instance().Clear();
    auto sender = [&](RPC_BINDING_HANDLE binding, uint8_t tag) {
        for (uint32_t i = 0; i < kCalls; ++i) {
            const std::vector<uint8_t> data = {tag, static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
            if (DeliverStatus(binding, "t", 0, 1, data.data(), 3) != RPC_S_OK) return;
        }
    };
    std::thread a(sender, binding_, 1), b(sender, second, 2);
    a.join();
    b.join();
    calls = CCallRecorder::Instance().WaitFor(2 * kCalls);
    ASSERT_EQ(calls.size(), 2 * kCalls);
    uint32_t next[3] = {0, 0, 0};
    for (const auto& call : calls) {
        ASSERT_EQ(call.data.size(), 3u);
        const uint8_t tag = call.data[0];
        ASSERT_TRUE(tag == 1 || tag == 2);
        ASSERT_EQ(static_cast<uint32_t>(call.data[1] | (call.data[2] << 8)), next[tag]++);
    }
    RpcBindingFree(&second);
}

TEST_F(Transport, MissingEndpointRaisesServerUnavailable) {
    RPC_BINDING_HANDLE missing = TestBind(TestEndpoint("none"));
    EXPECT_EQ(DeliverStatus(missing, "s", 0, 1, nullptr, 0), RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(DeliverStatus(missing, "s", 0, 1, nullptr, 0), RPC_S_SERVER_UNAVAILABLE);
    RpcBindingFree(&missing);
}

TEST_F(Transport, ClientReconnectsAfterTheServerCameBack) {
    ASSERT_EQ(DeliverStatus(binding_, "before", 0, 1, nullptr, 0), RPC_S_OK);
    ASSERT_EQ(CCallRecorder::Instance().WaitFor(1).size(), 1u);
    ASSERT_EQ(server_.Stop(), RPC_S_OK);
    // The old connection is closed by the server: nothing was lost of this call yet, so it
    // goes to a new connection, which finds no server.
    EXPECT_EQ(DeliverStatus(binding_, "gone", 0, 1, nullptr, 0), RPC_S_SERVER_UNAVAILABLE);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    ASSERT_EQ(DeliverStatus(binding_, "again", 0, 1, nullptr, 0), RPC_S_OK);
    const auto calls = CCallRecorder::Instance().WaitFor(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].service, "again");
}

TEST_F(Transport, StaleConnectionIsReplacedWithoutLosingTheCall) {
    ASSERT_EQ(DeliverStatus(binding_, "one", 0, 1, nullptr, 0), RPC_S_OK);
    ASSERT_EQ(CCallRecorder::Instance().WaitFor(1).size(), 1u);
    ASSERT_EQ(server_.Stop(), RPC_S_OK);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
    ASSERT_EQ(DeliverStatus(binding_, "two", 0, 1, nullptr, 0), RPC_S_OK);
    const auto calls = CCallRecorder::Instance().WaitFor(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].service, "two");
}

TEST_F(Transport, EndpointNamesUpToTheAddressLimit) {
    // A sink name has at most 31 characters (its caller checks that); the runtime takes any
    // name whose socket name fits.
    const std::string name31 = endpoint_ + std::string(31 - endpoint_.size(), 'x');
    const std::string longest = endpoint_ + std::string(kEndpointMax - endpoint_.size(), 'L');
    EXPECT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, name31.c_str(), nullptr), RPC_S_OK);
    EXPECT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, longest.c_str(), nullptr), RPC_S_OK);
    EXPECT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, std::string(kEndpointMax + 1, 'L').c_str(), nullptr),
              RPC_S_INVALID_ENDPOINT_FORMAT);
    EXPECT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, "", nullptr), RPC_S_INVALID_ENDPOINT_FORMAT);
    EXPECT_EQ(RpcServerUseProtseqEpA("ncacn_np", 10, "x", nullptr), RPC_S_PROTSEQ_NOT_SUPPORTED);
    EXPECT_EQ(RpcServerUseProtseqEpA("ncalrpc", 10, endpoint_.c_str(), nullptr), RPC_S_OK);

    RPC_BINDING_VECTOR* vector = nullptr;
    ASSERT_EQ(RpcServerInqBindings(&vector), RPC_S_OK);
    EXPECT_EQ(vector->Count, 3u);
    for (unsigned long i = 0; i < vector->Count; ++i) {
        EXPECT_EQ(DeliverStatus(vector->BindingH[i], "via", 0, 1, nullptr, 0), RPC_S_OK);
    }
    EXPECT_EQ(RpcBindingVectorFree(&vector), RPC_S_OK);
    EXPECT_EQ(vector, nullptr);
    EXPECT_EQ(CCallRecorder::Instance().WaitFor(3).size(), 3u);
}

TEST_F(Transport, RegistrationRules) {
    Deliver_v1_0_epv_t other = {gRecordingManager.Deliver};
    EXPECT_EQ(RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, &gRecordingManager, 33, 1234, nullptr), RPC_S_OK);
    EXPECT_EQ(RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, &other, 33, 1234, nullptr),
              RPC_S_TYPE_ALREADY_REGISTERED);
    EXPECT_EQ(RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, nullptr, 33, 1234, nullptr), RPC_S_INVALID_ARG);
    EXPECT_EQ(RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, &gRecordingManager, 32, 1234, nullptr),
              RPC_S_INVALID_ARG);
}

TEST_F(Transport, UnregisterFreesTheNameAndWaitsForTheRunningCall) {
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> once{false};
    CCallRecorder::Instance().SetHook([&] {
        if (!once.exchange(true)) {
            entered.set_value();
            released.wait_for(10s);
        }
    });
    ASSERT_EQ(DeliverStatus(binding_, "slow", 0, 1, nullptr, 0), RPC_S_OK);
    ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
    auto stopped = std::async(std::launch::async, [&] { return server_.Stop(true); });
    EXPECT_EQ(stopped.wait_for(200ms), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), RPC_S_OK);
    EXPECT_EQ(CCallRecorder::Instance().Count(), 1u);

    // The name is free at once for anyone.
    CAbstractAddress address;
    ASSERT_TRUE(address.Set(kEndpointPrefix, endpoint_));
    const int fd = UnixStreamSocket(false);
    EXPECT_EQ(bind(fd, address.Get(), address.Length()), 0);
    CloseDescriptor(fd);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
}

TEST_F(Transport, UnregisterFromInsideTheRoutineDoesNotDeadlock) {
    std::promise<RPC_STATUS> result;
    std::atomic<bool> once{false};
    CCallRecorder::Instance().SetHook([&] {
        if (!once.exchange(true)) result.set_value(RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, 1));
    });
    ASSERT_EQ(DeliverStatus(binding_, "stop", 0, 1, nullptr, 0), RPC_S_OK);
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), RPC_S_OK);
    EXPECT_EQ(RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, 1), RPC_S_UNKNOWN_IF);
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
}

TEST(TransportBusy, FullBacklogRaisesServerTooBusy) {
    // A listener that never accepts, with room for one waiting connection, taken by a raw client.
    const std::string endpoint = TestEndpoint("busy");
    CAbstractAddress address;
    ASSERT_TRUE(address.Set(kEndpointPrefix, endpoint));
    const int listener = UnixStreamSocket(false);
    ASSERT_EQ(bind(listener, address.Get(), address.Length()), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    const int waiting = UnixStreamSocket(false);
    ASSERT_EQ(connect(waiting, address.Get(), address.Length()), 0);

    RPC_BINDING_HANDLE binding = TestBind(endpoint);
    EXPECT_EQ(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_SERVER_TOO_BUSY);
    EXPECT_EQ(RpcBindingInqPeerCredentials(binding, nullptr, nullptr, nullptr), RPC_S_WRONG_KIND_OF_BINDING);
    RpcBindingFree(&binding);
    CloseDescriptor(waiting);
    CloseDescriptor(listener);
}
