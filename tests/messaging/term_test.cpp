// Terminating the library while messaging objects are still open.
#include "support/messaging_fixture.h"

namespace {
// Objects a careless program leaves open: the library leaves them in memory, unreported.
MbSink leftSink;
MbSinkService leftService;
MbSource leftSource;
MbService leftProxy;
}  // namespace

TEST(MessagingTerm, TermWithdrawsTheEndpointAndLeavesOpenObjectsAlone) {
    const std::string name = UniqueName("tt");
    ASSERT_EQ(MbLibraryInit(), 1);
    leftSink = MbSinkOpen(name.c_str(), nullptr);
    ASSERT_NE(leftSink, nullptr);
    leftService = MbSinkServiceOpen(leftSink, "svc", nullptr);
    leftSource = MbSourceOpen(name.c_str());
    leftProxy = MbServiceOpen(leftSource, "svc");
    ASSERT_EQ(MbServiceCall(leftProxy, 0, Held(MbAtomNewInt(1)), nullptr), 1);
    MbLibraryTerm();

    ASSERT_EQ(MbLibraryInit(), 1);
    MbTracerSet(&trace_capture::Callback);
    trace_capture::Clear();
    EXPECT_EQ(MbServiceSend(leftProxy, 0, "x", 1), 0);
    EXPECT_EQ(MbSinkClose(leftSink), 0);
    EXPECT_EQ(trace_capture::CountContaining("attempt to reference an unknown object at"), 2u);
    MbSink again = MbSinkOpen(name.c_str(), nullptr);
    EXPECT_NE(again, nullptr) << "the endpoint was withdrawn at termination";
    EXPECT_EQ(MbSinkClose(again), 1);
    MbTracerSet(nullptr);
    MbLibraryTerm();
}
