// sender SINK ID COUNT [MODE [SINK2]]: prints "ready", waits for "go", then makes COUNT calls
// to SINK numbered 0.., each procedure Int seq and argument {id: Int ID}. By MODE:
//   (none)  each call is offered until accepted, pausing after a refusal; then prints "sent"
//           and waits for "end" before it closes;
//   once    each call is offered once;
//   again   first calls under ID + 1 until told "again" (the driver replaces the receiver
//           meanwhile; its figures are reported as before_*), then the COUNT calls;
//   split   no COUNT calls: calls SINK until refused, then SINK and, under ID + 1, a draining
//           SINK2 for a while; prints "phase" figures (accepted= and refusals= are SINK2's).
// Reports the library's figures and " open=0|1 accepted=N refusals=N call_us=N total_us=N
// first_trace=LINE" (total_us runs until MbLibraryTerm returned).
#include <utility>

#include "stress/stress.h"

namespace stress {

namespace {

constexpr long kGoWaitMs = 30000;
constexpr auto kRetryPause = std::chrono::microseconds(200);
constexpr long kCommandStride = 256;  // "again" looks at its input every this many calls
// split: the longest wait for the first refusal, the phase after it, and the end of the phase
// in which every call to the stuck sink must be refused.
constexpr long kFirstRefusalWaitMs = 30000;
constexpr long kPhaseMs = 2000;
constexpr long kTailMs = 500;
// Calls accepted before the first refusal may still wait in the source's queue then, and move
// into the connection's backlog in the first moments of the phase: memory is compared from here.
constexpr long kSettleMs = 500;
// The calls to the draining sink stay below what its receiver takes, so that the sender's
// memory answers for the refused calls alone.
constexpr long kFlowingCallsPerMs = 50;

// One sender id's numbered calls through a source of its own. The next number is the count
// accepted so far, so a refused number is offered again. Closing waits for what the source
// still holds to be sent or to fail.
class CLink {
public:
    CLink(const std::string& sink, int32_t id)
        : source_(MbSourceOpen(sink.c_str())),
          service_(source_ != nullptr ? MbServiceOpen(source_, kService) : nullptr),
          procedure_(MbAtomNewInt(0)) {
        Renumber(id);
    }
    ~CLink() { Close(); }
    CLink(const CLink&) = delete;
    CLink& operator=(const CLink&) = delete;

    bool Open() const { return service_ != nullptr; }
    // Goes on under another id, its counts from zero.
    void Renumber(int32_t id) {
        MbHandleRelease(argument_);
        argument_ = MbBuild("{s:i}", "id", id);
        accepted = 0;
        refusals = 0;
    }
    // One call (it stores its items at once, so the procedure item is reused).
    bool Offer() {
        const Clock::time_point start = Clock::now();
        MbAtomSetInt(procedure_, accepted);
        const bool ok = MbServiceCall(service_, 0, procedure_, argument_) == 1;
        longestUs = std::max(longestUs, Since<Micros>(start));
        accepted += ok;
        refusals += !ok;
        return ok;
    }
    // Offers the next number until accepted; false when the deadline came first.
    bool Deliver(Clock::time_point deadline) {
        while (!Offer()) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(kRetryPause);
        }
        return true;
    }
    // Before the library ends: what is still held afterwards is not released. A null handle is
    // refused without a trace line.
    void Close() {
        MbServiceClose(std::exchange(service_, nullptr));
        MbSourceClose(std::exchange(source_, nullptr));
        MbHandleRelease(std::exchange(procedure_, nullptr));
        MbHandleRelease(std::exchange(argument_, nullptr));
    }

    int32_t accepted = 0;
    long refusals = 0;
    long longestUs = 0;  // the longest call, accepted or refused

private:
    MbSource source_;
    MbService service_;
    MbItem procedure_;
    MbItem argument_ = nullptr;
};

std::string UntilAgain(CLink& link, int32_t id, CLineReader& commands, Clock::time_point deadline) {
    link.Renumber(id + 1);
    for (long calls = 1; Clock::now() < deadline; ++calls) {
        if (!link.Offer()) std::this_thread::sleep_for(kRetryPause);
        if (calls % kCommandStride == 0 && commands.Next(0) == "again") break;
    }
    const std::string figures = Format(" before_accepted=%d before_refusals=%ld longest_call_us=%ld traces_before=%ld",
                                       link.accepted, link.refusals, link.longestUs, trace::lines.load());
    link.Renumber(id);
    return figures;
}

void Split(CLink& stuck, int32_t id, const std::string& flowingSink) {
    CLink flowing(flowingSink, id + 1);
    const Clock::time_point start = Clock::now();
    while (Since(start) < kFirstRefusalWaitMs && stuck.Offer()) {
    }
    const long firstRefusalMs = Since(start), rssBefore = StatusKb(0, "VmRSS"), refused = stuck.refusals;
    const long longestBefore = std::exchange(stuck.longestUs, 0), acceptedBefore = stuck.accepted;
    long calls = 0, tailCalls = 0, tailRefusals = 0, rssSettled = 0;
    for (const Clock::time_point phase = Clock::now(); refused > 0 && Since(phase) < kPhaseMs; ++calls) {
        if (rssSettled == 0 && Since(phase) >= kSettleMs) rssSettled = StatusKb(0, "VmRSS");
        const bool tail = Since(phase) >= kPhaseMs - kTailMs, accepted = stuck.Offer();
        tailCalls += tail;
        tailRefusals += tail && !accepted;
        if (flowing.accepted + flowing.refusals < Since(phase) * kFlowingCallsPerMs) flowing.Offer();
    }
    Say("phase first_refusal_ms=%ld refused=%d accepted_before=%ld phase_ms=%ld calls=%ld phase_refusals=%ld "
        "tail_ms=%ld tail_calls=%ld tail_refusals=%ld longest_before_us=%ld longest_us=%ld accepted=%d refusals=%ld "
        "rss_before_kb=%ld rss_settled_kb=%ld rss_after_kb=%ld",
        firstRefusalMs, refused > 0, acceptedBefore, kPhaseMs, calls, stuck.refusals - refused, kTailMs, tailCalls,
        tailRefusals, longestBefore, stuck.longestUs, flowing.accepted, flowing.refusals, rssBefore, rssSettled,
        StatusKb(0, "VmRSS"));
}

}  // namespace

int Sender(const Args& args) {
    if (args.size() < 3 || !StartLibrary("sender", true)) return 2;
    const int32_t id = std::atoi(args[1].c_str()), count = std::atoi(args[2].c_str());
    const std::string mode = args.size() > 3 ? args[3] : "";
    CLink link(args[0], id);
    CLineReader commands(STDIN_FILENO);
    Say("ready");
    if (commands.Next(kGoWaitMs) != "go") return 1;
    const Clock::time_point start = Clock::now(), deadline = start + std::chrono::milliseconds(kRoleDeadlineMs);
    const bool open = link.Open();
    std::string figures;
    if (open && mode == "split") Split(link, id, args.at(4));
    if (open && mode == "again") figures = UntilAgain(link, id, commands, deadline);
    for (int32_t i = 0; open && mode != "split" && i < count; ++i) {
        if (mode == "once") {
            link.Offer();
        } else if (!link.Deliver(deadline)) {
            break;
        }
    }
    const long callUs = Since<Micros>(start);
    if (open && mode.empty()) {
        Say("sent");
        commands.Await("end", kRoleDeadlineMs);
    }
    link.Close();
    figures += EndLibrary();
    Say("report%s open=%d accepted=%d refusals=%ld call_us=%ld total_us=%ld first_trace=%s", figures.c_str(), open,
        link.accepted, link.refusals, callUs, Since<Micros>(start), FirstTrace().c_str());
    return 0;
}

}  // namespace stress
