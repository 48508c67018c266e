// Messaging between this process and a peer process started for the test.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/messaging_fixture.h"

extern char** environ;

namespace {

// A peer process that is killed and reaped when the test ends.
class CPeer {
public:
    CPeer(const char* mode, const std::string& sinkName) {
        const char* argv[] = {MBUS_MESSAGING_PEER, mode, sinkName.c_str(), nullptr};
        if (posix_spawn(&pid_, MBUS_MESSAGING_PEER, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = 0;
    }
    ~CPeer() { Kill(); }
    pid_t Pid() const { return pid_; }
    void Kill() {
        if (pid_ == 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }
    // Waits for the peer to end by itself; its exit status, or -1.
    int Wait() {
        int status = 0;
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        return -1;
    }

private:
    pid_t pid_ = 0;
};

// Whether a sink of that name from that process is listed.
bool Listed(const std::string& sinkName, pid_t pid) {
    MbItem list = nullptr;
    const uint32_t all = MbSinkListNoSession | MbSinkListOwnSession | MbSinkListOtherSession;
    if (MbSinkListEx(MbSinkListName | MbSinkListPid | all, &list) != MbResultOk) return false;
    const std::string text = TextOf(list);
    MbHandleRelease(list);
    return text.find("{\"Name\":\"" + sinkName + "\", \"PID\":" + std::to_string(pid) + "}") != std::string::npos;
}

class MessagingPeers : public SinkTest {
protected:
    // Starts a receiver peer and waits until its sink is listed.
    void StartReceiver() {
        peerName = UniqueName("mp");
        receiver = std::make_unique<CPeer>("receiver", peerName);
        ASSERT_NE(receiver->Pid(), 0);
        ASSERT_TRUE(Eventually([&] { return Listed(peerName, receiver->Pid()); }));
    }
    // A call of the procedure "connect" asking the receiver to link back to our sink.
    void AskToConnectBack(MbService proxy) {
        MbItem call = MbBuild("s", "connect");
        MbItem argument = MbAtomNewString(name.c_str());
        ASSERT_EQ(MbServiceCall(proxy, 0, call, argument), 1);
        MbHandleRelease(call);
        MbHandleRelease(argument);
    }
    void Quit(MbService proxy) {
        MbItem quit = MbAtomNewString("quit");
        EXPECT_EQ(MbServiceCall(proxy, 0, quit, nullptr), 1);
        MbHandleRelease(quit);
    }

    std::string peerName;
    std::unique_ptr<CPeer> receiver;
};

}  // namespace

TEST_F(MessagingPeers, QueryIsAnsweredAndPeersLinkBothWays) {
    StartReceiver();
    MbSource source = MbSinkOpenSource(sink, peerName.c_str());
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(MbSinkGetPeerFlags(sink, peerName.c_str()), static_cast<uint32_t>(MbPeerLocal));
    MbService proxy = MbServiceOpen(source, "");
    AskToConnectBack(proxy);
    ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink, peerName.c_str()) == (MbPeerLocal | MbPeerRemote); }));
    EXPECT_TRUE(TraceArrives(name + ": '" + peerName + "' connected (PID="));
    EXPECT_TRUE(TraceArrives("Remote|Local)."));
    EXPECT_EQ(MbSourceGetPid(source), static_cast<uint32_t>(receiver->Pid()));
    EXPECT_EQ(MbSinkTestPeers(sink), 1);

    // The connection update reached our default service: peer name -> true.
    MbSinkService replies = MbSinkServiceOpen(sink, "replies", event);
    MbItem procedure = MbAtomNewString("ping");
    ASSERT_EQ(MbServiceQueryCookie(proxy, 0, procedure, nullptr, replies, 1, 2), 1);
    MbItem reply = nullptr;
    ASSERT_EQ(TakeWithin(replies, event, &reply), MbReceivedReply);
    EXPECT_NE(TextOf(reply).find("\"result\":{\"answer\":\"pong\""), std::string::npos) << TextOf(reply);

    Quit(proxy);
    EXPECT_EQ(receiver->Wait(), 0);
    for (MbItem item : {procedure, reply}) MbHandleRelease(item);
    MbSinkServiceClose(replies);
    MbServiceClose(proxy);
    MbSourceClose(source);
}

TEST_F(MessagingPeers, ReceiverKilledMidStreamIsTracedAndTheSenderCarriesOn) {
    StartReceiver();
    MbSource source = MbSourceOpen(peerName.c_str());
    MbService proxy = MbServiceOpen(source, "");
    MbItem value = MbAtomNewInt(1);
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
    MbHandleRelease(value);
    MbServiceClose(proxy);
    MbSourceClose(source);
}

TEST_F(MessagingPeers, HostilePayloadsAreDiscardedAndTheSinkKeepsServing) {
    CPeer hostile("garbage", name);
    ASSERT_EQ(hostile.Wait(), 0);
    ASSERT_TRUE(Eventually([] { return trace_capture::CountContaining("*discarded*, ") == 10; }, 10000))
        << trace_capture::CountContaining("*discarded*, ") << " discarded";
    MbSinkService service = MbSinkServiceOpen(sink, "_default", event);
    MbItem message = nullptr;
    EXPECT_EQ(MbSinkServiceTake(service, &message), MbNothingReceived);
    EXPECT_EQ(MbSinkServicePostCall(service, message = MbAtomNewInt(3)), MbResultOk);
    MbHandleRelease(message);
    MbSinkServiceClose(service);
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
    ASSERT_TRUE(Eventually([&] { return (MbSinkGetPeerFlags(sink, peerName.c_str()) & MbPeerRemote) != 0; }));
    MbSource kept = link;
    EXPECT_EQ(MbSinkConnect(sink, peerName.c_str(), &link), 1);
    EXPECT_EQ(link, kept) << "an announced peer keeps its link (a test is queued)";
    Quit(proxy);
    EXPECT_EQ(receiver->Wait(), 0);
    MbServiceClose(proxy);
    MbSourceClose(link);
}
