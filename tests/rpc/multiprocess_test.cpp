// The runtime between processes, with the peer helper program.
#include "support/rpc_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>

namespace {

// The peer serving endpoint, run by the shell's exec so that it is our child. It prints its status
// and process id; it is killed and reaped at the latest on destruction.
class CPeer {
public:
    explicit CPeer(const std::string& endpoint)
        : output_(popen(("exec '" + std::string(MBUS_RPC_PEER) + "' " + endpoint).c_str(), "r")) {
        if (output_ == nullptr || std::fscanf(output_, "%ld %d", &status_, &pid_) != 2) pid_ = -1;
    }
    ~CPeer() { Close(SIGKILL); }
    RPC_STATUS Status() const { return status_; }
    uint32_t Pid() const { return static_cast<uint32_t>(pid_); }
    // Sends signal (0 for none) and waits until the peer is gone.
    void Close(int signal = 0) {
        if (pid_ > 0 && signal != 0) kill(pid_, signal);
        if (output_) pclose(output_);
        output_ = nullptr;
    }

private:
    FILE* output_;
    RPC_STATUS status_ = -1;
    pid_t pid_ = -1;
};

}  // namespace

// A live endpoint cannot be taken by another process; a SIGKILLed owner leaves no entry behind
// and its name can be taken at once.
TEST(MultiProcess, EndpointBelongsToOneLiveProcessAndVanishesWithIt) {
    const std::string endpoint = TestEndpoint("mp");
    CTestServer server;
    ASSERT_EQ(server.Start(endpoint), RPC_S_OK);
    EXPECT_EQ(CPeer(endpoint).Status(), RPC_S_DUPLICATE_ENDPOINT);
    ASSERT_EQ(server.Stop(), RPC_S_OK);

    CPeer peer(endpoint);
    ASSERT_EQ(peer.Status(), RPC_S_OK);
    const uint32_t pid = peer.Pid();
    EXPECT_TRUE(SinkListed(endpoint, pid));
    RPC_BINDING_HANDLE binding = TestBind(endpoint);
    EXPECT_EQ(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);

    peer.Close(SIGKILL);
    EXPECT_FALSE(SinkListed(endpoint, pid));
    EXPECT_NE(DeliverStatus(binding, "s", 0, 1, nullptr, 0), RPC_S_OK);
    RpcBindingFree(&binding);

    const std::string annotation = endpoint + " #" + std::to_string(getpid());
    ASSERT_EQ(server.Start(endpoint, annotation.c_str()), RPC_S_OK);
    EXPECT_TRUE(SinkListed(endpoint, static_cast<uint32_t>(getpid())));
}
