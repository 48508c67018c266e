// mbus_stress run SCENARIO...   the driver: runs the named scenarios ("all" for every one), each
//                               between real processes, each printing one line of figures and one
//                               line per failed expectation; exits 0 when all passed, 1 when one
//                               failed, 2 for an unknown name
// mbus_stress ROLE ARGS...      one process of a scenario: receiver, sender or hostile
#include <memory>

#include "stress/stress.h"
#include "support/child_process.h"

namespace stress {

namespace {

// Sizes of the scenarios.
constexpr int kFanInSenders = 8, kSteadySenders = 2;
constexpr long kFanInCalls = 100000, kBurstCalls = 300000, kSteadyCalls = 100000, kReconnectCalls = 1000;
constexpr long kHostileCheckCalls = 100, kGoneCalls = 20000, kHoldMs = 3000, kKillAfterMs = 500;
constexpr long kEndlessCalls = 100000000;  // more than a killed sender gets to send
constexpr long kDeadSinkMs = 500;          // the sender calls a killed receiver this long before a new one opens

// Bounds the library is held to.
constexpr long kRssToleranceKb = 8 * 1024;  // a sender's RSS growth while its calls are refused
constexpr long kWindowKb = 64 * 1024;       // the bytes a source's send window holds
constexpr long kTraceLinesPerFrame = 2;     // receiver trace lines per frame it rejects or takes
constexpr long kTraceSlack = 50;
constexpr long kTermBoundMs = 10000;  // MbLibraryTerm after the receiver was killed
constexpr long kSettleMs = 5000;      // for a receiver's descriptors to return to their count

// How long the driver waits for a role to start, and for it to report.
constexpr long kStartMs = 10000, kReportMs = 60000;

// Unique per run and at most 31 characters: "st" + pid + "-" + tag.
std::string SinkName(const char* tag) {
    return "st" + std::to_string(getpid()) + "-" + tag;
}

Args SenderArgs(const std::string& sink, long id, long count, const char* mode = "", const std::string& sink2 = "") {
    return {"sender", sink, std::to_string(id), std::to_string(count), mode, sink2};
}

// Senders 0.. into one sink, each making `calls` calls until accepted.
std::vector<Args> Senders(const std::string& sink, int count, long calls) {
    std::vector<Args> senders;
    for (int id = 0; id < count; ++id) senders.push_back(SenderArgs(sink, id, calls));
    return senders;
}

// Numbered senders' accepted calls against what the receiver counted of them.
struct CFlow {
    std::string received;  // the receiver's report
    long long sent = 0, got = 0, lost = 0, duplicates = 0, disorder = 0, refusals = 0;

    std::string Text() const {
        return Format("%lld sent, %lld received, %lld lost, %lld duplicates, %lld out of order", sent, got, lost,
                      duplicates, disorder);
    }
};

// The processes of a scenario and its failed expectations.
class CScene {
public:
    // Starts a group of roles, waits until each is ready, then tells them all "go" (a receiver
    // ignores it); false when one did not start.
    bool Start(const std::vector<Args>& group, const char* what = "every process starts") {
        const size_t first = roles_.size();
        for (const Args& args : group) roles_.push_back(std::make_unique<CChildProcess>("/proc/self/exe", args, true));
        bool ready = true;
        for (size_t i = first; i < roles_.size(); ++i) ready = !roles_[i]->Await("ready", kStartMs).empty() && ready;
        for (size_t i = first; i < roles_.size(); ++i) roles_[i]->Tell("go");
        return Expect(ready, what);
    }
    CChildProcess& operator[](size_t i) { return *roles_[i]; }
    std::vector<std::string> Reports(size_t first) {
        std::vector<std::string> reports;
        for (size_t i = first; i < roles_.size(); ++i) reports.push_back(roles_[i]->Await("report", kReportMs));
        return reports;
    }
    // Tells the senders from `first` on to end once they sent all and the receiver has taken
    // everything: a process that ends gives its backlog a bounded time, which a loaded machine
    // can exceed, and what it drops then was not lost while both processes lived.
    void Settle(CChildProcess& receiver, size_t first) {
        for (size_t i = first; i < roles_.size(); ++i) roles_[i]->Await("sent", kReportMs);
        receiver.Tell("quiet");
        receiver.Await("quiet", kReportMs);
        for (size_t i = first; i < roles_.size(); ++i) roles_[i]->Tell("end");
    }
    bool Expect(bool ok, const std::string& what) {
        if (!ok) failures.push_back(what);
        return ok;
    }
    // The report of role i once it ended by itself, expected to have reported and exited 0.
    std::string Ended(size_t i, const char* what) {
        const std::string report = roles_[i]->Await("report", kReportMs);
        Expect(!report.empty() && roles_[i]->Wait(kStartMs) == 0, what);
        return report;
    }
    // Finishes a receiver and holds its report against the senders' (accepted=, refusals=),
    // whose ids run from firstId: every accepted call arrives once and in order.
    CFlow Flow(CChildProcess& receiver, const std::vector<std::string>& reports, int firstId = 0,
               long long foreign = 0) {
        receiver.Tell("finish");
        CFlow flow{receiver.Await("report", kReportMs)};
        for (size_t i = 0; i < reports.size(); ++i) {
            const std::string n = std::to_string(firstId + static_cast<int>(i));
            const long long accepted = Field(reports[i], "accepted");
            const long long got = std::max(0LL, Field(flow.received, "r" + n));
            flow.sent += accepted;
            flow.got += got;
            flow.lost += std::max(0LL, accepted - got);
            flow.duplicates += std::max(0LL, Field(flow.received, "d" + n));
            flow.disorder += std::max(0LL, Field(flow.received, "o" + n));
            flow.refusals += std::max(0LL, Field(reports[i], "refusals"));
        }
        Expect(std::all_of(reports.begin(), reports.end(), [](const std::string& r) { return Field(r, "accepted") >= 0; }),
               "every sender reports");
        Expect(!flow.received.empty(), "the receiver reports");
        Expect(Field(flow.received, "foreign") <= foreign, "nothing but the numbered calls arrives");
        Expect(flow.lost == 0, "no accepted call is lost");
        Expect(flow.duplicates == 0, "no call arrives twice");
        Expect(flow.disorder == 0, "each sender's calls arrive in sending order");
        return flow;
    }

    std::vector<std::string> failures;

private:
    std::vector<std::unique_ptr<CChildProcess>> roles_;
};

// 1. Many senders into one service of a receiver that takes as fast as it can.
std::string FanIn(CScene& scene) {
    const std::string name = SinkName("fan");
    if (!scene.Start({{"receiver", name}}) || !scene.Start(Senders(name, kFanInSenders, kFanInCalls))) return "not run";
    scene.Settle(scene[0], 1);
    const CFlow flow = scene.Flow(scene[0], scene.Reports(1));
    scene.Expect(flow.sent == kFanInSenders * kFanInCalls, "every call is accepted in the end");
    const long long us = Field(flow.received, "us");
    return Format("%s, %.0f msg/s, %lld refusals", flow.Text().c_str(), us > 0 ? flow.got * 1e6 / us : 0.0,
                  flow.refusals);
}

// 2. A burst into a receiver that takes nothing for a while, then drains. The sender is stopped
// while the held messages are counted, so that the count is what the receiver held.
std::string Burst(CScene& scene) {
    const std::string name = SinkName("burst");
    if (!scene.Start({{"receiver", name, "hold"}})) return "not run";
    CChildProcess& receiver = scene[0];
    const long rssBefore = StatusKb(receiver.Pid(), "VmRSS");
    if (!scene.Start({SenderArgs(name, 0, kBurstCalls)})) return "not run";
    Pause(kHoldMs);
    scene[1].Signal(SIGSTOP);
    Pause(200);
    const long growth = StatusKb(receiver.Pid(), "VmRSS") - rssBefore;
    receiver.Tell("drain");
    const long long held = Field(receiver.Await("drained", kReportMs), "taken");
    scene[1].Signal(SIGCONT);
    scene.Settle(receiver, 1);
    const std::vector<std::string> reports = scene.Reports(1);
    const CFlow flow = scene.Flow(receiver, reports);
    scene.Expect(flow.sent == kBurstCalls, "every call is accepted in the end");
    return Format("%s, %lld refusals; %lld held after %.1f s, receiver RSS +%ld kB = %.0f B per held message; peak "
                  "RSS sender %lld kB, receiver %lld kB",
                  flow.Text().c_str(), flow.refusals, held, kHoldMs / 1000.0, growth,
                  held > 0 ? growth * 1024.0 / static_cast<double>(held) : 0.0, Field(reports[0], "hwm_kb"),
                  Field(flow.received, "hwm_kb"));
}

// 3. A receiver that never takes: the sender's calls to it are refused, its memory stays flat,
// and its calls to a second, draining sink keep arriving.
std::string NeverTake(CScene& scene) {
    const std::string stuck = SinkName("stuck"), flowing = SinkName("flow");
    if (!scene.Start({{"receiver", stuck, "hold"}, {"receiver", flowing}}) ||
        !scene.Start({SenderArgs(stuck, 0, 0, "split", flowing)})) {
        return "not run";
    }
    const std::string phase = scene[2].Await("phase", kReportMs);
    scene[0].Signal(SIGKILL);
    const Clock::time_point killed = Clock::now();
    const std::string report = scene[2].Await("report", kReportMs);
    const long endMs = Since(killed);
    const int exit = scene[2].Wait(kStartMs);
    const CFlow flow = scene.Flow(scene[1], {phase}, 1);
    // The calls accepted before the first refusal settle first (the sender's queue moves into its
    // backlog, within the window's bounds); from then on, refused calls must not add memory.
    const long long rssSettling = Field(phase, "rss_settled_kb") - Field(phase, "rss_before_kb");
    const long long rssGrowth = Field(phase, "rss_after_kb") - Field(phase, "rss_settled_kb");
    scene.Expect(Field(phase, "refused") == 1, "the calls to the stuck sink are refused in the end");
    scene.Expect(Field(phase, "tail_calls") > 0 && Field(phase, "tail_refusals") == Field(phase, "tail_calls"),
                 "the refusals continue while the sink takes nothing");
    scene.Expect(rssSettling <= kWindowKb, "settling the accepted calls takes the send window's bytes at most");
    scene.Expect(rssGrowth <= kRssToleranceKb, Format("the sender's RSS grows by %ld kB at most", kRssToleranceKb));
    scene.Expect(flow.sent > 0, "the calls to the draining sink flow meanwhile");
    scene.Expect(!report.empty() && exit == 0, "the sender ends once the stuck receiver is gone");
    return Format("first refusal after %lld accepted calls (%lld ms, longest call %lld us); then in %lld ms %lld "
                  "calls, %lld refused (in the last %lld ms %lld of %lld), longest call %lld us; sender RSS %+lld kB "
                  "while the accepted calls settled, then %+lld kB (tolerance %ld kB); draining sink meanwhile: %s, "
                  "%lld refused; sender ended %ld ms after the stuck receiver was killed",
                  Field(phase, "accepted_before"), Field(phase, "first_refusal_ms"), Field(phase, "longest_before_us"),
                  Field(phase, "phase_ms"), Field(phase, "calls"), Field(phase, "phase_refusals"),
                  Field(phase, "tail_ms"), Field(phase, "tail_refusals"), Field(phase, "tail_calls"),
                  Field(phase, "longest_us"), rssSettling, rssGrowth, kRssToleranceKb, flow.Text().c_str(),
                  flow.refusals, endMs);
}

// 4. A sender killed mid-stream: the others' calls all arrive and the receiver's descriptors
// return to their count once the senders are gone.
std::string KillSender(CScene& scene) {
    const std::string name = SinkName("ks");
    if (!scene.Start({{"receiver", name}})) return "not run";
    CChildProcess& receiver = scene[0];
    const int fdsBefore = OpenDescriptors(receiver.Pid());
    const long rssBefore = StatusKb(receiver.Pid(), "VmRSS");
    std::vector<Args> senders = Senders(name, kSteadySenders, kSteadyCalls);
    senders.push_back(SenderArgs(name, kSteadySenders, kEndlessCalls));
    if (!scene.Start(senders)) return "not run";
    Pause(kKillAfterMs);
    const int fdsDuring = OpenDescriptors(receiver.Pid());
    CChildProcess& killed = scene[1 + kSteadySenders];
    killed.Signal(SIGKILL);
    killed.Wait(kStartMs);
    scene.Settle(receiver, 1);
    std::vector<std::string> reports = scene.Reports(1);
    reports.pop_back();  // the killed one's: none
    for (int id = 0; id < kSteadySenders; ++id) scene[1 + static_cast<size_t>(id)].Wait(kStartMs);
    int fdsAfter = -1;
    Eventually([&] { return (fdsAfter = OpenDescriptors(receiver.Pid())) == fdsBefore; }, kSettleMs);
    const long rssAfter = StatusKb(receiver.Pid(), "VmRSS");
    const CFlow flow = scene.Flow(receiver, reports);
    scene.Expect(flow.sent == kSteadySenders * kSteadyCalls, "every call of the living senders is accepted");
    scene.Expect(fdsAfter == fdsBefore, "the receiver's descriptors return to their count");
    return Format("living senders: %s; %lld from the killed one; receiver descriptors %d -> %d -> %d, RSS %ld -> %ld "
                  "kB",
                  flow.Text().c_str(), Field(flow.received, Format("r%d", kSteadySenders)), fdsBefore, fdsDuring,
                  fdsAfter, rssBefore, rssAfter);
}

// 5. The receiver killed mid-stream: the sender goes on, traces the failures, reaches a new
// receiver under the same name and ends cleanly.
std::string KillReceiver(CScene& scene) {
    const std::string name = SinkName("kr");
    if (!scene.Start({{"receiver", name}}) || !scene.Start({SenderArgs(name, 0, kReconnectCalls, "again")})) {
        return "not run";
    }
    Pause(kKillAfterMs);
    scene[0].Signal(SIGKILL);
    scene[0].Wait(kStartMs);  // reaped: its endpoint name is free again
    Pause(kDeadSinkMs);
    scene.Start({{"receiver", name}}, "a new receiver opens the same sink name");
    scene[1].Tell("again");
    const std::string report = scene.Ended(1, "the sender neither hangs nor crashes");
    const CFlow flow = scene.Flow(scene[2], {report});
    scene.Expect(Field(report, "traces_before") > 0, "the sender traces the failed deliveries");
    scene.Expect(Field(report, "term_us") >= 0 && Field(report, "term_us") <= kTermBoundMs * 1000,
                 Format("MbLibraryTerm returns within %ld ms", kTermBoundMs));
    scene.Expect(flow.sent == kReconnectCalls, "the calls to the new receiver are accepted");
    return Format("%lld calls accepted around the kill, %lld refused, longest call %lld us, %lld trace lines; "
                  "MbLibraryTerm %lld ms; new receiver: %s (and %lld earlier calls)",
                  Field(report, "before_accepted"), Field(report, "before_refusals"), Field(report, "longest_call_us"),
                  Field(report, "traces_before"), Field(report, "term_us") / 1000, flow.Text().c_str(),
                  std::max(0LL, Field(flow.received, "r1")));
}

// 6. Hostile bytes at the endpoint, and stored items whose counts lie: the sink keeps serving
// and traces in proportion to the frames.
std::string Hostile(CScene& scene) {
    const std::string name = SinkName("ho");
    if (!scene.Start({{"receiver", name, "traced"}}) || !scene.Start({{"hostile", name}})) return "not run";
    const std::string attack = scene[1].Await("report", kReportMs);
    scene.Start({SenderArgs(name, 0, kHostileCheckCalls)});
    const long long lying = Field(attack, "lying"), queueable = Field(attack, "queueable");
    scene.Settle(scene[0], 2);
    const CFlow flow = scene.Flow(scene[0], scene.Reports(2), 0, queueable);
    scene.Expect(flow.sent == kHostileCheckCalls, "the normal calls afterwards are accepted");
    const long long rejected = Field(attack, "frames") + Field(attack, "malformed") + lying;
    const long long bound = kTraceLinesPerFrame * (rejected + kHostileCheckCalls) + kTraceSlack;
    const long long traced = Field(flow.received, "traces");
    scene.Expect(!attack.empty(), "the hostile writer reports");
    scene.Expect(traced <= bound, "the receiver's trace output stays in proportion to the frames received");
    return Format("%lld garbage frames, %lld frames of lying stored items (%lld taken, at most %lld may be), %lld "
                  "malformed or cut connections, %lld bare connections, %lld bytes, %lld failed connects; receiver "
                  "traced %lld lines (bound %lld); afterwards %s",
                  Field(attack, "frames"), lying, Field(flow.received, "foreign"), queueable,
                  Field(attack, "malformed"), Field(attack, "bare"), Field(attack, "bytes"),
                  Field(attack, "failed_connects"), traced, bound, flow.Text().c_str());
}

// 7. Calls to a sink that is not there, against calls to a live one, each offered once by a
// process of its own: ending the library settles every accepted call (sent, or failed and
// traced).
std::string Gone(CScene& scene) {
    const std::string live = SinkName("live");
    if (!scene.Start({{"receiver", live}}) || !scene.Start({SenderArgs(live, 0, kGoneCalls, "once")})) return "not run";
    const std::string liveReport = scene.Reports(1)[0];
    scene.Start({SenderArgs(SinkName("missing"), 0, kGoneCalls, "once")});
    const std::string report = scene.Ended(2, "the sender reports and ends");
    scene.Flow(scene[0], {liveReport});
    const long long accepted = Field(report, "accepted"), traces = Field(report, "traces");
    scene.Expect(traces >= accepted, "every accepted call to the missing sink is traced");
    const size_t sample = std::min(report.find(" first_trace="), report.size()) + 13;
    const auto perCall = [](const std::string& line, const char* key) { return Field(line, key) / double(kGoneCalls); };
    return Format("%ld calls each; missing sink: source %s, %lld accepted, %lld trace lines (%.2f per call), %.2f us "
                  "per call, %.2f us per call until MbLibraryTerm returned; live sink: %lld accepted, %.2f us per "
                  "call, %.2f us until MbLibraryTerm returned; first trace line: %s",
                  kGoneCalls, Field(report, "open") == 1 ? "opened" : "not opened", accepted, traces,
                  perCall(report, "traces"), perCall(report, "call_us"), perCall(report, "total_us"),
                  Field(liveReport, "accepted"), perCall(liveReport, "call_us"), perCall(liveReport, "total_us"),
                  sample < report.size() ? report.c_str() + sample : "(none)");
}

constexpr struct {
    const char* name;
    std::string (*run)(CScene&);
} kScenarios[] = {
    {"fan-in", &FanIn},           {"burst", &Burst},     {"never-take", &NeverTake}, {"kill-sender", &KillSender},
    {"kill-receiver", &KillReceiver}, {"hostile", &Hostile}, {"gone", &Gone},
};

int RunScenarios(const Args& names) {
    // A role that died leaves its input pipe without a reader: the write fails instead.
    signal(SIGPIPE, SIG_IGN);
    int status = 0;
    for (const std::string& name : names) {
        bool known = false;
        for (const auto& scenario : kScenarios) {
            if (name != "all" && name != scenario.name) continue;
            known = true;
            CScene scene;
            Say("stress %s: %s", scenario.name, scenario.run(scene).c_str());
            for (const std::string& failure : scene.failures) Say("stress %s FAILED: %s", scenario.name, failure.c_str());
            status = scene.failures.empty() ? status : 1;
        }
        if (!known) return 2;
    }
    return status;
}

}  // namespace
}  // namespace stress

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const stress::Args args(argv + 2, argv + argc);
    const std::string verb = argv[1];
    if (verb == "run") return stress::RunScenarios(args);
    if (verb == "receiver") return stress::Receiver(args);
    if (verb == "sender") return stress::Sender(args);
    if (verb == "hostile") return stress::Hostile(args);
    return 2;
}
