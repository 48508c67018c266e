// The sending roles. Every call is numbered: procedure Int seq, argument {id: Int sender id}.
#include <mbus/mbus.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>
#include <utility>

#include "stress/stress_common.h"
#include "stress/stress_roles.h"
#include "stress/stress_trace.h"

namespace stress {

namespace {

// A refused call is offered again after this pause.
constexpr auto kRetryPause = std::chrono::microseconds(200);
// sender-split: the longest wait for the first refusal, the phase that follows it, and the
// final part of that phase in which every call to the stuck sink is expected to be refused.
constexpr long kFirstRefusalWaitMs = 30000;
constexpr long kRefusalPhaseMs = 2000;
constexpr long kRefusalTailMs = 500;
// The calls to the draining sink meanwhile are paced below what its receiver takes, so that
// the sender's memory answers for the refused calls alone.
constexpr double kFlowingCallsPerSecond = 50000;
// sender-reconnect looks at its input every kCommandStride calls.
constexpr long kCommandStride = 256;

// The argument map of one sender's calls, released on destruction.
class CArgument {
public:
    explicit CArgument(int32_t id) : item_(MbBuild("{s:i}", "id", id)) {}
    ~CArgument() { MbHandleRelease(item_); }
    CArgument(const CArgument&) = delete;
    CArgument& operator=(const CArgument&) = delete;
    MbItem Get() const { return item_; }

private:
    MbItem item_;
};

// A source bound to a sink name and its proxy for the stress service. Closing waits for what
// the source still holds to be sent or to fail.
class CLink {
public:
    explicit CLink(const std::string& sink)
        : source_(MbSourceOpen(sink.c_str())),
          service_(source_ != nullptr ? MbServiceOpen(source_, kService) : nullptr),
          procedure_(MbAtomNewInt(0)) {}
    ~CLink() {
        Close();
        MbHandleRelease(procedure_);
    }
    CLink(const CLink&) = delete;
    CLink& operator=(const CLink&) = delete;

    bool Open() const { return service_ != nullptr; }

    // One call numbered seq (the call stores its items at once, so the procedure is reused).
    bool Call(int32_t seq, const CArgument& argument) {
        const Clock::time_point start = Clock::now();
        MbAtomSetInt(procedure_, seq);
        const bool accepted = MbServiceCall(service_, 0, procedure_, argument.Get()) == 1;
        longestCallUs_ = std::max(longestCallUs_, static_cast<long>(SecondsSince(start) * 1e6));
        return accepted;
    }

    // The longest a call took, accepted or refused, since this was last asked.
    long TakeLongestCallUs() { return std::exchange(longestCallUs_, 0); }

    // Calls until accepted, counting refusals; false when the deadline came first.
    bool Deliver(int32_t seq, const CArgument& argument, Clock::time_point deadline, long* refusals) {
        while (!Call(seq, argument)) {
            ++*refusals;
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(kRetryPause);
        }
        return true;
    }

    void Close() {
        if (service_ != nullptr) MbServiceClose(service_);
        if (source_ != nullptr) MbSourceClose(source_);
        service_ = nullptr;
        source_ = nullptr;
    }

private:
    MbSource source_;
    MbService service_;
    MbItem procedure_;
    long longestCallUs_ = 0;
};

Clock::time_point RoleDeadline() {
    return Clock::now() + std::chrono::milliseconds(kRoleDeadlineMs);
}

// Prints "ready" and waits for the driver's "go".
bool Go(CLineReader& commands) {
    Say("ready");
    const std::optional<std::string> line = commands.Next(kGoWaitMs);
    return line && *line == "go";
}

}  // namespace

int Sender(const std::vector<std::string>& args) {
    if (args.size() != 3 || !StartLibrary("sender", true)) return 2;
    const CArgument argument(std::atoi(args[1].c_str()));
    const int32_t count = std::atoi(args[2].c_str());
    CLink link(args[0]);
    CLineReader commands(STDIN_FILENO);
    if (!link.Open() || !Go(commands)) return 1;
    const Clock::time_point start = Clock::now(), deadline = RoleDeadline();
    long refusals = 0;
    int32_t accepted = 0;
    while (accepted < count && link.Deliver(accepted, argument, deadline, &refusals)) ++accepted;
    const double seconds = SecondsSince(start);
    link.Close();
    const std::string figures = EndLibrary();
    Say("report accepted=%d refusals=%ld seconds=%.3f%s", accepted, refusals, seconds, figures.c_str());
    return 0;
}

int SplitSender(const std::vector<std::string>& args) {
    if (args.size() != 2 || !StartLibrary("sender-split", true)) return 2;
    const CArgument stuckArgument(0), flowingArgument(1);
    CLink stuck(args[0]), flowing(args[1]);
    CLineReader commands(STDIN_FILENO);
    if (!stuck.Open() || !flowing.Open() || !Go(commands)) return 1;
    const Clock::time_point start = Clock::now();
    int32_t stuckAccepted = 0;
    while (MillisSince(start) < kFirstRefusalWaitMs && stuck.Call(stuckAccepted, stuckArgument)) ++stuckAccepted;
    const long firstRefusalMs = MillisSince(start);
    const bool refused = firstRefusalMs < kFirstRefusalWaitMs;
    const int32_t acceptedBeforeRefusal = stuckAccepted;

    const long rssBefore = StatusKb(0, "VmRSS");
    const long longestBefore = stuck.TakeLongestCallUs();
    const Clock::time_point phase = Clock::now();
    long calls = 0, refusals = 0, tailCalls = 0, tailRefusals = 0, flowingRefusals = 0;
    int32_t flowingAccepted = 0;
    while (refused && MillisSince(phase) < kRefusalPhaseMs) {
        const bool tail = MillisSince(phase) >= kRefusalPhaseMs - kRefusalTailMs;
        const bool accepted = stuck.Call(stuckAccepted, stuckArgument);
        stuckAccepted += accepted ? 1 : 0;
        ++calls;
        refusals += accepted ? 0 : 1;
        tailCalls += tail ? 1 : 0;
        tailRefusals += tail && !accepted ? 1 : 0;
        if (flowingAccepted + flowingRefusals >= SecondsSince(phase) * kFlowingCallsPerSecond) continue;
        if (flowing.Call(flowingAccepted, flowingArgument)) {
            ++flowingAccepted;
        } else {
            ++flowingRefusals;
        }
    }
    Say("report first_refusal_ms=%ld refused=%d accepted_before=%d phase_ms=%ld calls=%ld refusals=%ld tail_ms=%ld "
        "tail_calls=%ld tail_refusals=%ld longest_before_us=%ld longest_us=%ld flowing_accepted=%d "
        "flowing_refusals=%ld rss_before_kb=%ld rss_after_kb=%ld",
        firstRefusalMs, refused ? 1 : 0, acceptedBeforeRefusal, kRefusalPhaseMs, calls, refusals, kRefusalTailMs,
        tailCalls, tailRefusals, longestBefore, stuck.TakeLongestCallUs(), flowingAccepted, flowingRefusals, rssBefore,
        StatusKb(0, "VmRSS"));
    stuck.Close();
    flowing.Close();
    const std::string figures = EndLibrary();
    Say("ended%s", figures.c_str());
    return 0;
}

int ReconnectSender(const std::vector<std::string>& args) {
    if (args.size() != 2 || !StartLibrary("sender-reconnect", true)) return 2;
    const int32_t secondCount = std::atoi(args[1].c_str());
    const CArgument first(0), second(1);
    CLink link(args[0]);
    CLineReader commands(STDIN_FILENO);
    if (!link.Open() || !Go(commands)) return 1;
    const Clock::time_point deadline = RoleDeadline();
    int32_t accepted = 0;
    long refusals = 0;
    for (long calls = 1; Clock::now() < deadline; ++calls) {
        if (link.Call(accepted, first)) {
            ++accepted;
        } else {
            ++refusals;
            std::this_thread::sleep_for(kRetryPause);
        }
        if (calls % kCommandStride == 0 && commands.Next(0) == "again") break;
    }
    const long longestCallUs = link.TakeLongestCallUs(), tracesBefore = TraceLines();
    long secondRefusals = 0;
    int32_t secondAccepted = 0;
    while (secondAccepted < secondCount && link.Deliver(secondAccepted, second, deadline, &secondRefusals)) {
        ++secondAccepted;
    }
    link.Close();
    const std::string figures = EndLibrary();
    Say("report accepted=%d refusals=%ld longest_call_us=%ld traces_before=%ld second_accepted=%d "
        "second_refusals=%ld%s",
        accepted, refusals, longestCallUs, tracesBefore, secondAccepted, secondRefusals, figures.c_str());
    return 0;
}

namespace {

// COUNT calls to one sink, each offered once, in a library lifetime of their own: ending the
// library settles the fate of every accepted call (sent, or failed and traced).
std::string GonePhase(const char* label, const std::string& sink, int32_t count) {
    const std::string prefix = std::string(" ") + label + "_";
    const long tracesBefore = TraceLines();
    const Clock::time_point start = Clock::now();
    if (!StartLibrary("sender-gone", true)) return prefix + "open=0";
    TraceSampleStart();
    bool opened = false;
    int32_t accepted = 0;
    double callSeconds = 0;
    {
        const CArgument argument(0);
        CLink link(sink);
        opened = link.Open();
        for (int32_t seq = 0; opened && seq < count; ++seq) accepted += link.Call(accepted, argument) ? 1 : 0;
        callSeconds = SecondsSince(start);
    }
    EndLibrary();
    const double totalSeconds = SecondsSince(start);
    return prefix + "open=" + (opened ? "1" : "0") + prefix + "accepted=" + std::to_string(accepted) + prefix +
           "call_ns=" + std::to_string(static_cast<long>(callSeconds * 1e9 / count)) + prefix +
           "total_ns=" + std::to_string(static_cast<long>(totalSeconds * 1e9 / count)) + prefix +
           "traces=" + std::to_string(TraceLines() - tracesBefore);
}

}  // namespace

int GoneSender(const std::vector<std::string>& args) {
    const int32_t count = args.size() == 3 ? std::atoi(args[2].c_str()) : 0;
    CLineReader commands(STDIN_FILENO);
    if (count <= 0) return 2;
    if (!Go(commands)) return 1;
    std::string figures = GonePhase("live", args[0], count);
    figures += GonePhase("gone", args[1], count);
    const std::string sample = TraceSample();
    Say("sample %s", sample.empty() ? "(nothing traced)" : sample.c_str());
    Say("report%s hwm_kb=%ld", figures.c_str(), StatusKb(0, "VmHWM"));
    return 0;
}

}  // namespace stress
