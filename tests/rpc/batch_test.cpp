#include "platform/rpc/batch.h"
#include "platform/rpc/deliver.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace {

class Batch : public ::testing::Test {
protected:
    void SetUp() override {
        CCallRecorder::Instance().Clear();
        endpoint_ = TestEndpoint("ba");
        ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
        binding_ = TestBind(endpoint_);
        ASSERT_NE(binding_, nullptr);
    }
    void TearDown() override {
        RpcBindingFree(&binding_);
        EXPECT_EQ(server_.Stop(), RPC_S_OK);
    }
    void Send(RPC_BINDING_HANDLE binding, uint32_t index, uint16_t size = 4) {
        std::vector<uint8_t> data(size);
        for (int i = 0; i < 4 && i < size; ++i) data[i] = static_cast<uint8_t>(index >> (8 * i));
        ASSERT_EQ(DeliverStatus(binding, "b", 0, 2, data.data(), size), RPC_S_OK);
    }
    static uint32_t Index(const CRecordedCall& call) {
        return call.data[0] | (call.data[1] << 8) | (call.data[2] << 16) | (static_cast<uint32_t>(call.data[3]) << 24);
    }

    std::string endpoint_;
    CTestServer server_;
    RPC_BINDING_HANDLE binding_ = nullptr;
};

}  // namespace

TEST_F(Batch, GathersUntilEndAndKeepsOrder) {
    RPC_BINDING_HANDLE second = TestBind(endpoint_);
    {
        CRpcBatch batch;
        EXPECT_EQ(CRpcBatch::Current(), &batch);
        for (uint32_t i = 0; i < 100; ++i) Send(i % 2 ? second : binding_, i);
        EXPECT_EQ(batch.Calls(), 100u);
        std::this_thread::sleep_for(50ms);
        EXPECT_EQ(CCallRecorder::Instance().Count(), 0u);
        EXPECT_TRUE(batch.End().empty());
        EXPECT_EQ(CRpcBatch::Current(), nullptr);
        EXPECT_TRUE(batch.End().empty());
    }
    const auto calls = CCallRecorder::Instance().WaitFor(100);
    ASSERT_EQ(calls.size(), 100u);
    for (uint32_t i = 0; i < 100; ++i) EXPECT_EQ(Index(calls[i]), i);
    RpcBindingFree(&second);
}

TEST_F(Batch, FullBufferIsWrittenBeforeEnd) {
    CRpcBatch batch;
    const uint32_t perBuffer = kBatchFlushBytes / (65535 + 64);
    const uint32_t count = 2 * perBuffer;
    for (uint32_t i = 0; i < count; ++i) Send(binding_, i, 65535);
    const size_t early = CCallRecorder::Instance().WaitFor(perBuffer).size();
    EXPECT_GE(early, perBuffer);
    EXPECT_LT(early, count);
    EXPECT_TRUE(batch.End().empty());
    const auto calls = CCallRecorder::Instance().WaitFor(count);
    ASSERT_EQ(calls.size(), count);
    for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(Index(calls[i]), i);
}

TEST_F(Batch, FailuresAreReportedPerCallWithTheirStatus) {
    RPC_BINDING_HANDLE missing = TestBind(TestEndpoint("nobody"));
    CRpcBatch batch;
    Send(binding_, 0);
    Send(missing, 1);
    Send(binding_, 2);
    EXPECT_EQ(DeliverStatus(binding_, nullptr, 0, 1, nullptr, 0), RPC_X_NULL_REF_POINTER);  // not counted
    Send(missing, 3);
    const std::vector<CRpcCallFailure> failures = batch.End();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].call, 1u);
    EXPECT_EQ(failures[0].status, RPC_S_SERVER_UNAVAILABLE);
    EXPECT_EQ(failures[1].call, 3u);
    EXPECT_EQ(failures[1].status, RPC_S_SERVER_UNAVAILABLE);
    const auto calls = CCallRecorder::Instance().WaitFor(2);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(Index(calls[0]), 0u);
    EXPECT_EQ(Index(calls[1]), 2u);
    RpcBindingFree(&missing);
}

TEST_F(Batch, WriteToAVanishedServerFailsEveryUnwrittenCall) {
    Send(binding_, 0);
    ASSERT_EQ(CCallRecorder::Instance().WaitFor(1).size(), 1u);
    ASSERT_EQ(server_.Stop(), RPC_S_OK);
    CRpcBatch batch;
    for (uint32_t i = 1; i <= 3; ++i) Send(binding_, i);
    const std::vector<CRpcCallFailure> failures = batch.End();
    ASSERT_EQ(failures.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(failures[i].call, i);
        EXPECT_EQ(failures[i].status, RPC_S_SERVER_UNAVAILABLE);
    }
    ASSERT_EQ(server_.Start(endpoint_), RPC_S_OK);
}

TEST_F(Batch, OnePerThreadAndUnendedBatchesStillWrite) {
    {
        CRpcBatch batch;
        EXPECT_THROW(CRpcBatch second, std::logic_error);
        Send(binding_, 7);
        std::thread other([] {
            CRpcBatch own;
            EXPECT_EQ(CRpcBatch::Current(), &own);
        });
        other.join();
        EXPECT_EQ(CRpcBatch::Current(), &batch);
    }
    const auto calls = CCallRecorder::Instance().WaitFor(1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(Index(calls[0]), 7u);
}
