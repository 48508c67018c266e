// The runtime between processes, with the peer helper program.
#include "support/child_process.h"
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>

namespace {

// The status with which a peer started on endpoint registered it.
RPC_STATUS PeerStatus(CChildProcess& peer) {
    const std::string line = peer.Next();
    return line[0] == '<' ? -1 : std::stol(line);
}

}  // namespace

// A SIGKILLed owner leaves no entry behind and its name can be taken at once.
TEST(MultiProcess, EndpointBelongsToOneLiveProcessAndVanishesWithIt) {
    const std::string endpoint = TestEndpoint("mp");
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint), RPC_S_OK);
    CChildProcess duplicate(MBUS_RPC_PEER, {endpoint});
    EXPECT_EQ(PeerStatus(duplicate), RPC_S_DUPLICATE_ENDPOINT);
    ASSERT_EQ(server.Stop(), RPC_S_OK);

    CChildProcess peer(MBUS_RPC_PEER, {endpoint});
    ASSERT_EQ(PeerStatus(peer), RPC_S_OK);
    const uint32_t pid = static_cast<uint32_t>(peer.Pid());
    EXPECT_TRUE(SinkListed(endpoint, pid));
    CTestBinding binding(endpoint);
    EXPECT_EQ(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);

    peer.Kill();
    EXPECT_FALSE(SinkListed(endpoint, pid));
    EXPECT_NE(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);

    const std::string annotation = endpoint + " #" + std::to_string(getpid());
    ASSERT_EQ(server.Start(endpoint, annotation.c_str()), RPC_S_OK);
    EXPECT_TRUE(SinkListed(endpoint, static_cast<uint32_t>(getpid())));
}
