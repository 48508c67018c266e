// Messaging between this process and a peer process started for the test.
#include "support/child_process.h"
#include "support/messaging_fixture.h"
#include "support/rpc_test_support.h"

namespace {

class MessagingPeers : public SinkTest {
protected:
    // Starts a receiver peer and waits until it takes messages. Its sink is listed earlier, before
    // the peer replaced the default service: what arrived until then would be lost.
    void StartReceiver() {
        peerName_ = UniqueName("mp");
        receiver_ = std::make_unique<CChildProcess>(MBUS_MESSAGING_PEER, std::vector<std::string>{"receiver", peerName_});
        ASSERT_EQ(receiver_->Next(), "ready");
        ASSERT_TRUE(SinkListed(peerName_, static_cast<uint32_t>(receiver_->Pid())));
    }

    std::string peerName_;
    std::unique_ptr<CChildProcess> receiver_;
};

}  // namespace

TEST_F(MessagingPeers, QueryIsAnsweredAndPeersLinkBothWays) {
    StartReceiver();
    OpenSource source(MbSinkOpenSource(sink_, peerName_.c_str()));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(MbSinkGetPeerFlags(sink_, peerName_.c_str()), static_cast<uint32_t>(MbPeerLocal));
    OpenProxy proxy(MbServiceOpen(source, ""));
    ASSERT_EQ(MbServiceCall(proxy, 0, Held(MbAtomNewString("connect")), Held(MbAtomNewString(name_.c_str()))), 1);
    ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink_, peerName_.c_str()) == (MbPeerLocal | MbPeerRemote); }));
    EXPECT_TRUE(TraceArrives(name_ + ": '" + peerName_ + "' connected (PID="));
    EXPECT_TRUE(TraceArrives("Remote|Local)."));
    EXPECT_EQ(MbSourceGetPid(source), static_cast<uint32_t>(receiver_->Pid()));
    EXPECT_EQ(MbSinkTestPeers(sink_), 1);

    OpenService replies(MbSinkServiceOpen(sink_, "replies", event_));
    ASSERT_EQ(MbServiceQueryCookie(proxy, 0, Held(MbAtomNewString("ping")), nullptr, replies, 1, 2), 1);
    EXPECT_EQ(NextText(replies, event_, MbReceivedReply),
              "{\"cookie\":00000002-00000001, \"proc\":\"ping\", \"result\":{\"answer\":\"pong\", \"pid\":" +
                  std::to_string(receiver_->Pid()) + "}}");
    EXPECT_EQ(CallText(proxy, "quit"), 1);
    EXPECT_EQ(receiver_->Wait(), 0);
}

TEST_F(MessagingPeers, ReceiverKilledMidStreamIsTracedAndTheSenderCarriesOn) {
    StartReceiver();
    const ProxyTo proxy(peerName_);
    Held value(MbAtomNewInt(1));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(MbServiceCall(proxy, 0, value, nullptr), 1);
    const pid_t killed = receiver_->Pid();
    receiver_->Kill();
    EXPECT_TRUE(Eventually([&] {
        MbServiceCall(proxy, 0, value, nullptr);
        return trace_capture::CountContaining("** RPC Exception 0x0000") > 0;
    }));
    EXPECT_GT(trace_capture::CountContaining(": in CSource::Request().\n"), 0u);
    EXPECT_FALSE(SinkListed(peerName_, static_cast<uint32_t>(killed)))
        << "the kernel withdrew the dead process's endpoint";
    EXPECT_EQ(MbServiceCall(proxy, 0, value, nullptr), 1) << "sending still queues";
}

TEST_F(MessagingPeers, HostilePayloadsAreDiscardedAndTheSinkKeepsServing) {
    CChildProcess hostile(MBUS_MESSAGING_PEER, {"garbage", name_});
    ASSERT_EQ(hostile.Wait(), 0);
    ASSERT_TRUE(Eventually([] { return trace_capture::CountContaining("*discarded*, ") == 10; }, 10000))
        << trace_capture::CountContaining("*discarded*, ") << " discarded";
    OpenService service(MbSinkServiceOpen(sink_, "_default", event_));
    Held message;
    EXPECT_EQ(MbSinkServiceTake(service, message.Out()), MbNothingReceived);
    EXPECT_EQ(MbSinkServicePostCall(service, Held(MbAtomNewInt(3))), MbResultOk);
}

TEST_F(MessagingPeers, ConnectExDropsALinkWhosePeerHasNotAnnouncedItself) {
    StartReceiver();
    MbSource link = nullptr;
    ASSERT_EQ(MbSinkConnect(sink_, peerName_.c_str(), &link), 1);
    ASSERT_NE(link, nullptr) << "a missing link is opened";
    EXPECT_EQ(MbSinkConnect(sink_, peerName_.c_str(), &link), 1);
    EXPECT_EQ(link, nullptr) << "the peer never announced itself: the link is dropped";
    ASSERT_EQ(MbSinkConnect(sink_, peerName_.c_str(), &link), 1);
    ASSERT_NE(link, nullptr) << "and made again";
    OpenProxy proxy(MbServiceOpen(link, ""));
    ASSERT_EQ(MbServiceCall(proxy, 0, Held(MbAtomNewString("connect")), Held(MbAtomNewString(name_.c_str()))), 1);
    ASSERT_TRUE(Eventually([&] { return (MbSinkGetPeerFlags(sink_, peerName_.c_str()) & MbPeerRemote) != 0; }))
        << "this process traced: " << ::testing::PrintToString(trace_capture::Records());
    MbSource kept = link;
    EXPECT_EQ(MbSinkConnect(sink_, peerName_.c_str(), &link), 1);
    EXPECT_EQ(link, kept) << "an announced peer keeps its link (a test is queued)";
    EXPECT_EQ(CallText(proxy, "quit"), 1);
    EXPECT_EQ(receiver_->Wait(), 0);
    MbSourceClose(link);
}
