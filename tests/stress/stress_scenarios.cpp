#include "stress/stress_scenarios.h"

#include <signal.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <thread>

#include "stress/stress_common.h"
#include "stress/stress_role.h"

namespace stress {

namespace {

// Sizes of the scenarios.
constexpr int kFanInSenders = 8;
constexpr long kFanInCalls = 100000;
constexpr long kBurstCalls = 300000;
constexpr long kHoldMs = 3000;
constexpr int kSteadySenders = 2;
constexpr long kSteadyCalls = 100000;
constexpr long kEndlessCalls = 100000000;  // more than a killed sender gets to send
constexpr long kKillAfterMs = 500;
constexpr long kDeadSinkMs = 500;  // the sender calls a killed receiver this long before a new one opens
constexpr long kReconnectCalls = 1000;
constexpr long kHostileCheckCalls = 100;
constexpr long kGoneCalls = 20000;

// Bounds the library is held to.
constexpr long kRssToleranceKb = 8 * 1024;  // a sender's RSS growth while its calls are refused
constexpr long kTraceLinesPerFrame = 2;     // receiver trace lines per frame it rejects or takes
constexpr long kTraceSlack = 50;
constexpr long kTermBoundMs = 10000;  // MbLibraryTerm after the receiver was killed
constexpr long kSettleMs = 5000;      // for a receiver's descriptors to return to their count

// How long the driver waits for a role to start, and for it to report.
constexpr int kStartMs = 10000;
constexpr int kReportMs = 60000;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

void Pause(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Unique per run and at most 31 characters: "st" + pid + "-" + tag.
std::string SinkName(const char* tag) {
    return "st" + std::to_string(getpid()) + "-" + tag;
}

bool Ready(CRole& role) {
    return !role.Await("ready", kStartMs).empty();
}

// The failed expectations of one scenario, printed after its figures.
class CVerdict {
public:
    explicit CVerdict(const char* scenario) : scenario_(scenario) {}
    bool Expect(bool ok, const std::string& what) {
        if (!ok) failures_.push_back(what);
        return ok;
    }
    bool Print(const std::string& figures) const {
        std::printf("stress %s: %s\n", scenario_, figures.c_str());
        for (const std::string& failure : failures_) std::printf("stress %s FAILED: %s\n", scenario_, failure.c_str());
        std::fflush(stdout);
        return failures_.empty();
    }

private:
    const char* scenario_;
    std::vector<std::string> failures_;
};

// Numbered senders' accepted calls against what the receiver counted of them.
struct CFlow {
    long sent = 0, received = 0, lost = 0, duplicates = 0, disorder = 0, refusals = 0;

    void Add(int id, long accepted, long refused, const std::string& receiverReport) {
        const std::string n = std::to_string(id);
        const long got = std::max(0LL, Field(receiverReport, "r" + n));
        sent += accepted;
        received += got;
        lost += std::max(0L, accepted - got);
        duplicates += std::max(0LL, Field(receiverReport, "d" + n));
        disorder += std::max(0LL, Field(receiverReport, "o" + n));
        refusals += refused;
    }
    // The sender's report line gives accepted= and refusals=.
    void Add(int id, const std::string& senderReport, const std::string& receiverReport) {
        Add(id, Field(senderReport, "accepted"), std::max(0LL, Field(senderReport, "refusals")), receiverReport);
    }
    std::string Text() const {
        return Format("%ld sent, %ld received, %ld lost, %ld duplicates, %ld out of order", sent, received, lost,
                      duplicates, disorder);
    }
    void Expect(CVerdict& verdict, const std::string& receiverReport) const {
        verdict.Expect(!receiverReport.empty(), "the receiver reports");
        verdict.Expect(Field(receiverReport, "foreign") == 0, "nothing but the numbered calls arrives");
        verdict.Expect(lost == 0, "no accepted call is lost");
        verdict.Expect(duplicates == 0, "no call arrives twice");
        verdict.Expect(disorder == 0, "each sender's calls arrive in sending order");
    }
};

using CRoles = std::vector<std::unique_ptr<CRole>>;

// Senders with ids 0.. and the given call counts, started and told "go" together; false when
// one did not start.
bool StartSenders(CRoles& senders, const std::string& sink, const std::vector<long>& counts) {
    for (size_t id = 0; id < counts.size(); ++id) {
        senders.push_back(std::make_unique<CRole>(
            std::vector<std::string>{"sender", sink, std::to_string(id), std::to_string(counts[id])}));
    }
    bool ready = true;
    for (auto& sender : senders) ready = Ready(*sender) && ready;
    for (auto& sender : senders) sender->Tell("go");
    return ready;
}

std::string Finish(CRole& receiver) {
    receiver.Tell("finish");
    return receiver.Await("report", kReportMs);
}

double PerSecond(long count, long long micros) {
    return micros > 0 ? static_cast<double>(count) * 1e6 / static_cast<double>(micros) : 0;
}

// 1. Many senders into one service of a receiver that takes as fast as it can.
bool FanIn() {
    CVerdict verdict("fan-in");
    const std::string name = SinkName("fan");
    CRole receiver({"receiver", name});
    CRoles senders;
    if (!verdict.Expect(Ready(receiver), "the receiver starts") ||
        !verdict.Expect(StartSenders(senders, name, std::vector<long>(kFanInSenders, kFanInCalls)),
                        "the senders start")) {
        return verdict.Print("not run");
    }
    std::vector<std::string> reports;
    for (auto& sender : senders) reports.push_back(sender->Await("report", kReportMs));
    const std::string received = Finish(receiver);
    CFlow flow;
    for (int id = 0; id < kFanInSenders; ++id) flow.Add(id, reports[static_cast<size_t>(id)], received);
    flow.Expect(verdict, received);
    verdict.Expect(flow.sent == kFanInSenders * kFanInCalls, "every call is accepted in the end");
    return verdict.Print(Format("%s, %.0f msg/s, %ld refusals", flow.Text().c_str(),
                                PerSecond(flow.received, Field(received, "us")), flow.refusals));
}

// 2. A burst into a receiver that takes nothing for a while, then drains. The sender is stopped
// while the held messages are counted, so that the count is what the receiver held.
bool Burst() {
    CVerdict verdict("burst");
    const std::string name = SinkName("burst");
    CRole receiver({"receiver", name, "hold"});
    CRoles senders;
    if (!verdict.Expect(Ready(receiver), "the receiver starts")) return verdict.Print("not run");
    const long rssBefore = StatusKb(receiver.Pid(), "VmRSS");
    if (!verdict.Expect(StartSenders(senders, name, {kBurstCalls}), "the sender starts"))
        return verdict.Print("not run");
    CRole& sender = *senders[0];
    Pause(kHoldMs);
    sender.Signal(SIGSTOP);
    Pause(200);
    const long rssHeld = StatusKb(receiver.Pid(), "VmRSS");
    receiver.Tell("drain");
    const long held = Field(receiver.Await("drained", kReportMs), "taken");
    sender.Signal(SIGCONT);
    const std::string report = sender.Await("report", kReportMs);
    const std::string received = Finish(receiver);
    CFlow flow;
    flow.Add(0, report, received);
    flow.Expect(verdict, received);
    verdict.Expect(flow.sent == kBurstCalls, "every call is accepted in the end");
    const long growth = rssHeld - rssBefore;
    return verdict.Print(
        Format("%s, %ld refusals; %ld held after %.1f s, receiver RSS +%ld kB = %.0f B per held "
               "message; peak RSS sender %lld kB, receiver %lld kB",
               flow.Text().c_str(), flow.refusals, held, kHoldMs / 1000.0, growth,
               held > 0 ? growth * 1024.0 / static_cast<double>(held) : 0.0, Field(report, "hwm_kb"),
               Field(received, "hwm_kb")));
}

// 3. A receiver that never takes: the sender's calls to it are refused, its memory stays flat,
// and its calls to a second, draining sink keep arriving.
bool NeverTake() {
    CVerdict verdict("never-take");
    const std::string stuckName = SinkName("stuck"), flowingName = SinkName("flow");
    CRole stuck({"receiver", stuckName, "hold"});
    CRole flowing({"receiver", flowingName});
    CRole sender({"sender-split", stuckName, flowingName});
    if (!verdict.Expect(Ready(stuck) && Ready(flowing) && Ready(sender), "every process starts")) {
        return verdict.Print("not run");
    }
    sender.Tell("go");
    const std::string report = sender.Await("report", kReportMs);
    stuck.Signal(SIGKILL);
    const Clock::time_point killed = Clock::now();
    const std::string ended = sender.Await("ended", kReportMs);
    const long endMs = MillisSince(killed);
    const int exit = sender.Wait(kStartMs);
    const std::string received = Finish(flowing);
    CFlow flow;
    flow.Add(1, Field(report, "flowing_accepted"), std::max(0LL, Field(report, "flowing_refusals")), received);
    const long rssGrowth = Field(report, "rss_after_kb") - Field(report, "rss_before_kb");
    verdict.Expect(Field(report, "refused") == 1, "the calls to the stuck sink are refused in the end");
    verdict.Expect(Field(report, "tail_calls") > 0 && Field(report, "tail_refusals") == Field(report, "tail_calls"),
                   "the refusals continue while the sink takes nothing");
    verdict.Expect(rssGrowth <= kRssToleranceKb, Format("the sender's RSS grows by %ld kB at most", kRssToleranceKb));
    verdict.Expect(flow.sent > 0, "the calls to the draining sink flow meanwhile");
    flow.Expect(verdict, received);
    verdict.Expect(!ended.empty() && exit == 0, "the sender ends once the stuck receiver is gone");
    return verdict.Print(Format(
        "first refusal after %lld accepted calls (%lld ms, longest call %lld us); then in %lld ms %lld calls, %lld "
        "refused (in the last %lld ms %lld of %lld), longest call %lld us; sender RSS %+ld kB (tolerance %ld kB); "
        "draining sink meanwhile: %s, %ld refused; sender ended %ld ms after the stuck receiver was killed",
        Field(report, "accepted_before"), Field(report, "first_refusal_ms"), Field(report, "longest_before_us"),
        Field(report, "phase_ms"), Field(report, "calls"), Field(report, "refusals"), Field(report, "tail_ms"),
        Field(report, "tail_refusals"), Field(report, "tail_calls"), Field(report, "longest_us"), rssGrowth,
        kRssToleranceKb, flow.Text().c_str(), flow.refusals, endMs));
}

// 4. A sender killed mid-stream: the others' calls all arrive and the receiver's descriptors
// return to their count once the senders are gone.
bool KillSender() {
    CVerdict verdict("kill-sender");
    const std::string name = SinkName("ks");
    CRole receiver({"receiver", name});
    if (!verdict.Expect(Ready(receiver), "the receiver starts")) return verdict.Print("not run");
    const int fdsBefore = OpenDescriptors(receiver.Pid());
    const long rssBefore = StatusKb(receiver.Pid(), "VmRSS");
    CRoles senders;
    std::vector<long> counts(kSteadySenders, kSteadyCalls);
    counts.push_back(kEndlessCalls);
    if (!verdict.Expect(StartSenders(senders, name, counts), "the senders start")) return verdict.Print("not run");
    Pause(kKillAfterMs);
    const int fdsDuring = OpenDescriptors(receiver.Pid());
    senders.back()->Signal(SIGKILL);
    senders.back()->Wait(kStartMs);
    std::vector<std::string> reports;
    for (int id = 0; id < kSteadySenders; ++id) {
        reports.push_back(senders[static_cast<size_t>(id)]->Await("report", kReportMs));
        senders[static_cast<size_t>(id)]->Wait(kStartMs);
    }
    const Clock::time_point gone = Clock::now();
    int fdsAfter = OpenDescriptors(receiver.Pid());
    while (fdsAfter != fdsBefore && MillisSince(gone) < kSettleMs) {
        Pause(10);
        fdsAfter = OpenDescriptors(receiver.Pid());
    }
    const long rssAfter = StatusKb(receiver.Pid(), "VmRSS");
    const std::string received = Finish(receiver);
    CFlow flow;
    for (int id = 0; id < kSteadySenders; ++id) flow.Add(id, reports[static_cast<size_t>(id)], received);
    const std::string killed = Format("r%d", kSteadySenders);  // what came from the killed sender
    flow.Expect(verdict, received);
    verdict.Expect(flow.sent == kSteadySenders * kSteadyCalls, "every call of the living senders is accepted");
    verdict.Expect(fdsAfter == fdsBefore, "the receiver's descriptors return to their count");
    return verdict.Print(
        Format("living senders: %s; %lld from the killed one; receiver descriptors %d -> %d -> %d, "
               "RSS %ld -> %ld kB",
               flow.Text().c_str(), Field(received, killed), fdsBefore, fdsDuring, fdsAfter, rssBefore, rssAfter));
}

// 5. The receiver killed mid-stream: the sender goes on, traces the failures, reaches a new
// receiver under the same name and ends cleanly.
bool KillReceiver() {
    CVerdict verdict("kill-receiver");
    const std::string name = SinkName("kr");
    auto first = std::make_unique<CRole>(std::vector<std::string>{"receiver", name});
    CRole sender({"sender-reconnect", name, std::to_string(kReconnectCalls)});
    if (!verdict.Expect(Ready(*first) && Ready(sender), "the receiver and the sender start")) {
        return verdict.Print("not run");
    }
    sender.Tell("go");
    Pause(kKillAfterMs);
    first.reset();  // SIGKILL, reaped: its endpoint name is free again
    Pause(kDeadSinkMs);
    CRole second({"receiver", name});
    verdict.Expect(Ready(second), "a new receiver opens the same sink name");
    sender.Tell("again");
    const std::string report = sender.Await("report", kReportMs);
    const int exit = sender.Wait(kStartMs);
    const std::string received = Finish(second);
    CFlow flow;
    flow.Add(1, Field(report, "second_accepted"), std::max(0LL, Field(report, "second_refusals")), received);
    verdict.Expect(!report.empty() && exit == 0, "the sender neither hangs nor crashes");
    verdict.Expect(Field(report, "traces_before") > 0, "the sender traces the failed deliveries");
    verdict.Expect(Field(report, "term_ms") >= 0 && Field(report, "term_ms") <= kTermBoundMs,
                   Format("MbLibraryTerm returns within %ld ms", kTermBoundMs));
    verdict.Expect(flow.sent == kReconnectCalls, "the calls to the new receiver are accepted");
    flow.Expect(verdict, received);
    return verdict.Print(
        Format("%lld calls accepted around the kill, %lld refused, longest call %lld us, %lld trace "
               "lines; MbLibraryTerm %lld ms; new receiver: %s (and %lld earlier calls)",
               Field(report, "accepted"), Field(report, "refusals"), Field(report, "longest_call_us"),
               Field(report, "traces_before"), Field(report, "term_ms"), flow.Text().c_str(),
               std::max(0LL, Field(received, "r0"))));
}

// 6. Hostile bytes at the endpoint: the sink keeps serving and traces in proportion.
bool Hostile() {
    CVerdict verdict("hostile");
    const std::string name = SinkName("ho");
    CRole receiver({"receiver", name, "traced"});
    if (!verdict.Expect(Ready(receiver), "the receiver starts")) return verdict.Print("not run");
    CRole hostile({"hostile", name});
    const std::string attack = hostile.Await("report", kReportMs);
    CRoles senders;
    verdict.Expect(StartSenders(senders, name, {kHostileCheckCalls}), "a normal sender starts afterwards");
    const std::string report = senders[0]->Await("report", kReportMs);
    const std::string received = Finish(receiver);
    CFlow flow;
    flow.Add(0, report, received);
    flow.Expect(verdict, received);
    verdict.Expect(flow.sent == kHostileCheckCalls, "the normal calls afterwards are accepted");
    const long rejected = Field(attack, "frames") + Field(attack, "malformed");
    const long bound = kTraceLinesPerFrame * (rejected + kHostileCheckCalls) + kTraceSlack;
    const long traced = Field(received, "traces");
    verdict.Expect(!attack.empty(), "the hostile writer reports");
    verdict.Expect(traced <= bound, "the receiver's trace output stays in proportion to the frames received");
    return verdict.Print(
        Format("%lld garbage frames, %lld malformed or cut connections, %lld bare connections, %lld "
               "bytes, %lld failed connects; receiver traced %ld lines (bound %ld); afterwards %s",
               Field(attack, "frames"), Field(attack, "malformed"), Field(attack, "bare"), Field(attack, "bytes"),
               Field(attack, "failed_connects"), traced, bound, flow.Text().c_str()));
}

// 7. Calls to a sink that is not there, against calls to a live one, from one process.
bool Gone() {
    CVerdict verdict("gone");
    const std::string live = SinkName("live"), missing = SinkName("missing");
    CRole receiver({"receiver", live});
    CRole sender({"sender-gone", live, missing, std::to_string(kGoneCalls)});
    if (!verdict.Expect(Ready(receiver) && Ready(sender), "the receiver and the sender start")) {
        return verdict.Print("not run");
    }
    sender.Tell("go");
    const std::string sample = sender.Await("sample", kReportMs);
    const std::string report = sender.Await("report", kReportMs);
    const int exit = sender.Wait(kStartMs);
    const std::string received = Finish(receiver);
    CFlow flow;
    flow.Add(0, Field(report, "live_accepted"), 0, received);
    flow.Expect(verdict, received);
    const long long goneAccepted = Field(report, "gone_accepted"), goneTraces = Field(report, "gone_traces");
    verdict.Expect(!report.empty() && exit == 0, "the sender reports and ends");
    verdict.Expect(goneTraces >= goneAccepted, "every accepted call to the missing sink is traced");
    return verdict.Print(Format(
        "%ld calls each; missing sink: source %s, %lld accepted, %lld trace lines (%.2f per call), %.2f us per call, "
        "%.2f us per call until MbLibraryTerm returned; live sink: %lld accepted, %.2f us per call, %.2f us until "
        "MbLibraryTerm returned; first trace line: %s",
        kGoneCalls, Field(report, "gone_open") == 1 ? "opened" : "not opened", goneAccepted, goneTraces,
        static_cast<double>(goneTraces) / kGoneCalls, Field(report, "gone_call_ns") / 1000.0,
        Field(report, "gone_total_ns") / 1000.0, Field(report, "live_accepted"), Field(report, "live_call_ns") / 1000.0,
        Field(report, "live_total_ns") / 1000.0, sample.size() > 7 ? sample.c_str() + 7 : "(none)"));
}

struct CScenario {
    const char* name;
    bool (*run)();
};

constexpr CScenario kScenarios[] = {
    {"fan-in", &FanIn},
    {"burst", &Burst},
    {"never-take", &NeverTake},
    {"kill-sender", &KillSender},
    {"kill-receiver", &KillReceiver},
    {"hostile", &Hostile},
    {"gone", &Gone},
};

}  // namespace

int RunScenarios(const std::vector<std::string>& names) {
    // A role that died leaves its input pipe without a reader: the write fails instead.
    signal(SIGPIPE, SIG_IGN);
    int status = 0;
    for (const std::string& name : names) {
        bool known = false;
        for (const CScenario& scenario : kScenarios) {
            if (name != "all" && name != scenario.name) continue;
            known = true;
            if (!scenario.run()) status = 1;
        }
        if (!known) return 2;
    }
    return status;
}

}  // namespace stress
