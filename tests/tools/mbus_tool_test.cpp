// The `mbus` command-line tool, run as a child process against sinks of this process and of a
// watching tool.
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <fstream>
#include <sstream>

#include "support/child_process.h"
#include "support/messaging_fixture.h"

namespace {

struct CToolRun {
    int status;
    std::string out, err;
};

std::string FileText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// Runs the tool to its end (killed after 10 s) with `input` on stdin: its exit status (-1 when
// killed), stdout and stderr, which a shell connects to files.
CToolRun RunTool(const std::vector<std::string>& args, const std::string& input = "") {
    const std::string files = ::testing::TempDir() + "mbus-tool-" + std::to_string(getpid());
    std::ofstream(files + ".in", std::ios::binary) << input;
    std::vector<std::string> shell = {"-c", "f=" + files + "; exec \"$0\" \"$@\" <$f.in >$f.out 2>$f.err", MBUS_TOOL_PATH};
    shell.insert(shell.end(), args.begin(), args.end());
    CChildProcess tool("/bin/sh", shell);
    const CToolRun run = {tool.Wait(10000), FileText(files + ".out"), FileText(files + ".err")};
    for (const char* file : {".in", ".out", ".err"}) std::remove((files + file).c_str());
    return run;
}

// `mbus list` shows the sink: FULLNAME NAME SESSION PID USER (by default this process's user).
bool ListedByTool(const std::string& sinkName, const std::string& pid, std::string user = "") {
    const passwd* entry = getpwuid(getuid());
    if (user.empty()) user = entry != nullptr ? entry->pw_name : std::to_string(getuid());
    const CToolRun list = RunTool({"list"});
    const std::string line = sinkName + "\t" + sinkName + "\t-\t" + pid + "\t" + user + "\n";
    return list.status == 0 && ("\n" + list.out).find("\n" + line) != std::string::npos;
}

using MbusTool = SinkTest;

}  // namespace

// Each step waits for the watcher's line before the next, so the lines come in a fixed order.
TEST_F(MbusTool, WatcherPrintsEachKindOfMessageAndStopsAfterItsCount) {
    const std::string watched = UniqueName("tw");
    CChildProcess watcher(MBUS_TOOL_PATH, {"watch", watched, "Extra", "--count", "10", "--seconds", "30"});
    ASSERT_EQ(watcher.Next(), "watching " + watched);
    EXPECT_TRUE(ListedByTool(watched, std::to_string(watcher.Pid())));

    const struct {
        std::vector<std::string> args;
        std::string line;
    } steps[] = {
        {{"send", watched, "", "hello"}, "_default Send received 5 bytes (hello)."},
        {{"send", watched, "extra", "--", "-a b"}, "Extra Send received 4 bytes (-a b)."},
        {{"call", watched, "extra", "ping"}, "Extra ReceivedCall \"ping\""},
        {{"call", watched, "_default", "ping", "arg 1"}, "_default ReceivedCall {\"arg\":\"arg 1\", \"proc\":\"ping\"}"},
        {{"call", watched, "", "set", "-f", "{s:r,s:s}", "value", "21.5", "unit", "-h", "--timeout", "5000"},
         "_default ReceivedCall {\"arg\":{\"unit\":\"-h\", \"value\":21.5}, \"proc\":\"set\"}"},
        {{"advise", watched, "extra", "mode", "3", "k", "v"}, "Extra State {\"k\":\"v\", \"mode\":\"3\"}"},
        {{"update", watched, "EXTRA", "-f", "{s:i,s:b}", "n", "5", "k", "true"}, "Extra State {\"k\":True, \"mode\":\"3\", \"n\":5}"},
        {{"advise", watched, "extra"}, "Extra State {}"},
        {{"reply", watched, "extra", "00000002-00000001", "--proc", "p", "-f", "[i,N]", "-5"},
         "Extra ReceivedReply {\"cookie\":00000002-00000001, \"proc\":\"p\", \"result\":[-5, None]}"},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(RunTool(step.args).status, 0) << step.line;
        EXPECT_EQ(watcher.Next(), step.line);
    }
    EXPECT_EQ(RunTool({"test", watched, "extra"}).status, 0);

    // A kind the tool does not send: raw Request bytes reach the trace, which the watcher shows.
    {
        const ProxyTo proxy(watched, "EXTRA");
        ASSERT_EQ(MbServicePost(proxy, 0, MbKindRequest, "raw", 3), 1);
        EXPECT_EQ(watcher.Next(), "Extra Request received 3 bytes (raw).");
    }
    EXPECT_EQ(watcher.Wait(), 0);
    EXPECT_EQ(watcher.Next(), "<end>") << "no line beyond the count";
    EXPECT_FALSE(ListedByTool(watched, std::to_string(watcher.Pid()))) << "the sink was closed";
}

TEST_F(MbusTool, WatcherEndsOnSigtermOrAfterItsTime) {
    const std::string watched = UniqueName("tw");
    CChildProcess watcher(MBUS_TOOL_PATH, {"watch", watched});
    ASSERT_EQ(watcher.Next(), "watching " + watched);
    ASSERT_EQ(kill(watcher.Pid(), SIGTERM), 0);
    EXPECT_EQ(watcher.Wait(), 0);
    EXPECT_EQ(watcher.Next(), "<end>");

    for (const char* limit : {"--seconds", "--timeout"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(RunTool({"watch", watched, limit, limit[2] == 's' ? "1" : "1000"}).status, 0) << limit;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << limit;
    }
}

// The command gets the procedure as $1, the argument as $2 and the query as JSON; what it prints
// is the result: stored bytes give their item, text a String. A failing command sends nothing.
TEST_F(MbusTool, WatcherAnswersQueriesWithItsCommandAndWritesJson) {
    const std::string watched = UniqueName("tr");
    const std::string script = "case $1 in text) echo \"$2 $MBUS_QUERY\";; stored) " + std::string(MBUS_TOOL_PATH) +
                               " encode '{s:i}' n 42;; *) exit 3;; esac";
    CChildProcess watcher(MBUS_TOOL_PATH, {"watch", watched, "--json", "--count", "3", "--reply", script});
    ASSERT_EQ(watcher.Next(), "{\"watching\":\"" + watched + "\"}");
    const OpenService replies(MbSinkServiceOpen(sink_, "answers", event_));
    const ProxyTo proxy(watched);
    const auto queryJson = [&](const std::string& procedure, const std::string& argument) {
        const std::string arg = argument.empty() ? "{" : "{\"arg\":" + argument + ",";
        return arg + "\"cookie\":\"00000000-00000007\",\"proc\":\"" + procedure + "\",\"service\":\"answers\",\"source\":\"" +
               name_ + "\"}";
    };
    const struct {
        std::string procedure, argument, result;
    } rows[] = {
        {"text", "[1,\"a\"]", "\"[1,\"a\"] " + queryJson("text", "[1,\"a\"]") + "\""},
        {"stored", "", "{\"n\":42}"},
        {"fail", "", ""},
    };
    for (const auto& row : rows) {
        const Held argument(row.argument.empty() ? nullptr : MbBuild("[i,s]", 1, "a"));
        const Held procedure(MbAtomNewString(row.procedure.c_str()));
        ASSERT_EQ(MbServiceQueryCookie(proxy, 0, procedure, argument, replies, 7, 0), 1);
        EXPECT_EQ(watcher.Next(), "{\"service\":\"_default\",\"kind\":\"ReceivedQuery\",\"message\":" +
                                    queryJson(row.procedure, row.argument) + "}");
        Held reply;
        if (row.result.empty()) {
            EXPECT_EQ(watcher.Wait(), 0);
            EXPECT_EQ(TakeWithin(replies, event_, reply.Out(), 300), MbNothingReceived);
        } else {
            ASSERT_EQ(TakeWithin(replies, event_, reply.Out()), MbReceivedReply);
            EXPECT_EQ(TextOf(reply), "{\"cookie\":00000000-00000007, \"proc\":\"" + row.procedure + "\", \"result\":" + row.result + "}");
        }
    }
}

TEST_F(MbusTool, QueryPrintsTheReplyOrTimesOut) {
    const OpenService service(MbSinkServiceOpen(sink_, "_default", event_));
    for (const bool json : {false, true}) {
        std::vector<std::string> args = {"query", name_, "", "status", "-f", "[s,u]", "all", "7", "--timeout", "10000"};
        if (json) args.push_back("--json");
        CChildProcess query(MBUS_TOOL_PATH, args);
        Held message, cookie, procedure;
        ASSERT_EQ(TakeWithin(service, event_, message.Out()), MbReceivedQuery);
        ASSERT_EQ(MbMapGetNamed(message, "cookie", cookie.Out()), MbResultOk);
        ASSERT_EQ(MbMapGetNamed(message, "proc", procedure.Out()), MbResultOk);
        const std::string sinkName = "mbus-query-" + std::to_string(query.Pid());
        EXPECT_EQ(TextOf(message), "{\"arg\":[\"all\", 7], \"cookie\":" + TextOf(cookie) +
                                       ", \"proc\":\"status\", \"service\":\"reply\", \"source\":\"" + sinkName + "\"}");
        const ProxyTo back(sinkName, "reply");
        ASSERT_EQ(MbServiceReply(back, 0, procedure, cookie, Held(MbBuild("{s:r}", "answer", 0.5))), 1);
        EXPECT_EQ(query.Wait(), 0);
        EXPECT_EQ(query.Next(), json ? "{\"cookie\":\"" + TextOf(cookie) + "\",\"proc\":\"status\",\"result\":{\"answer\":0.5}}"
                                     : "{\"cookie\":" + TextOf(cookie) + ", \"proc\":\"status\", \"result\":{\"answer\":0.5}}");
        EXPECT_EQ(query.Next(), "<end>");
    }
    const auto start = std::chrono::steady_clock::now();
    const CToolRun unanswered = RunTool({"query", name_, "", "status", "--timeout", "300"});
    EXPECT_EQ(unanswered.status, 1);
    EXPECT_EQ(unanswered.out, "");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    Held message;
    EXPECT_EQ(TakeWithin(service, event_, message.Out()), MbReceivedQuery) << "the query itself arrived";
}

// Encoding makes the bytes MbBuild's item stores as; decoding shows them as text or JSON.
TEST_F(MbusTool, EncodeWritesStoredBytesThatDecodeShowsAsTextAndJson) {
    const MbSystemTime may{2024, 5, 0, 1, 12, 0, 0, 500};
    const Held built(MbBuild("{s:r,s:[b,N,i,u],s:c,s:t,s:G,s:B}", "value", 21.5, "list", 1, -5, 4294967295u, "c",
                             uint64_t{0x100000002}, "t", int64_t{1}, "g", &may, "b", "\x01\xff", 2));
    const CToolRun encoded = RunTool({"encode", "{s:r,s:[b,N,i,u],s:c,s:t,s:G,s:B}", "value", "21.5", "list", "true",
                                      "-5", "4294967295", "c", "00000001-00000002", "t", "1", "g",
                                      "2024-05-01T12:00:00.5Z", "b", "\x01\xff"});
    ASSERT_EQ(encoded.status, 0) << encoded.err;
    EXPECT_EQ(encoded.out, BlobText(Held(MbItemToBytes(built))));
    EXPECT_EQ(RunTool({"decode"}, encoded.out).out, TextOf(built) + "\n");
    EXPECT_EQ(RunTool({"decode", "-", "--json"}, encoded.out).out,
              "{\"b\":\"Af8=\",\"c\":\"00000001-00000002\",\"g\":\"2024-05-01T12:00:00.500Z\",\"list\":[true,null,-5,"
              "4294967295],\"t\":\"1601-01-01T00:00:00.001\",\"value\":21.5}\n");

    // A text form beyond the library's 65,535 bytes cannot be made: such an item shows as JSON.
    std::vector<std::string> ints = {"encode", "[" + std::string(10000, 'i') + "]"};
    ints.resize(10002, "-2147483648");
    EXPECT_EQ(RunTool({"decode"}, RunTool(ints).out).out.substr(0, 25), "[-2147483648,-2147483648,");

    // JSON escapes what it must; bytes that are no UTF-8 become \udcXX; keys become strings.
    const struct {
        std::vector<std::string> encode;
        std::string json;
    } rows[] = {
        {{"encode", "s", "\xff\"\\\n\x01\xc3\xa9"}, "\"\\udcff\\\"\\\\\\n\\u0001\xc3\xa9\""},
        {{"encode", "[r,r,r,r,r]", "nan", "-inf", "0.1", "0.30000000000000004", "1e300"},
         "[\"NaN\",\"-Infinity\",0.1,0.30000000000000004,1e+300]"},
        {{"encode", "{i:s,u:N,b:b}", "5", "a", "6", "0", "false"}, "{\"false\":false,\"5\":\"a\",\"6\":null}"},
        {{"encode", "[c,g,B,s]", "4294967298", "-1", "", ""}, "[\"00000001-00000002\",-1,\"\",\"\"]"},
        {{"encode", "[[[[[[[[[[[[[[[[i]]]]]]]]]]]]]]]]", "0"}, "[[[[[[[[[[[[[[[[0]]]]]]]]]]]]]]]]"},
    };
    for (const auto& row : rows) {
        const CToolRun bytes = RunTool(row.encode);
        EXPECT_EQ(bytes.status, 0) << row.json << bytes.err;
        EXPECT_EQ(RunTool({"decode", "--json"}, bytes.out).out, row.json + "\n");
    }
}

// A sink whose process /proc does not show is listed with the user "?".
TEST_F(MbusTool, ListShowsWhoRunsEachSink) {
    const int ghost = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "mbus/epmap/f7ca7934-33a7-42f1-9e20-b3bbe840ba9b/" + UniqueName("gh") + " #999999999";
    name.copy(address.sun_path + 1, name.size());
    ASSERT_EQ(bind(ghost, reinterpret_cast<sockaddr*>(&address), sizeof(sa_family_t) + 1 + name.size()), 0);
    EXPECT_TRUE(ListedByTool(UniqueName("gh"), "999999999", "?"));
    const CToolRun json = RunTool({"list", "--json"});
    EXPECT_NE(json.out.find("{\"FullName\":\"" + UniqueName("gh") + "\",\"Name\":\"" + UniqueName("gh") +
                            "\",\"PID\":999999999,\"SessionID\":0,\"User\":\"?\",\"bLocal\":false}"),
              std::string::npos) << json.out;
    close(ghost);
}

// Misuse exits 2 naming what was wrong, failures 1; neither prints on stdout (but test's verdict).
TEST_F(MbusTool, BadInputIsRefusedWithAReason) {
    const std::string missing = UniqueName("none");
    const std::string stored = BlobText(Held(MbItemToBytes(Held(MbBuild("[s]", "abc")))));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunTool({"query", missing, "", "x", "--timeout", "60000"}).status, 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "a missing sink fails at once";
    EXPECT_EQ(RunTool({"send", name_, "", std::string(65535, 'x')}).status, 0);
    EXPECT_TRUE(TraceArrives("_default.Send: received 65535 bytes (xxx"));

    const struct {
        std::vector<std::string> args;
        int status;
        std::string err, out = "", input = "";
    } runs[] = {
        {{"test", missing}, 1, "could not be reached", "failed: the sink '" + missing + "' did not take the test\n"},
        {{"test", name_}, 0, "", "ok: the sink '" + name_ + "' took the test\n"},
        {{"send", missing, "", "x"}, 1, "the sink '" + missing + "' could not be reached"},
        {{"watch", name_}, 1, "cannot open the sink '" + name_ + "'"},
        {{"decode", "/nonexistent"}, 1, "cannot open '/nonexistent'"},
        {{"decode"}, 1, "stdin: the bytes do not begin with the header", "", "garbage"},
        {{"decode"}, 1, "stdin: the stored item is damaged", "", stored.substr(0, stored.size() - 1)},
        {{"decode"}, 1, "stdin: the stored item takes 26 of the 27 bytes", "", stored + "x"},
        {{"decode"}, 1, "more than a stored item holds", "", std::string(65536, 'x')},
        {{}, 2, "no command given"},
        {{"lst"}, 2, "unknown command 'lst'"},
        {{"list", "extra"}, 2, "unexpected argument 'extra'"},
        {{"send", name_, ""}, 2, "missing TEXT\nusage: mbus send SINK SERVICE TEXT [--timeout MS]\n"},
        {{"send", name_, "", std::string(65536, 'x')}, 2, "at most 65535 bytes, not 65536"},
        {{"call", name_, "", "p", "a", "-f", "s", "b"}, 2, "not both"},
        {{"call", name_, "", "p", "-f", "i"}, 2, "format 'i' takes 1 values, not 0"},
        {{"call", name_, "", "p", "-f", "{s}", "k"}, 2, "format '{s}', character 3: the map's last key has no value"},
        {{"call", name_, "", "p", "-f", "i", "x"}, 2, "'x' is no Int"},
        {{"call", name_, "", "p", "-f", "u", "-1"}, 2, "'-1' is no Unsigned"},
        {{"call", name_, "", "p", "-f", "H"}, 2, "the code H takes an item handle"},
        {{"call", name_, "", "p", "-f", "[b,t]", "yes", "x"}, 2, "'yes' is no Bool"},
        {{"call", name_, "", "p", "-f", "t", "2024-05-01T12:00:00Z"}, 2, "is no local time"},
        {{"call", name_, "", "p", "-f", "g", "2024-13-01T12:00:00"}, 2, "is no UTC time"},
        {{"encode", "i i", "1", "2"}, 2, "character 3: a second item"},
        {{"encode", "[i", "1"}, 2, "format '[i': a list is not closed"},
        {{"encode", "]"}, 2, "closes no open list"},
        {{"encode", "{[i]:s}", "1", "a"}, 2, "a list or map cannot be a map key"},
        {{"encode", "[[[[[[[[[[[[[[[[[i]]]]]]]]]]]]]]]]]", "1"}, 2, "more than 16 lists and maps"},
        {{"encode", "x"}, 2, "'x' is no format code"},
        {{"encode"}, 2, "missing FORMAT"},
        {{"advise", name_, "", "k"}, 2, "the KEY 'k' has no VALUE"},
        {{"advise", name_, "", "-f", "[i]", "1"}, 2, "format '[i]' makes none"},
        {{"reply", name_, "", "1-2-3"}, 2, "'1-2-3' is no Cookie"},
        {{"query", name_, "", "p", "--timeout", "soon"}, 2, "--timeout takes a number from 1 to 86400000, not 'soon'"},
        {{"query", name_, "", "p", "--timeout"}, 2, "option --timeout needs MS"},
        {{"query", name_, "", "p", "--wait", "5"}, 2, "unknown option '--wait' for query"},
        {{"watch"}, 2, "missing NAME"},
        {{"watch", "w", "--count", "0"}, 2, "--count takes a number from 1"},
        {{"watch", "w", "--count", "1", "--count", "2"}, 2, "--count is given twice"},
        {{"watch", std::string(32, 'w')}, 2, "a sink name has 1 to 31 characters"},
        {{"test", name_, "a", "b"}, 2, "unexpected argument 'b'"},
        {{"--help"}, 0, "", "usage: mbus COMMAND"},
        {{"watch", "-h", "--count", "x"}, 0, "", "usage: mbus watch NAME [SERVICE...]"},
        {{"--version"}, 0, "", "mbus 1.0.0 (library version 82)\n"},
    };
    for (const auto& run : runs) {
        const CToolRun result = RunTool(run.args, run.input);
        const std::string what = ::testing::PrintToString(run.args).substr(0, 80);
        EXPECT_EQ(result.status, run.status) << what;
        EXPECT_EQ(result.out.substr(0, run.out.size()), run.out) << what;
        EXPECT_EQ(run.out.empty() ? result.out : "", "") << what;
        EXPECT_NE(result.err.find(run.err), std::string::npos) << what << ": " << result.err;
    }
}

TEST_F(MbusTool, ManPageAndCompletionKnowEveryCommand) {
    const std::string help = RunTool({"--help"}).out;
    const std::string manual = FileText(MBUS_SOURCE_DIR "/tools/mbus.1");
    const std::string completion = FileText(MBUS_SOURCE_DIR "/tools/mbus.bash-completion");
    std::istringstream lines(help.substr(help.find("commands:\n") + 10));
    int commands = 0;
    for (std::string command; lines >> command && command != "'mbus"; lines.ignore(1000, '\n'), ++commands) {
        EXPECT_NE(manual.find(".B " + command + "\n"), std::string::npos) << command;
        EXPECT_NE(completion.find(" " + command + " "), std::string::npos) << command;
    }
    EXPECT_EQ(commands, 11);
    CChildProcess bash("/bin/bash", {"-c", "source " MBUS_SOURCE_DIR "/tools/mbus.bash-completion; COMP_WORDS=(mbus wa); "
                                     "COMP_CWORD=1; _mbus; echo \"${COMPREPLY[@]}\"; COMP_WORDS=(mbus watch x --j); "
                                     "COMP_CWORD=3; _mbus; echo \"${COMPREPLY[@]}\""});
    EXPECT_EQ(bash.Next(), "watch");
    EXPECT_EQ(bash.Next(), "--json");
}
