// The runtime between processes, with the peer helper program.
#include "platform/rpc/annotation.h"
#include "platform/rpc/socket.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace {

bool Listed(const std::string& name, uint32_t pid) {
    std::vector<CSinkRecord> records;
    EXPECT_EQ(SinkListCollect(0x11F, 0, 0, &records), RPC_S_OK);
    return std::any_of(records.begin(), records.end(),
                       [&](const CSinkRecord& r) { return r.fullName == name && r.pid == pid; });
}

}  // namespace

TEST(MultiProcess, DuplicateEndpointIsRefusedUntilUnregistered) {
    const std::string endpoint = TestEndpoint("dup");
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint), RPC_S_OK);
    {
        CPeerProcess peer({MBUS_RPC_PEER, "bind", endpoint});
        EXPECT_EQ(peer.ReadLine(), std::to_string(RPC_S_DUPLICATE_ENDPOINT));
        EXPECT_EQ(peer.Wait(), 0);
    }
    ASSERT_EQ(server.Stop(), RPC_S_OK);
    CPeerProcess peer({MBUS_RPC_PEER, "bind", endpoint});
    EXPECT_EQ(peer.ReadLine(), "0");
    EXPECT_EQ(peer.Wait(), 0);
}

TEST(MultiProcess, CallsFromAnotherProcessArriveInOrderWithItsCredentials) {
    CCallRecorder::Instance().Clear();
    const std::string endpoint = TestEndpoint("mp");
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint), RPC_S_OK);
    CPeerProcess peer({MBUS_RPC_PEER, "send", endpoint, "5000", "64"});
    const pid_t pid = peer.Pid();
    EXPECT_EQ(peer.ReadLine(10s), "sent");
    EXPECT_EQ(peer.Wait(), 0);
    const auto calls = CCallRecorder::Instance().WaitFor(5000);
    ASSERT_EQ(calls.size(), 5000u);
    for (uint32_t i = 0; i < 5000; ++i) {
        ASSERT_EQ(calls[i].data.size(), 4u);
        ASSERT_EQ(calls[i].data[0] | (calls[i].data[1] << 8), static_cast<int>(i));
        ASSERT_EQ(calls[i].peerPid, static_cast<uint32_t>(pid));
    }
    EXPECT_EQ(server.Stop(), RPC_S_OK);
}

TEST(MultiProcess, PeerSinkIsListedAndVanishesWhenKilled) {
    const std::string endpoint = TestEndpoint("kill");
    CPeerProcess peer({MBUS_RPC_PEER, "serve", endpoint});
    ASSERT_EQ(peer.ReadLine(), "ready");
    const uint32_t pid = static_cast<uint32_t>(peer.Pid());
    EXPECT_TRUE(Listed(endpoint, pid));

    // A peer that sends to it gets through while it lives.
    RPC_BINDING_HANDLE binding = TestBind(endpoint);
    EXPECT_EQ(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);

    peer.Kill(SIGKILL);
    const int status = peer.Wait();
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_FALSE(Listed(endpoint, pid));
    EXPECT_NE(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);
    RpcBindingFree(&binding);

    CTestServer server;
    const std::string annotation = endpoint + " #" + std::to_string(getpid());
    ASSERT_EQ(server.Start(endpoint, annotation.c_str()), RPC_S_OK);
    EXPECT_TRUE(Listed(endpoint, static_cast<uint32_t>(getpid())));
    EXPECT_EQ(server.Stop(), RPC_S_OK);
    EXPECT_FALSE(Listed(endpoint, static_cast<uint32_t>(getpid())));
}

TEST(MultiProcess, PeerStoppedCleanlyWithdrawsItsEntry) {
    const std::string endpoint = TestEndpoint("quit");
    CPeerProcess peer({MBUS_RPC_PEER, "serve", endpoint});
    ASSERT_EQ(peer.ReadLine(), "ready");
    const uint32_t pid = static_cast<uint32_t>(peer.Pid());
    EXPECT_TRUE(Listed(endpoint, pid));
    peer.CloseInput();
    EXPECT_EQ(peer.Wait(), 0);
    EXPECT_FALSE(Listed(endpoint, pid));
}
