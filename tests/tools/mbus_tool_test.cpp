// The `mbus` command-line tool, run as a child process against sinks of this process and of a
// watching tool.
#include <chrono>

#include "support/child_process.h"
#include "support/line_reader.h"
#include "support/messaging_fixture.h"

namespace {

struct CToolRun {
    int status;
    std::string output;
};

// Runs the tool to its end (killed after timeoutMs): its exit status (-1 when killed) and stdout.
CToolRun RunTool(const std::vector<std::string>& args, unsigned timeoutMs = 10000) {
    CChildProcess tool(MBUS_TOOL_PATH, args);
    const int status = tool.Wait(timeoutMs);
    if (status < 0) tool.Kill();
    std::string output;
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, tool.Output())) > 0;) output.append(buffer, got);
    return {status, output};
}

bool ListedByTool(const std::string& sinkName, pid_t pid) {
    const CToolRun list = RunTool({"list"});
    return list.status == 0 && list.output.find(sinkName + "\t" + std::to_string(pid) + "\n") != std::string::npos;
}

// A source bound to a sink and one service proxy of it, both closed at the end of the scope.
struct CProxy {
    CProxy(const std::string& sink, const char* name)
        : source(MbSourceOpen(sink.c_str())), service(MbServiceOpen(source, name)) {}
    ~CProxy() {
        MbServiceClose(service);
        MbSourceClose(source);
    }
    MbSource source;
    MbService service;
};

using MbusTool = SinkTest;

}  // namespace

// Each step waits for the watcher's line before the next, so the lines come in a fixed order.
TEST_F(MbusTool, WatcherPrintsEachKindOfMessageAndStopsAfterItsCount) {
    const std::string watched = UniqueName("tw");
    CChildProcess watcher(MBUS_TOOL_PATH, {"watch", watched, "Extra", "--count", "7", "--seconds", "30"});
    CLineReader lines(watcher.Output());
    ASSERT_EQ(lines.Next(), "watching " + watched);
    EXPECT_TRUE(ListedByTool(watched, watcher.Pid()));

    EXPECT_EQ(RunTool({"send", watched, "", "hello"}).status, 0);
    EXPECT_EQ(lines.Next(), "_default Send received 5 bytes (hello).");
    EXPECT_EQ(RunTool({"send", watched, "extra", "a b"}).status, 0);
    EXPECT_EQ(lines.Next(), "Extra Send received 3 bytes (a b).");
    EXPECT_EQ(RunTool({"call", watched, "extra", "ping"}).status, 0);
    EXPECT_EQ(lines.Next(), "Extra ReceivedCall \"ping\"");
    EXPECT_EQ(RunTool({"call", watched, "_default", "ping", "arg 1"}).status, 0);
    EXPECT_EQ(lines.Next(), "_default ReceivedCall {\"arg\":\"arg 1\", \"proc\":\"ping\"}");

    const CToolRun tested = RunTool({"test", watched});
    EXPECT_EQ(tested.status, 0);
    EXPECT_EQ(tested.output, "ok: the sink '" + watched + "' took the test\n");
    EXPECT_EQ(RunTool({"test", watched, "extra"}).status, 0);

    // Kinds the tool does not send: an advise only replaces the state map, which the watcher shows.
    {
        const CProxy proxy(watched, "EXTRA");
        ASSERT_EQ(MbServiceAdvise(proxy.service, 0, Held(MbBuild("{s:i}", "mode", 3))), 1);
        EXPECT_EQ(lines.Next(), "Extra State {\"mode\":3}");
        ASSERT_EQ(MbServicePost(proxy.service, 0, MbKindRequest, "raw", 3), 1);
        EXPECT_EQ(lines.Next(), "Extra Request received 3 bytes (raw).");
        ASSERT_EQ(MbServiceReply(proxy.service, 0, nullptr, Held(MbAtomNewCookie(1, 2)), Held(MbAtomNewInt(5))), 1);
        EXPECT_EQ(lines.Next(), "Extra ReceivedReply {\"cookie\":00000002-00000001, \"result\":5}");
    }
    EXPECT_EQ(watcher.Wait(), 0);
    EXPECT_EQ(lines.Next(), "<end>") << "no line beyond the count";
    EXPECT_FALSE(ListedByTool(watched, watcher.Pid())) << "the sink was closed";
}

TEST_F(MbusTool, WatcherEndsOnSigtermOrAfterItsSeconds) {
    const std::string watched = UniqueName("tw");
    CChildProcess watcher(MBUS_TOOL_PATH, {"watch", watched});
    CLineReader lines(watcher.Output());
    ASSERT_EQ(lines.Next(), "watching " + watched);
    const pid_t pid = watcher.Pid();
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_EQ(watcher.Wait(), 0);
    EXPECT_EQ(lines.Next(), "<end>");
    EXPECT_FALSE(ListedByTool(watched, pid));
    EXPECT_EQ(RunTool({"watch", name_}).status, 1) << "this process holds that sink name";

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunTool({"watch", watched, "--seconds", "1"}).status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(MbusTool, QueryPrintsTheReplyOrTimesOut) {
    MbSinkService service = MbSinkServiceOpen(sink_, "_default", event_);
    CChildProcess query(MBUS_TOOL_PATH, {"query", name_, "", "status", "all", "--timeout", "10000"});
    MbItem message = nullptr;
    ASSERT_EQ(TakeWithin(service, event_, &message), MbReceivedQuery);
    Held held(message), cookie, procedure;
    ASSERT_EQ(MbMapGetNamed(message, "cookie", cookie.Out()), MbResultOk);
    ASSERT_EQ(MbMapGetNamed(message, "proc", procedure.Out()), MbResultOk);
    EXPECT_EQ(TextOf(message), "{\"arg\":\"all\", \"cookie\":" + TextOf(cookie) + ", \"proc\":\"status\", \"service\":\"reply\", "
                               "\"source\":\"mbus-query-" + std::to_string(query.Pid()) + "\"}");

    const CProxy back("mbus-query-" + std::to_string(query.Pid()), "reply");
    ASSERT_EQ(MbServiceReply(back.service, 0, procedure, cookie, Held(MbBuild("{s:i}", "answer", 42))), 1);
    EXPECT_EQ(query.Wait(), 0);
    CLineReader lines(query.Output());
    EXPECT_EQ(lines.Next(), "{\"cookie\":" + TextOf(cookie) + ", \"proc\":\"status\", \"result\":{\"answer\":42}}");
    EXPECT_EQ(lines.Next(), "<end>");

    const auto start = std::chrono::steady_clock::now();
    const CToolRun unanswered = RunTool({"query", name_, "", "status", "--timeout", "300"});
    EXPECT_EQ(unanswered.status, 1);
    EXPECT_EQ(unanswered.output, "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(TakeWithin(service, event_, held.Out()), MbReceivedQuery) << "the query itself arrived";
    MbSinkServiceClose(service);
}

// A missing sink fails at delivery; the tool says so at once instead of waiting for a reply.
// Failures and misuse print nothing on standard output.
TEST_F(MbusTool, MissingSinkFailsAndBadUsageIsRefused) {
    const std::string missing = UniqueName("none");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunTool({"query", missing, "", "x", "--timeout", "60000"}).status, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    // A message holds at most 65535 bytes: one more is refused, not cut.
    EXPECT_EQ(RunTool({"send", name_, "", std::string(65535, 'x')}).status, 0);
    EXPECT_TRUE(TraceArrives("_default.Send: received 65535 bytes (xxx"));

    const struct {
        std::vector<std::string> args;
        int status;
        std::string output;
    } runs[] = {
        {{"test", missing}, 1, "failed: the sink '" + missing + "' did not take the test\n"},
        {{"test", name_}, 0, "ok: the sink '" + name_ + "' took the test\n"},
        {{"send", missing, "", "x"}, 1, ""},
        {{"call", missing, "", "x", "y"}, 1, ""},
        {{"send", name_, "", std::string(65536, 'x')}, 1, ""},
        {{}, 2, ""},
        {{"lst"}, 2, ""},
        {{"list", "extra"}, 2, ""},
        {{"send", name_, ""}, 2, ""},
        {{"send", name_, "", "a", "b"}, 2, ""},
        {{"call", name_, ""}, 2, ""},
        {{"call", name_, "", "p", "a", "b"}, 2, ""},
        {{"query", name_, "", "p", "--timeout", "soon"}, 2, ""},
        {{"query", name_, "", "p", "--timeout"}, 2, ""},
        {{"query", name_, "", "p", "--wait", "5"}, 2, ""},
        {{"watch"}, 2, ""},
        {{"watch", "w", "--count", "0"}, 2, ""},
        {{"watch", "w", "--seconds", "-1"}, 2, ""},
        {{"test"}, 2, ""},
        {{"test", name_, "a", "b"}, 2, ""},
    };
    for (const auto& run : runs) {
        const CToolRun result = RunTool(run.args);
        const std::string what = ::testing::PrintToString(run.args).substr(0, 80);
        EXPECT_EQ(result.status, run.status) << what;
        EXPECT_EQ(result.output, run.output) << what;
    }
}
