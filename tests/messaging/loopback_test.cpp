// End to end inside one process: a source bound to the process's own sink goes the whole road
// (envelope, source request thread, transport, sink request thread, service).
#include <future>

#include "messaging/sink.h"
#include "messaging/source.h"
#include "messaging/trace_line.h"
#include "platform/rpc/socket.h"
#include "requests/request_threads.h"
#include "support/messaging_fixture.h"
#include "support/rpc_test_support.h"

namespace {

class Loopback : public SinkTest {
protected:
    void SetUp() override {
        SinkTest::SetUp();
        // Replaces the registered default service by one whose handle the test holds.
        service_ = MbSinkServiceOpen(sink_, "_default", event_);
        ASSERT_NE(service_, nullptr);
        source_ = MbSourceOpen(name_.c_str());
        proxy_ = MbServiceOpen(source_, "");
        ASSERT_NE(proxy_, nullptr) << "no source, or no proxy";
    }
    void TearDown() override {
        MbServiceClose(proxy_);
        MbSourceClose(source_);
        MbSinkServiceClose(service_);
        SinkTest::TearDown();
    }
    // The text of the next message of `from` (default: the test's service), expecting `code`.
    std::string Next(MbResult code = MbReceivedCall, MbSinkService from = nullptr) {
        return NextText(from != nullptr ? from : service_, event_, code);
    }
    static int Call(MbService to, int32_t value) { return MbServiceCall(to, 0, Held(MbAtomNewInt(value)), nullptr); }
    CSink* Object() { return static_cast<CSink*>(static_cast<CRefCount*>(sink_)); }
    // The labels of the trace lines that contain one of the needles, in trace order.
    static std::vector<std::string> TraceOrder(std::initializer_list<std::pair<std::string, const char*>> labels) {
        std::vector<std::string> order;
        for (const TraceRecord& record : trace_capture::Records()) {
            for (const auto& [needle, label] : labels) {
                if (record.text.find(needle) != std::string::npos) order.push_back(label);
            }
        }
        return order;
    }
    std::string State() {
        MbItem state = nullptr;
        EXPECT_EQ(MbSinkServiceGetState(service_, &state), MbResultOk);
        return TextOf(Held(state));
    }

    MbSinkService service_ = nullptr;
    MbSource source_ = nullptr;
    MbService proxy_ = nullptr;
};

TEST_F(Loopback, CallsArriveAsProcedureOrEnvelopeInOrder) {
    Held procedure(MbAtomNewString("start"));
    EXPECT_EQ(MbServiceCall(proxy_, 0, Held(MbAtomNewReal(1.5)), nullptr), 0) << "a Real is no procedure";
    ASSERT_EQ(MbServiceCall(proxy_, 0, procedure, nullptr), 1);
    ASSERT_EQ(MbServiceCall(proxy_, 0, procedure, Held(MbAtomNewInt(42))), 1);
    EXPECT_EQ(Next(), "\"start\"");
    EXPECT_EQ(Next(), "{\"arg\":42, \"proc\":\"start\"}");
    EXPECT_EQ(NextText(service_, event_, MbNothingReceived, 0), "") << "nothing more is waiting";
    EXPECT_TRUE(TraceArrives(name_ + "._default.Call: "));
}

TEST_F(Loopback, QueryCarriesSourceServiceAndCookieAndReplyComesBack) {
    OpenService replies(MbSinkServiceOpen(sink_, "answers", event_));
    Held procedure(MbAtomNewString("temperature"));
    ASSERT_EQ(MbServiceQueryCookie(proxy_, 0, procedure, nullptr, replies, 7, 1), 1);
    Held query, cookie, reply;
    ASSERT_EQ(TakeWithin(service_, event_, query.Out()), MbReceivedQuery);
    EXPECT_EQ(TextOf(query), "{\"cookie\":00000001-00000007, \"proc\":\"temperature\", \"service\":\"answers\", "
                             "\"source\":\"" + name_ + "\"}");
    ASSERT_EQ(MbMapGetNamed(query, "cookie", cookie.Out()), MbResultOk);

    // Answer through a proxy for the named service of the querying sink.
    OpenProxy backProxy(MbServiceOpen(source_, "answers"));
    ASSERT_EQ(MbServiceReply(backProxy, 0, procedure, cookie, Held(MbAtomNewReal(21.5))), 1);
    ASSERT_EQ(MbServiceReply(backProxy, 0, nullptr, cookie, nullptr), 1);
    EXPECT_EQ(MbServiceReply(backProxy, 0, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(Next(MbReceivedReply, replies), "{\"cookie\":00000001-00000007, \"proc\":\"temperature\", \"result\":21.5}");
    ASSERT_EQ(TakeWithin(replies, event_, reply.Out()), MbReceivedReply);
    EXPECT_TRUE(MbItemEqual(reply, cookie)) << "a bare cookie comes back whole";
    EXPECT_TRUE(TraceArrives(name_ + ".answers.Reply: "));
}

TEST_F(Loopback, AdviseReplacesUpdateMergesAndNonMapsAreDiscarded) {
    Held second(MbBuild("{s:i,s:i}", "b", 3, "c", 4));
    ASSERT_EQ(MbServiceUpdate(proxy_, 0, Held(MbBuild("{s:i,s:i}", "a", 1, "b", 2))), 1);  // an empty state adopts it
    ASSERT_EQ(MbServiceUpdate(proxy_, 0, second), 1);
    ASSERT_TRUE(Eventually([&] { return trace_capture::CountContaining(".Update: ") == 2; }));
    const std::string merged = "{\"a\":1, \"b\":3, \"c\":4}";
    EXPECT_EQ(State(), merged);
    ASSERT_EQ(MbServiceAdvise(proxy_, 0, Held(MbBuild("[i]", 5))), 1);
    ASSERT_TRUE(TraceArrives(".Advise: *discarded*, "));
    EXPECT_EQ(State(), merged) << "a List does not replace the state";
    ASSERT_EQ(MbServiceAdvise(proxy_, 0, second), 1);
    ASSERT_TRUE(Eventually([&] { return State() == TextOf(second); }));
    EXPECT_EQ(MbServiceAdvise(proxy_, 0, nullptr), 0);
}

TEST_F(Loopback, RawSendIsTracedUpToItsFirstNulAndSignals) {
    const char bytes[5] = {'a', 'b', '\0', 'c', 'd'};
    ResetEvent(event_);
    ASSERT_EQ(MbServiceSend(proxy_, 0, bytes, 5), 1);
    EXPECT_EQ(WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(TraceArrives(name_ + "._default.Send: received 5 bytes (ab).\n"));
    ASSERT_EQ(MbServicePost(proxy_, 0, MbKindRequest, "xyz", 3), 1);
    EXPECT_TRUE(TraceArrives("._default.Request: received 3 bytes (xyz).\n"));
}

TEST_F(Loopback, PeekKeepsTakeRemovesAndPostCallNeedsNoTransport) {
    Held first(MbAtomNewString("one"));
    EXPECT_EQ(MbSinkServicePostCall(service_, first), MbResultOk);
    EXPECT_EQ(MbSinkServicePostCall(service_, Held(MbAtomNewString("two"))), MbResultOk);
    for (int peek = 0; peek < 2; ++peek) {
        Held seen;
        EXPECT_EQ(MbSinkServicePeek(service_, seen.Out()), MbReceivedCall);
        EXPECT_EQ(seen.handle, first.handle);
    }
    EXPECT_EQ(Next(), "\"one\"");
    EXPECT_EQ(Next(), "\"two\"");
    EXPECT_EQ(NextText(service_, event_, MbNothingReceived, 0), "") << "nothing more is waiting";
    EXPECT_EQ(MbSinkServiceTake(service_, nullptr), MbResultInvalid);
    EXPECT_EQ(MbSinkServicePostCall(nullptr, first), MbResultInvalid);
    EXPECT_EQ(MbSinkServicePostCall(service_, Held(MbBuild("{s:i}", "x", 1))), MbResultFailed) << "a call map needs proc";
}

// A local call to a full queue is refused; one arriving over the transport waits until takes
// bring the queue down to its low mark, and nothing is lost or reordered. Each taken message
// carries the queue's reference (leak check).
TEST_F(Loopback, AFullServiceRefusesLocalCallsAndHoldsArrivingOnes) {
    const int32_t limit = CSinkService::kMaxQueuedMessages;
    const int32_t low = CSinkService::kLowQueuedMessages;
    auto post = [&](int32_t value) { return MbSinkServicePostCall(service_, Held(MbAtomNewInt(value))); };
    for (int32_t i = 0; i < limit; ++i) ASSERT_EQ(post(i), MbResultOk) << i;
    EXPECT_EQ(post(limit), MbResultFailed) << "a full queue refuses a local call";
    EXPECT_TRUE(TraceArrives("._default.Call: *discarded*, " + std::to_string(limit) + "."));
    ASSERT_EQ(Call(proxy_, limit), 1);
    ASSERT_EQ(Call(proxy_, limit + 1), 1);
    // The sink request thread holds the first while it waits for room; the second follows it.
    ASSERT_TRUE(Eventually([&] { return Object()->FindService("_default")->WaitingForRoom(); }));
    const std::string held = "._default.Call: " + std::to_string(limit) + ".";
    for (int32_t expected = 0; expected < limit - low - 1; ++expected) ASSERT_EQ(Next(), std::to_string(expected));
    EXPECT_EQ(trace_capture::CountContaining(held), 0u) << "waits for room while above the low mark";
    ASSERT_EQ(Next(), std::to_string(limit - low - 1));
    EXPECT_TRUE(TraceArrives("._default.Call: " + std::to_string(limit + 1) + "."));
    for (int32_t expected = limit - low; expected <= limit + 1; ++expected) ASSERT_EQ(Next(), std::to_string(expected));
    EXPECT_EQ(NextText(service_, event_, MbNothingReceived, 0), "") << "nothing more is waiting";
}

// A saturated sink thread (held on the service's lock) holds off the transport: its queue stops
// growing at its limit (of bytes for large messages, of messages for small ones, which the
// transport gathers into groups), the sender's frames wait in the socket and then in the
// source's backlog, and once the send window is full the sending functions refuse at once, with
// one warning. Every accepted message arrives once the thread goes on, and the source accepts
// again.
TEST_F(Loopback, ASaturatedSinkPausesIntakeAndAFullSendWindowRefuses) {
    for (const size_t size : {size_t{4000}, size_t{64}}) {
        SCOPED_TRACE(size);
        trace_capture::Clear();
        std::vector<uint8_t> payload(size, 'y');
        payload[1] = 0;  // the Send trace line shows "y"
        const std::string line = "._default.Send: received " + std::to_string(size) + " bytes (y).";
        auto send = [&] { return MbServiceSend(proxy_, 0, payload.data(), static_cast<uint16_t>(payload.size())); };
        ASSERT_EQ(MbHandleLock(service_), MbResultOk);
        long accepted = 0;
        while (accepted < 200000 && send() == 1) ++accepted;
        EXPECT_GE(accepted, static_cast<long>(std::min(CSource::kWindowMessages, CSource::kWindowBytes / size)));
        for (int i = 0; i < 1000; ++i) ASSERT_EQ(send(), 0) << "a full window keeps refusing";
        EXPECT_EQ(trace_capture::CountContaining("sending refused while the backlog is full"), 1u)
            << "one per episode";
        // The window fills while the dispatcher may still be reading what the socket holds: the
        // queue is looked at once the dispatcher has paused its intake.
        ASSERT_TRUE(Eventually([] { return RpcServerIntakePaused(); })) << "a full sink queue pauses intake";
        const size_t limit = std::min(kSinkQueueMessages, (kSinkQueueBytes + size - 1) / size);
        const size_t queued = QueuedMessages(true);
        EXPECT_GE(queued, limit) << "the queue reached its limit";
        EXPECT_LE(queued, limit + 4096 / size) << "and went past it by one group at most";
        EXPECT_TRUE(RpcServerIntakePaused()) << "intake stays paused while the thread is held";
        ASSERT_EQ(MbHandleUnlock(service_), MbResultOk);
        EXPECT_TRUE(Eventually([&] { return trace_capture::CountContaining(line) == size_t(accepted); }, 60000))
            << trace_capture::CountContaining(line) << " of " << accepted;
        // The resume is the dispatcher's next turn: when the last read filled the queue once more,
        // that turn may come after the last message was handled.
        EXPECT_TRUE(Eventually([] { return !RpcServerIntakePaused(); })) << "taking the queue resumed intake";
        ASSERT_TRUE(Eventually([&] { return send() == 1; })) << "the drained window accepts again";
        EXPECT_TRUE(Eventually([&] { return trace_capture::CountContaining(line) == size_t(accepted) + 1; }));
    }
}

// A receiver that never reads holds back only the messages to it: its source's window fills
// and refuses while messages to another sink go on at once.
TEST_F(Loopback, AStuckReceiverBlocksOnlyItsOwnSource) {
    const std::string stuckName = UniqueName("stuck");
    const int listener = ListenWithoutAccepting(stuckName, 4);  // written frames wait in the socket
    ASSERT_GE(listener, 0);
    const std::vector<uint8_t> payload(65535);
    long accepted = 0;
    {
        const ProxyTo stuck(stuckName);
        ASSERT_NE(stuck, nullptr);
        while (accepted < 10000 && MbServiceSend(stuck, 0, payload.data(), 65535) == 1) ++accepted;
        EXPECT_LT(accepted, 10000) << "the window filled";
        EXPECT_GE(accepted, static_cast<long>(CSource::kWindowBytes / 65535));
        for (int32_t i = 0; i < 100; ++i) ASSERT_EQ(Call(proxy_, i), 1);
        // They queue behind the stuck source's full window on the source request thread, which a
        // sanitized build copies slowly; they do not wait for the stuck receiver.
        for (int32_t i = 0; i < 100; ++i)
            ASSERT_EQ(NextText(service_, event_, MbReceivedCall, 60000), std::to_string(i));
        EXPECT_TRUE(TraceArrives("sending refused while the backlog is full"));
    }
    // The receiver goes: the kept-back messages are lost, each reported (those the socket took
    // count as delivered).
    CloseDescriptor(listener);
    const auto lost = [] { return long(trace_capture::CountContaining("in CSource::Request()")); };
    EXPECT_TRUE(Eventually([&] { return lost() >= accepted - 8; }, 60000)) << lost() << " of " << accepted;
    EXPECT_LE(lost(), accepted);
}

// The sink caches the service it found last; a stale one would be a use after free (sanitizer).
// Closing a replaced service leaves its successor registered.
TEST_F(Loopback, MessagesFollowAServiceReplacedOrClosedUnderTheSameName) {
    OpenProxy named(MbServiceOpen(source_, "svc"));
    ASSERT_NE(named, nullptr);
    MbSinkService first = MbSinkServiceOpen(sink_, "svc", event_);
    ASSERT_EQ(Call(named, 1), 1);
    EXPECT_EQ(Next(MbReceivedCall, first), "1");
    MbSinkService second = MbSinkServiceOpen(sink_, "SVC", event_);
    ASSERT_EQ(Call(named, 2), 1);
    EXPECT_EQ(Next(MbReceivedCall, second), "2");
    MbSinkServiceClose(first);
    ASSERT_EQ(Call(named, 3), 1);
    EXPECT_EQ(Next(MbReceivedCall, second), "3");
    MbSinkServiceClose(second);
    ASSERT_EQ(Call(named, 4), 1);
    // Handled in order on one stream: once this call arrived, the one for "svc" was handled.
    ASSERT_EQ(Call(proxy_, -1), 1);
    EXPECT_EQ(Next(), "-1");
    OpenService third(MbSinkServiceOpen(sink_, "svc", event_));
    ASSERT_EQ(Call(named, 5), 1);
    EXPECT_EQ(Next(MbReceivedCall, third), "5") << "the call for a closed service went nowhere";
}

// A link closed while its connection notice is still queued, then made again at once: a late
// disconnection would make the peer forget the live link.
TEST_F(Loopback, AClosedAndReopenedLinkEndsUpConnected) {
    for (int round = 0; round < 20; ++round) {
        MbSource first = MbSinkOpenSource(sink_, name_.c_str());
        ASSERT_NE(first, nullptr);
        MbSourceClose(first);
        MbSource second = MbSinkOpenSource(sink_, name_.c_str());
        ASSERT_NE(second, nullptr);
        // Wait until the second link's connection update arrived, then everything before it too.
        ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink_, name_.c_str()) == (MbPeerLocal | MbPeerRemote); }));
        ASSERT_EQ(Call(proxy_, round), 1);
        EXPECT_EQ(Next(), std::to_string(round));
        EXPECT_EQ(MbSinkGetPeerFlags(sink_, name_.c_str()), static_cast<uint32_t>(MbPeerLocal | MbPeerRemote));
        MbSourceClose(second);
        ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink_, name_.c_str()) == 0; }));
    }
}

TEST_F(Loopback, ClosingALinkDeliversItsQueueThenTheDisconnection) {
    MbSource link = MbSinkOpenSource(sink_, name_.c_str());
    MbService linkProxy = MbServiceOpen(link, "");
    for (int i = 0; i < 3; ++i) ASSERT_EQ(MbServiceCall(linkProxy, 0, Held(MbAtomNewString("queued")), nullptr), 1);
    MbServiceClose(linkProxy);
    EXPECT_EQ(MbSourceClose(link), 1);
    const std::string disconnected = "._default.Update: {\"" + name_ + "\":False}.";
    ASSERT_TRUE(TraceArrives(disconnected));
    EXPECT_EQ(TraceOrder({{".Call: \"queued\"", "call"}, {disconnected, "disconnected"}}),
              (std::vector<std::string>{"call", "call", "call", "disconnected"}));
    EXPECT_EQ(MbSinkGetPeerFlags(sink_, name_.c_str()), 0u) << "no link is left either way";
}

// The source request thread takes the source's lock before it sends: while the test holds it,
// the queued tests wait, and a close, however often repeated, only marks the link. It is
// withdrawn once, after the tests went out over it.
TEST_F(Loopback, ALinkClosedTwiceIsWithdrawnOnceAfterItsQueue) {
    MbSource link = MbSinkOpenSource(sink_, name_.c_str());
    ASSERT_NE(link, nullptr);
    CSource* object = static_cast<CSource*>(static_cast<CRefCount*>(link));
    const uint32_t linked = MbPeerLocal | MbPeerRemote;
    ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink_, name_.c_str()) == linked && object->PendingRequests() == 0; }));
    ASSERT_EQ(MbHandleAddRef(link), MbResultOk);  // one reference for each close
    ASSERT_EQ(MbHandleLock(link), MbResultOk);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(MbSourceTest(link), 1);
    for (int close = 1; close <= 2; ++close) {
        EXPECT_EQ(MbSourceClose(link), 1) << close;
        // Read on a thread of its own: the sink's lock comes before the source's, held here.
        EXPECT_EQ(std::async(std::launch::async, [&] { return MbSinkGetPeerFlags(sink_, name_.c_str()); }).get(), linked)
            << "a disconnection notice queued by the close would have cleared Local";
        EXPECT_GT(object->PendingRequests(), 0u) << "the tests wait, and the close with them " << close;
    }
    ASSERT_EQ(MbHandleUnlock(link), MbResultOk);
    const std::string disconnected = name_ + ": '" + name_ + "' disconnected (PID=";
    ASSERT_TRUE(TraceArrives(disconnected));
    EXPECT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink_, name_.c_str()) == 0; }));
    EXPECT_EQ(TraceOrder({{name_ + ": was tested.", "test"}, {disconnected, "disconnected"}, {"closed connection", "closed"}}),
              (std::vector<std::string>{"test", "test", "test", "disconnected"}));
}

TEST_F(Loopback, HandlesOfTheWrongKindOrClosedAreRefused) {
    MbItem message = nullptr;
    EXPECT_EQ(MbServiceSend(sink_, 0, "x", 1), 0) << "a sink is no service proxy";
    EXPECT_EQ(MbSinkServiceTake(source_, &message), MbResultInvalid);
    EXPECT_EQ(MbSourceTest(proxy_), 0);
    EXPECT_EQ(MbSinkClose(service_), 0);
    EXPECT_EQ(MbSinkServiceOpen(source_, "x", nullptr), nullptr);
    Held atom(MbAtomNewInt(1));
    EXPECT_EQ(MbServiceCall(atom, 0, atom, nullptr), 0);

    MbSource closed = MbSourceOpen(name_.c_str());
    EXPECT_EQ(MbSourceClose(closed), 1);
    trace_capture::Clear();
    EXPECT_EQ(MbServiceOpen(closed, ""), nullptr);
    EXPECT_EQ(MbSourceClose(closed), 0);
    int local = 0;
    EXPECT_EQ(MbServiceCall(proxy_, 0, atom, &local), 0) << "an argument that is no live item";
    EXPECT_EQ(trace_capture::CountContaining("attempt to reference an unknown object at"), 3u);
    EXPECT_EQ(MbServiceCall(proxy_, 0, atom, nullptr), 1) << "the live objects are untouched";
    EXPECT_EQ(Next(), "1");
}

// Around the size at which a line leaves the stack buffer.
using TraceLines = LibraryTest;

TEST_F(TraceLines, LinesOfEverySizeArriveWholeInOneCall) {
    for (size_t size : {1u, 253u, 254u, 255u, 256u, 257u, 4000u}) {
        trace_capture::Clear();
        const std::string head = "line-" + std::to_string(size) + ":";
        const std::string text = head + std::string(size - std::min(size, head.size()), 'x');
        CTraceLine line;
        // In two pieces, so that the second one crosses the boundary.
        line.Append(text.data(), text.size() / 2);
        line.Append(text.substr(text.size() / 2));
        line.Emit();
        EXPECT_EQ(trace_capture::Records(), (TraceRecords{{text + "\n", 16}})) << size;
    }
}

// Messages through two sources keep their posting order; every message holds a sink reference
// until handled; a closed service gives back its own.
TEST_F(Loopback, MessagesKeepTheirOrderAcrossSourcesAndGiveBackTheirSinkReferences) {
    uint16_t withOther = 0;
    {
        OpenService other(MbSinkServiceOpen(sink_, "other", event_));
        OpenProxy otherProxy(MbServiceOpen(source_, "other"));
        OpenSource second(MbSourceOpen(name_.c_str()));
        OpenProxy secondProxy(MbServiceOpen(second, ""));
        ASSERT_NE(otherProxy, nullptr);
        const MbService through[] = {proxy_, otherProxy, secondProxy};
        withOther = Object()->RefCount();
        // A call after a pause is written by this thread, the calls right behind it are queued.
        for (int i = 0; i < 200; ++i) {
            if (i % 5 == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            ASSERT_EQ(Call(through[i % 3], i), 1);
        }
        for (int i = 0; i < 200; ++i) ASSERT_EQ(Next(MbReceivedCall, i % 3 == 1 ? other : service_), std::to_string(i));
        ASSERT_TRUE(Eventually([&] { return Object()->RefCount() == withOther; }));
    }
    EXPECT_TRUE(Eventually([&] { return Object()->RefCount() == withOther - 1; }))
        << "the closed service went, and with it its reference to the sink";
}

// Holds the sink request thread inside the trace line of a chosen Call until released.
struct CGate {
    std::atomic<int> holdAt{-1};  // the value of the Call to hold at
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::atomic<int> closedServiceLines{0};
};
CGate gGate;

void GateCallback(const char* text, uint32_t category) {
    trace_capture::Callback(text, category);
    const std::string line(text);
    if (line.find(".gone.Call: ") != std::string::npos && line.find(".gone.Call: 1") == std::string::npos) {
        gGate.closedServiceLines.fetch_add(1);
    }
    const int at = gGate.holdAt.load();
    if (at < 0 || line.find("Call: " + std::to_string(at) + ".") == std::string::npos) return;
    gGate.holding.store(true);
    while (!gGate.release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    gGate.holding.store(false);
    gGate.release.store(false);
}

// Messages of a batch the sink thread already took still follow the registry.
TEST_F(Loopback, AServiceClosedDuringABatchGetsNoneOfItsLaterMessages) {
    CSink* object = Object();
    MbTracerSet(&GateCallback);
    MbSinkService gone = MbSinkServiceOpen(sink_, "gone", nullptr);
    OpenProxy goneProxy(MbServiceOpen(source_, "gone"));
    ASSERT_NE(goneProxy, nullptr);
    // Hold the sink thread at Call 0, so that Calls 1 to 3 wait for it as one batch. Call 0
    // finds its service locked, so the transport leaves it to the sink thread, which waits.
    gGate.holdAt.store(0);
    ASSERT_EQ(MbHandleLock(service_), MbResultOk);
    ASSERT_EQ(Call(proxy_, 0), 1);
    ASSERT_TRUE(Eventually([&] { return object->PendingRequests() == 1 && QueuedMessages(true) == 0; }))
        << "Call 0 taken";
    for (int value = 1; value <= 3; ++value) ASSERT_EQ(Call(goneProxy, value), 1);
    ASSERT_TRUE(Eventually([&] { return QueuedMessages(true) == 3; }));
    ASSERT_EQ(MbHandleUnlock(service_), MbResultOk);
    ASSERT_TRUE(Eventually([] { return gGate.holding.load(); }));
    gGate.holdAt.store(1);
    gGate.release.store(true);
    // Now held at Call 1 of the batch: close its service.
    ASSERT_TRUE(Eventually([] { return gGate.holding.load() && !gGate.release.load(); }));
    std::thread closer([&] { MbSinkServiceClose(gone); });
    ASSERT_TRUE(Eventually([&] { return object->FindService("gone") == nullptr; }));
    gGate.holdAt.store(-1);
    gGate.release.store(true);
    closer.join();
    ASSERT_TRUE(Eventually([&] { return object->PendingRequests() == 0; }));
    EXPECT_EQ(gGate.closedServiceLines.load(), 0) << "Calls 2 and 3 reached the closed service";
    MbTracerSet(&trace_capture::Callback);
}

}  // namespace
