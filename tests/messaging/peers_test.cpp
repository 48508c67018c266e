// Messaging between this process and a peer process started for the test.
#include "support/child_process.h"
#include "support/line_reader.h"
#include "support/messaging_fixture.h"

namespace {

// Whether a sink of that name from that process is listed.
bool Listed(const std::string& sinkName, pid_t pid) {
    MbItem list = nullptr;
    const uint32_t all = MbSinkListNoSession | MbSinkListOwnSession | MbSinkListOtherSession;
    if (MbSinkListEx(MbSinkListName | MbSinkListPid | all, &list) != MbResultOk) return false;
    return TextOf(Held(list)).find("{\"Name\":\"" + sinkName + "\", \"PID\":" + std::to_string(pid) + "}") != std::string::npos;
}

class MessagingPeers : public SinkTest {
protected:
    // Starts a receiver peer and waits until it takes messages. Its sink is listed earlier, before
    // the peer replaced the default service: what arrived until then would be lost.
    void StartReceiver() {
        peerName = UniqueName("mp");
        receiver = std::make_unique<CChildProcess>(MBUS_MESSAGING_PEER, std::vector<std::string>{"receiver", peerName});
        ASSERT_NE(receiver->Pid(), 0);
        ASSERT_EQ(CLineReader(receiver->Output()).Next(), "ready");
        ASSERT_TRUE(Listed(peerName, receiver->Pid()));
    }
    // Asks the receiver to link back to our sink, or to quit.
    void AskToConnectBack(MbService proxy) {
        ASSERT_EQ(MbServiceCall(proxy, 0, Held(MbAtomNewString("connect")), Held(MbAtomNewString(name.c_str()))), 1);
    }
    void Quit(MbService proxy) { EXPECT_EQ(MbServiceCall(proxy, 0, Held(MbAtomNewString("quit")), nullptr), 1); }

    std::string peerName;
    std::unique_ptr<CChildProcess> receiver;
};

}  // namespace

TEST_F(MessagingPeers, QueryIsAnsweredAndPeersLinkBothWays) {
    StartReceiver();
    OpenSource source(MbSinkOpenSource(sink, peerName.c_str()));
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(MbSinkGetPeerFlags(sink, peerName.c_str()), static_cast<uint32_t>(MbPeerLocal));
    OpenProxy proxy(MbServiceOpen(source, ""));
    AskToConnectBack(proxy);
    ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink, peerName.c_str()) == (MbPeerLocal | MbPeerRemote); }));
    EXPECT_TRUE(TraceArrives(name + ": '" + peerName + "' connected (PID="));
    EXPECT_TRUE(TraceArrives("Remote|Local)."));
    EXPECT_EQ(MbSourceGetPid(source), static_cast<uint32_t>(receiver->Pid()));
    EXPECT_EQ(MbSinkTestPeers(sink), 1);

    OpenService replies(MbSinkServiceOpen(sink, "replies", event));
    ASSERT_EQ(MbServiceQueryCookie(proxy, 0, Held(MbAtomNewString("ping")), nullptr, replies, 1, 2), 1);
    MbItem reply = nullptr;
    ASSERT_EQ(TakeWithin(replies, event, &reply), MbReceivedReply);
    EXPECT_EQ(TextOf(Held(reply)), "{\"cookie\":00000002-00000001, \"proc\":\"ping\", \"result\":{\"answer\":\"pong\", \"pid\":" +
                                       std::to_string(receiver->Pid()) + "}}");
    Quit(proxy);
    EXPECT_EQ(receiver->Wait(), 0);
}

TEST_F(MessagingPeers, ReceiverKilledMidStreamIsTracedAndTheSenderCarriesOn) {
    StartReceiver();
    OpenSource source(MbSourceOpen(peerName.c_str()));
    OpenProxy proxy(MbServiceOpen(source, ""));
    Held value(MbAtomNewInt(1));
    for (int i = 0; i < 100; ++i) ASSERT_EQ(MbServiceCall(proxy, 0, value, nullptr), 1);
    const pid_t killed = receiver->Pid();
    receiver->Kill();
    EXPECT_TRUE(Eventually([&] {
        MbServiceCall(proxy, 0, value, nullptr);
        return trace_capture::CountContaining("** RPC Exception 0x0000") > 0;
    }));
    EXPECT_GT(trace_capture::CountContaining(": in CSource::Request().\n"), 0u);
    EXPECT_FALSE(Listed(peerName, killed)) << "the kernel withdrew the dead process's endpoint";
    EXPECT_EQ(MbServiceCall(proxy, 0, value, nullptr), 1) << "sending still queues";
}

TEST_F(MessagingPeers, HostilePayloadsAreDiscardedAndTheSinkKeepsServing) {
    CChildProcess hostile(MBUS_MESSAGING_PEER, {"garbage", name});
    ASSERT_EQ(hostile.Wait(), 0);
    ASSERT_TRUE(Eventually([] { return trace_capture::CountContaining("*discarded*, ") == 10; }, 10000))
        << trace_capture::CountContaining("*discarded*, ") << " discarded";
    OpenService service(MbSinkServiceOpen(sink, "_default", event));
    MbItem message = nullptr;
    EXPECT_EQ(MbSinkServiceTake(service, &message), MbNothingReceived);
    EXPECT_EQ(MbSinkServicePostCall(service, Held(MbAtomNewInt(3))), MbResultOk);
}

TEST_F(MessagingPeers, ConnectExDropsALinkWhosePeerHasNotAnnouncedItself) {
    StartReceiver();
    MbSource link = nullptr;
    ASSERT_EQ(MbSinkConnect(sink, peerName.c_str(), &link), 1);
    ASSERT_NE(link, nullptr) << "a missing link is opened";
    EXPECT_EQ(MbSinkConnect(sink, peerName.c_str(), &link), 1);
    EXPECT_EQ(link, nullptr) << "the peer never announced itself: the link is dropped";
    ASSERT_EQ(MbSinkConnect(sink, peerName.c_str(), &link), 1);
    ASSERT_NE(link, nullptr) << "and made again";
    MbService proxy = MbServiceOpen(link, "");
    AskToConnectBack(proxy);
    ASSERT_TRUE(Eventually([&] { return (MbSinkGetPeerFlags(sink, peerName.c_str()) & MbPeerRemote) != 0; }))
        << "this process traced: " << ::testing::PrintToString(trace_capture::Records());
    MbSource kept = link;
    EXPECT_EQ(MbSinkConnect(sink, peerName.c_str(), &link), 1);
    EXPECT_EQ(link, kept) << "an announced peer keeps its link (a test is queued)";
    Quit(proxy);
    EXPECT_EQ(receiver->Wait(), 0);
    MbServiceClose(proxy);
    MbSourceClose(link);
}
