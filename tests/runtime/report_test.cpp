// Report texts and categories as the trace callback receives them.
#include <cstdio>

#include "runtime/reports.h"
#include "runtime/tracer.h"
#include "support/trace_capture.h"

using Reports = LibraryTest;

namespace {

// Long pieces are not cut.
TEST_F(Reports, ErrorAndWarningArriveWholeWithTheirCategories) {
    const std::string longText(5000, 'y');
    ReportError(longText.c_str());
    int place = 0;
    ReportWarning("attempt to reference an unknown object at", &place);
    char warning[96];
    std::snprintf(warning, sizeof warning, "**Warning: attempt to reference an unknown object at %p.\n", &place);
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: " + longText + ".\n", 18}, {warning, 17}}));
}

TEST_F(Reports, RpcExceptionIntoAGivenTracerIsFlushedByItsOwner) {
    {
        CStrTracer out(trace::kDiagnostic);
        ReportRpcException("in CSource::Request()", 1722, &out);
        EXPECT_TRUE(trace_capture::Records().empty());
        out.Flush();
    }
    ReportRpcException("somewhere", 99999, nullptr);
    // Every piece carries an explicit category, so the tracer's own 16 does not enter.
    EXPECT_EQ(trace_capture::Records(),
              (TraceRecords{{"** RPC Exception 0x000006BA: in CSource::Request().\nThe RPC server is unavailable.\r\n", 3},
                            {"** RPC Exception 0x0001869F: somewhere.\n", 2}}));
}

TEST_F(Reports, StringTracerSendsOnlyWhatWasCollectedSinceTheLastFlush) {
    CStrTracer out(trace::kDiagnostic);
    out.Flush();
    out.Printf("%s", "");
    out.Print(nullptr);
    out.PrintChar('\0');
    out.Flush();
    EXPECT_TRUE(trace_capture::Records().empty());

    out.PrintfAt(trace::kWarning, "a%d", 1);
    out.PrintChar('.');
    out.Flush();
    out.PrintLine("b");
    out.Flush();
    // Categories collect since construction.
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"a1.", 17}, {"b\n", 17}}));
}

TEST_F(Reports, NullCallbackDropsAndBlankOptionLeavesReportsAlone) {
    MbTracerSet(nullptr);
    ReportError("dropped");
    EXPECT_TRUE(trace_capture::Records().empty());
    MbTracerSetEx(&trace_capture::Callback, MbTraceBlankSeparator);
    ReportError("kept");
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: kept.\n", 18}}));
}

void ReenteringCallback(const char* text, uint32_t category) {
    MbTracerSet(&ReenteringCallback);
    trace_capture::Callback(text, category);
}

TEST_F(Reports, CallbackThatReinstallsItselfDoesNotDeadlockOtherThreads) {
    MbTracerSet(&ReenteringCallback);
    std::thread other([] {
        for (int i = 0; i < 200; ++i) ReportError("other");
    });
    for (int i = 0; i < 200; ++i) ReportError("main");
    other.join();
    EXPECT_EQ(trace_capture::Records().size(), 400u);
}

}  // namespace
