// End to end inside one process: a source bound to the process's own sink goes the whole road
// (envelope, source request thread, transport, sink request thread, service).
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "messaging/sink.h"
#include "requests/request_handler.h"

#include "support/messaging_fixture.h"

namespace {

class Loopback : public SinkTest {
protected:
    void SetUp() override {
        SinkTest::SetUp();
        // Replaces the registered default service by one whose handle the test holds.
        service = MbSinkServiceOpen(sink, "_default", event);
        ASSERT_NE(service, nullptr);
        source = MbSourceOpen(name.c_str());
        ASSERT_NE(source, nullptr);
        proxy = MbServiceOpen(source, "");
        ASSERT_NE(proxy, nullptr);
    }
    void TearDown() override {
        MbServiceClose(proxy);
        MbSourceClose(source);
        MbSinkServiceClose(service);
        SinkTest::TearDown();
    }
    // Takes the next message (of `from`, by default the test's service), expecting `code`; returns
    // its text form.
    std::string Next(MbResult code, MbSinkService from = nullptr) {
        MbItem message = nullptr;
        EXPECT_EQ(TakeWithin(from != nullptr ? from : service, event, &message), code);
        std::string text = TextOf(message);
        if (message != nullptr) MbHandleRelease(message);
        return text;
    }
    // Nothing is waiting: messages sent before were all handled.
    bool Empty() {
        MbItem message = nullptr;
        return MbSinkServiceTake(service, &message) == MbNothingReceived && message == nullptr;
    }
    std::string State() {
        MbItem state = nullptr;
        EXPECT_EQ(MbSinkServiceGetState(service, &state), MbResultOk);
        std::string text = TextOf(state);
        MbHandleRelease(state);
        return text;
    }

    MbSinkService service = nullptr;
    MbSource source = nullptr;
    MbService proxy = nullptr;
};

// Holds a new item for the length of a test.
struct Item {
    explicit Item(MbItem item) : handle(item) {}
    ~Item() { MbHandleRelease(handle); }
    MbItem handle;
};

}  // namespace

TEST_F(Loopback, CallsArriveAsProcedureOrEnvelopeInOrder) {
    Item procedure(MbAtomNewString("start"));
    Item argument(MbAtomNewInt(42));
    Item real(MbAtomNewReal(1.5));
    EXPECT_EQ(MbServiceCall(proxy, 0, real.handle, nullptr), 0) << "a Real is no procedure";
    ASSERT_EQ(MbServiceCall(proxy, 0, procedure.handle, nullptr), 1);
    ASSERT_EQ(MbServiceCall(proxy, 0, procedure.handle, argument.handle), 1);
    EXPECT_EQ(Next(MbReceivedCall), "\"start\"");
    EXPECT_EQ(Next(MbReceivedCall), "{\"arg\":42, \"proc\":\"start\"}");
    EXPECT_TRUE(Empty());
    EXPECT_TRUE(TraceArrives(name + "._default.Call: "));
}

TEST_F(Loopback, QueryCarriesSourceServiceAndCookieAndReplyComesBack) {
    MbEvent replyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    MbSinkService replies = MbSinkServiceOpen(sink, "answers", replyEvent);
    Item procedure(MbAtomNewString("temperature"));
    ASSERT_EQ(MbServiceQueryCookie(proxy, 0, procedure.handle, nullptr, replies, 7, 1), 1);
    MbItem query = nullptr, cookie = nullptr, reply = nullptr;
    ASSERT_EQ(TakeWithin(service, event, &query), MbReceivedQuery);
    EXPECT_EQ(TextOf(query), "{\"cookie\":00000001-00000007, \"proc\":\"temperature\", \"service\":\"answers\", "
                             "\"source\":\"" + name + "\"}");
    ASSERT_EQ(MbMapGetNamed(query, "cookie", &cookie), MbResultOk);

    // Answer through a proxy for the named service of the querying sink.
    MbSource back = MbSourceOpen(name.c_str());
    MbService backProxy = MbServiceOpen(back, "answers");
    Item result(MbAtomNewReal(21.5));
    ASSERT_EQ(MbServiceReply(backProxy, 0, procedure.handle, cookie, result.handle), 1);
    ASSERT_EQ(MbServiceReply(backProxy, 0, nullptr, cookie, nullptr), 1);
    EXPECT_EQ(MbServiceReply(backProxy, 0, nullptr, nullptr, nullptr), 0);
    ASSERT_EQ(TakeWithin(replies, replyEvent, &reply), MbReceivedReply);
    EXPECT_EQ(TextOf(reply), "{\"cookie\":00000001-00000007, \"proc\":\"temperature\", \"result\":21.5}");
    MbHandleRelease(reply);
    ASSERT_EQ(TakeWithin(replies, replyEvent, &reply), MbReceivedReply);
    EXPECT_TRUE(MbItemEqual(reply, cookie)) << "a bare cookie comes back whole";
    EXPECT_TRUE(TraceArrives(name + ".answers.Reply: "));
    for (MbItem item : {cookie, query, reply}) MbHandleRelease(item);
    MbServiceClose(backProxy);
    MbSourceClose(back);
    MbSinkServiceClose(replies);
    CloseHandle(replyEvent);
}

TEST_F(Loopback, AdviseReplacesUpdateMergesAndNonMapsAreDiscarded) {
    Item first(MbBuild("{s:i,s:i}", "a", 1, "b", 2));
    Item second(MbBuild("{s:i,s:i}", "b", 3, "c", 4));
    Item list(MbBuild("[i]", 5));
    ASSERT_EQ(MbServiceUpdate(proxy, 0, first.handle), 1);  // an empty state adopts the map
    ASSERT_EQ(MbServiceUpdate(proxy, 0, second.handle), 1);
    ASSERT_TRUE(TraceArrives(".Update: "));
    ASSERT_TRUE(Eventually([&] { return trace_capture::CountContaining(".Update: ") == 2; }));
    Item merged(MbBuild("{s:i,s:i,s:i}", "a", 1, "b", 3, "c", 4));
    EXPECT_EQ(State(), TextOf(merged.handle));

    ASSERT_EQ(MbServiceAdvise(proxy, 0, list.handle), 1);
    ASSERT_TRUE(TraceArrives(".Advise: *discarded*, "));
    EXPECT_EQ(State(), TextOf(merged.handle)) << "a List does not replace the state";
    ASSERT_EQ(MbServiceAdvise(proxy, 0, second.handle), 1);
    ASSERT_TRUE(Eventually([&] { return State() == TextOf(second.handle); }));
    EXPECT_EQ(MbServiceAdvise(proxy, 0, nullptr), 0);
}

TEST_F(Loopback, RawSendIsTracedUpToItsFirstNulAndSignals) {
    const char bytes[5] = {'a', 'b', '\0', 'c', 'd'};
    ResetEvent(event);
    ASSERT_EQ(MbServiceSend(proxy, 0, bytes, 5), 1);
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(TraceArrives(name + "._default.Send: received 5 bytes (ab).\n"));
    ASSERT_EQ(MbServicePost(proxy, 0, MbKindRequest, "xyz", 3), 1);
    EXPECT_TRUE(TraceArrives("._default.Request: received 3 bytes (xyz).\n"));
}

TEST_F(Loopback, PeekKeepsTakeRemovesAndPostCallNeedsNoTransport) {
    Item first(MbAtomNewString("one"));
    Item second(MbAtomNewString("two"));
    EXPECT_EQ(MbSinkServicePostCall(service, first.handle), MbResultOk);
    EXPECT_EQ(MbSinkServicePostCall(service, second.handle), MbResultOk);
    MbItem seen = nullptr;
    EXPECT_EQ(MbSinkServicePeek(service, &seen), MbReceivedCall);
    EXPECT_EQ(seen, first.handle);
    MbHandleRelease(seen);
    EXPECT_EQ(MbSinkServicePeek(service, &seen), MbReceivedCall);
    EXPECT_EQ(seen, first.handle);
    MbHandleRelease(seen);
    EXPECT_EQ(Next(MbReceivedCall), "\"one\"");
    EXPECT_EQ(Next(MbReceivedCall), "\"two\"");
    EXPECT_EQ(MbSinkServiceTake(service, &seen), MbNothingReceived);
    EXPECT_EQ(seen, nullptr);
    EXPECT_EQ(MbSinkServiceTake(service, nullptr), MbResultInvalid);
    EXPECT_EQ(MbSinkServicePostCall(nullptr, first.handle), MbResultInvalid);
    Item map(MbBuild("{s:i}", "x", 1));
    EXPECT_EQ(MbSinkServicePostCall(service, map.handle), MbResultFailed) << "a call map needs proc";
}

// The message list holds as many entries as a List item: one more is discarded, and taking the
// oldest makes room again. Each taken message comes with the list's reference, so dropping it
// frees the item (the leak check of the sanitizer build watches).
TEST_F(Loopback, AServiceQueuesAtMost65535MessagesInOrder) {
    auto post = [&](int32_t value) {
        MbItem item = MbAtomNewInt(value);
        const MbResult result = MbSinkServicePostCall(service, item);
        MbHandleRelease(item);
        return result;
    };
    auto take = [&](int32_t* value) {
        MbItem message = nullptr;
        const MbResult code = MbSinkServiceTake(service, &message);
        *value = -1;
        if (message != nullptr) {
            MbAtomGetInt(message, value);
            MbHandleRelease(message);
        }
        return code;
    };
    for (int32_t i = 0; i < 65535; ++i) ASSERT_EQ(post(i), MbResultOk) << i;
    EXPECT_EQ(post(65535), MbResultFailed) << "a full list discards";
    EXPECT_TRUE(TraceArrives("._default.Call: *discarded*, 65535."));
    int32_t value = 0;
    EXPECT_EQ(take(&value), MbReceivedCall);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(post(65535), MbResultOk) << "taking one made room";
    for (int32_t expected = 1; expected <= 65535; ++expected) {
        ASSERT_EQ(take(&value), MbReceivedCall);
        ASSERT_EQ(value, expected);
    }
    EXPECT_EQ(take(&value), MbNothingReceived);
}

namespace {
std::atomic<bool> gHoldSendTraces{false};
std::atomic<long> gSendTraces{0};

// Counts the Send lines and keeps the sink request thread in the first ones while held.
void HoldingSendTraces(const char* text, uint32_t) {
    if (std::strstr(text, ".Send: received ") == nullptr) return;
    gSendTraces.fetch_add(1);
    while (gHoldSendTraces.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
}  // namespace

// A sink request thread as far behind as a handler may be makes the server routine wait (the
// sender's writes then wait in the socket) instead of dropping what it cannot post.
TEST_F(Loopback, ASaturatedSinkThreadDelaysMessagesInsteadOfDroppingThem) {
    MbTracerSet(&HoldingSendTraces);
    gSendTraces.store(0);
    gHoldSendTraces.store(true);
    CSink* receiver = static_cast<CSink*>(static_cast<CRefCount*>(sink));
    std::thread releaser([&] {
        Eventually([&] { return receiver->PendingRequests() >= kMaxPendingRequests; }, 20000);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        gHoldSendTraces.store(false);
    });
    const long count = kMaxPendingRequests + 2000;
    for (long i = 0; i < count; ++i) {
        // The sending side refuses posts while its own source is that far behind.
        ASSERT_TRUE(Eventually([&] { return MbServiceSend(proxy, 0, "x", 1) == 1; }, 20000)) << i;
    }
    releaser.join();
    EXPECT_TRUE(Eventually([&] { return gSendTraces.load() == count; }, 60000)) << gSendTraces.load();
    EXPECT_LE(receiver->PendingRequests(), kMaxPendingRequests);
}

// The sink keeps the service it found last: replacing or closing a service between messages for
// the same name must send the next one to the service registered now (the sanitizer build sees a
// use of a freed service).
TEST_F(Loopback, MessagesFollowAServiceReplacedOrClosedUnderTheSameName) {
    MbService named = MbServiceOpen(source, "svc");
    ASSERT_NE(named, nullptr);
    auto call = [&](int32_t value) {
        Item procedure(MbAtomNewInt(value));
        return MbServiceCall(named, 0, procedure.handle, nullptr);
    };
    MbSinkService first = MbSinkServiceOpen(sink, "svc", event);
    ASSERT_EQ(call(1), 1);
    EXPECT_EQ(Next(MbReceivedCall, first), "1");
    MbSinkService second = MbSinkServiceOpen(sink, "SVC", event);
    ASSERT_EQ(call(2), 1);
    EXPECT_EQ(Next(MbReceivedCall, second), "2");
    MbSinkServiceClose(first);
    MbSinkServiceClose(second);
    ASSERT_EQ(call(3), 1);
    // Handled in order on one stream: once this call arrived, the one for "svc" was handled.
    Item marker(MbAtomNewString("marker"));
    ASSERT_EQ(MbServiceCall(proxy, 0, marker.handle, nullptr), 1);
    EXPECT_EQ(Next(MbReceivedCall), "\"marker\"");
    MbSinkService third = MbSinkServiceOpen(sink, "svc", event);
    ASSERT_EQ(call(4), 1);
    EXPECT_EQ(Next(MbReceivedCall, third), "4") << "the call for a closed service went nowhere";
    MbSinkServiceClose(third);
    MbServiceClose(named);
}

TEST_F(Loopback, MessagesThroughTwoSourcesKeepTheirPostingOrder) {
    MbSource other = MbSourceOpen(name.c_str());
    MbService otherProxy = MbServiceOpen(other, "");
    for (int32_t i = 0; i < 200; ++i) {
        Item value(MbAtomNewInt(i));
        ASSERT_EQ(MbServiceCall(i % 2 == 0 ? proxy : otherProxy, 0, value.handle, nullptr), 1);
    }
    for (int32_t i = 0; i < 200; ++i) ASSERT_EQ(Next(MbReceivedCall), std::to_string(i));
    MbServiceClose(otherProxy);
    MbSourceClose(other);
}

// A link closed while its connection notice is still queued, then made again at once: the
// disconnection must not reach the peer after the new connection, or the peer would forget a
// live link.
TEST_F(Loopback, AClosedAndReopenedLinkEndsUpConnected) {
    for (int round = 0; round < 20; ++round) {
        MbSource first = MbSinkOpenSource(sink, name.c_str());
        ASSERT_NE(first, nullptr);
        MbSourceClose(first);
        MbSource second = MbSinkOpenSource(sink, name.c_str());
        ASSERT_NE(second, nullptr);
        // Wait until the second link's connection update arrived, then everything before it too.
        ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink, name.c_str()) == (MbPeerLocal | MbPeerRemote); }));
        MbSource probe = MbSourceOpen(name.c_str());
        MbService probeProxy = MbServiceOpen(probe, "");
        Item marker(MbAtomNewInt(round));
        ASSERT_EQ(MbServiceCall(probeProxy, 0, marker.handle, nullptr), 1);
        EXPECT_EQ(Next(MbReceivedCall), TextOf(marker.handle));
        EXPECT_EQ(MbSinkGetPeerFlags(sink, name.c_str()), static_cast<uint32_t>(MbPeerLocal | MbPeerRemote));
        MbServiceClose(probeProxy);
        MbSourceClose(probe);
        MbSourceClose(second);
        ASSERT_TRUE(Eventually([&] { return MbSinkGetPeerFlags(sink, name.c_str()) == 0; }));
    }
}

// Closing a link with messages still queued delivers them all, then the disconnection.
TEST_F(Loopback, ClosingALinkDeliversItsQueueThenTheDisconnection) {
    MbSource link = MbSinkOpenSource(sink, name.c_str());
    MbService linkProxy = MbServiceOpen(link, "");
    Item procedure(MbAtomNewString("queued"));
    for (int i = 0; i < 3; ++i) ASSERT_EQ(MbServiceCall(linkProxy, 0, procedure.handle, nullptr), 1);
    MbServiceClose(linkProxy);
    EXPECT_EQ(MbSourceClose(link), 1);
    const std::string disconnected = "._default.Update: {\"" + name + "\":False}.";
    ASSERT_TRUE(TraceArrives(disconnected));
    std::vector<std::string> order;
    for (const TraceRecord& record : trace_capture::Records()) {
        if (record.text.find(".Call: \"queued\"") != std::string::npos) order.push_back("call");
        if (record.text.find(disconnected) != std::string::npos) order.push_back("disconnected");
    }
    EXPECT_EQ(order, (std::vector<std::string>{"call", "call", "call", "disconnected"}));
    EXPECT_EQ(MbSinkGetPeerFlags(sink, name.c_str()), 0u) << "no link is left either way";
}

TEST_F(Loopback, HandlesOfTheWrongKindOrClosedAreRefused) {
    MbItem message = nullptr;
    EXPECT_EQ(MbServiceSend(sink, 0, "x", 1), 0) << "a sink is no service proxy";
    EXPECT_EQ(MbSinkServiceTake(source, &message), MbResultInvalid);
    EXPECT_EQ(MbSourceTest(proxy), 0);
    EXPECT_EQ(MbSinkClose(service), 0);
    EXPECT_EQ(MbSinkServiceOpen(source, "x", nullptr), nullptr);
    Item atom(MbAtomNewInt(1));
    EXPECT_EQ(MbServiceCall(atom.handle, 0, atom.handle, nullptr), 0);

    MbSource closed = MbSourceOpen(name.c_str());
    EXPECT_EQ(MbSourceClose(closed), 1);
    trace_capture::Clear();
    EXPECT_EQ(MbServiceOpen(closed, ""), nullptr);
    EXPECT_EQ(MbSourceClose(closed), 0);
    EXPECT_EQ(trace_capture::CountContaining("attempt to reference an unknown object at"), 2u);
    EXPECT_EQ(MbServiceCall(proxy, 0, atom.handle, nullptr), 1) << "the live objects are untouched";
    EXPECT_EQ(Next(MbReceivedCall), "1");
}
