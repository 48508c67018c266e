// The messaging hot path: trace lines built on the stack reach the callback whole, and the
// sink references and services a batch holds are given back.
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "messaging/sink.h"
#include "messaging/trace_line.h"
#include "support/messaging_fixture.h"

using TraceLine = LibraryTest;

// Around the size at which a line leaves the stack buffer, each line is one callback call:
// its text and a newline, category 16.
TEST_F(TraceLine, LinesOfEverySizeArriveWholeInOneCall) {
    for (size_t size : {1u, 253u, 254u, 255u, 256u, 257u, 4000u}) {
        trace_capture::Clear();
        const std::string head = "line-" + std::to_string(size) + ":";
        const std::string text = head + std::string(size - std::min(size, head.size()), 'x');
        CTraceLine line;
        // In two pieces, so that the second one crosses the boundary.
        line.Append(text.data(), text.size() / 2);
        line.Append(text.substr(text.size() / 2));
        line.Emit();
        const std::vector<TraceRecord> records = trace_capture::Records();
        ASSERT_EQ(records.size(), 1u) << size;
        EXPECT_EQ(records[0].text, text + "\n") << size;
        EXPECT_EQ(records[0].category, 16u) << size;
    }
}

namespace {

class HotPath : public SinkTest {
protected:
    void SetUp() override {
        SinkTest::SetUp();
        service = MbSinkServiceOpen(sink, "hot", event);
        ASSERT_NE(service, nullptr);
        source = MbSourceOpen(name.c_str());
        ASSERT_NE(source, nullptr);
        proxy = MbServiceOpen(source, "hot");
        ASSERT_NE(proxy, nullptr);
    }
    void TearDown() override {
        MbServiceClose(proxy);
        MbSourceClose(source);
        MbSinkServiceClose(service);
        SinkTest::TearDown();
    }

    MbSinkService service = nullptr;
    MbSource source = nullptr;
    MbService proxy = nullptr;
};

}  // namespace

// Every message takes a reference to the sink on arrival and gives it back once handled, and
// the service a batch held goes with its batch: a service closed after its messages were
// handled gives back its own reference to the sink.
TEST_F(HotPath, MessagesAndHeldServicesGiveBackTheirSinkReferences) {
    CSink* object = static_cast<CSink*>(static_cast<CRefCount*>(sink));
    MbEvent otherEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    MbSinkService other = MbSinkServiceOpen(sink, "other", otherEvent);
    ASSERT_NE(other, nullptr);
    MbService otherProxy = MbServiceOpen(source, "other");
    ASSERT_NE(otherProxy, nullptr);
    const uint16_t withOther = object->RefCount();
    for (int i = 0; i < 200; ++i) {
        MbItem procedure = MbAtomNewInt(i);
        ASSERT_EQ(MbServiceCall(i % 3 == 1 ? otherProxy : proxy, 0, procedure, nullptr), 1);
        MbHandleRelease(procedure);
    }
    for (int i = 0; i < 200; ++i) {
        MbItem message = nullptr;
        ASSERT_EQ(TakeWithin(i % 3 == 1 ? other : service, i % 3 == 1 ? otherEvent : event, &message), MbReceivedCall);
        MbHandleRelease(message);
    }
    ASSERT_TRUE(Eventually([&] { return object->RefCount() == withOther; }));
    MbServiceClose(otherProxy);
    MbSinkServiceClose(other);
    EXPECT_TRUE(Eventually([&] { return object->RefCount() == withOther - 1; }))
        << "the closed service went, and with it its reference to the sink";
    CloseHandle(otherEvent);
}

namespace {

// A trace callback that holds the sink request thread inside the trace line of a chosen
// message until the test lets it go.
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

}  // namespace

// Messages already taken in one batch by the sink thread still follow the registry: a service
// closed while the batch runs receives none of the batch's later messages.
TEST_F(HotPath, AServiceClosedDuringABatchGetsNoneOfItsLaterMessages) {
    CSink* object = static_cast<CSink*>(static_cast<CRefCount*>(sink));
    MbTracerSet(&GateCallback);
    MbSinkService gone = MbSinkServiceOpen(sink, "gone", nullptr);
    MbService goneProxy = MbServiceOpen(source, "gone");
    ASSERT_NE(goneProxy, nullptr);
    auto call = [&](MbService to, int value) {
        MbItem procedure = MbAtomNewInt(value);
        EXPECT_EQ(MbServiceCall(to, 0, procedure, nullptr), 1);
        MbHandleRelease(procedure);
    };
    // Hold the sink thread at Call 0, so that Calls 1 to 3 wait for it as one batch.
    gGate.holdAt.store(0);
    call(proxy, 0);
    ASSERT_TRUE(Eventually([] { return gGate.holding.load(); }));
    gGate.holdAt.store(1);
    for (int value = 1; value <= 3; ++value) call(goneProxy, value);
    ASSERT_TRUE(Eventually([&] { return object->PendingRequests() == 4; }));
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
    MbServiceClose(goneProxy);
}
