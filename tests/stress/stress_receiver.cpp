// receiver SINK [hold] [traced]: opens SINK with the stress service, prints "ready" and takes
// the numbered calls {proc: Int seq, arg: {id: Int}}, tallying them per sender id; anything
// else it takes is foreign. A hold takes nothing until "drain" (which prints "drained taken=N"
// after its first pass). "quiet" prints "quiet" once nothing has arrived for a while; "finish"
// reports then and ends.
#include <mbus/win32.h>

#include <map>
#include <utility>

#include "stress/stress.h"

namespace stress {

namespace {

constexpr long kQuietMs = 1500;  // "finish" waits this long without a message or a trace line
constexpr int kPollMs = 50;

// The Int under `key` of a map; -1 when there is none.
int32_t IntAt(MbItem map, const char* key) {
    MbItem field = nullptr;
    int32_t value = -1;
    if (MbMapGetNamed(map, key, &field) == MbResultOk && MbAtomGetInt(field, &value) != MbResultOk) value = -1;
    MbHandleRelease(field);
    return value;
}

// The sender id of a call {proc: Int seq, arg: {id: Int}} and its number; -1 for anything else.
int32_t SenderOf(MbResult code, MbItem message, int32_t* seq) {
    MbItem argument = nullptr;
    *seq = code == MbReceivedCall ? IntAt(message, "proc") : -1;
    if (*seq < 0 || MbMapGetNamed(message, "arg", &argument) != MbResultOk) return -1;
    const int32_t id = IntAt(argument, "id");
    MbHandleRelease(argument);
    return id;
}

// One sender's calls: each number counted once, a number seen before as a duplicate, a new
// number below the highest so far as out of order.
struct CTally {
    std::vector<bool> seen;
    long received = 0, duplicates = 0, disorder = 0;
    int32_t highest = -1;

    void Count(int32_t seq) {
        const size_t at = static_cast<size_t>(seq);
        if (at >= seen.size()) seen.resize(at * 2 + 1024);
        if (seen[at]) {
            ++duplicates;
            return;
        }
        seen[at] = true;
        ++received;
        disorder += seq < highest;
        highest = std::max(highest, seq);
    }
};

class CTallies {
public:
    // Takes until the service reads empty; the number taken.
    long TakeAll(MbSinkService service) {
        long taken = 0;
        MbItem message = nullptr;
        for (MbResult code; (code = MbSinkServiceTake(service, &message)) != MbNothingReceived; ++taken) {
            if (received_ + foreign_ == 0) first_ = Clock::now();
            int32_t seq = -1;
            const int32_t id = SenderOf(code, message, &seq);
            if (id >= 0) senders_[id].Count(seq);
            ++(id >= 0 ? received_ : foreign_);
            MbHandleRelease(std::exchange(message, nullptr));
        }
        if (taken > 0) last_ = Clock::now();
        return taken;
    }
    Clock::time_point Last() const { return last_; }

    // " received=N foreign=N us=N" (first to last message), then " rID=N dID=N oID=N" per sender.
    std::string Figures() const {
        const long long us = std::chrono::duration_cast<std::chrono::microseconds>(last_ - first_).count();
        std::string text = Format(" received=%ld foreign=%ld us=%lld", received_, foreign_, received_ > 0 ? us : 0);
        for (const auto& [id, t] : senders_) {
            text += Format(" r%d=%ld d%d=%ld o%d=%ld", id, t.received, id, t.duplicates, id, t.disorder);
        }
        return text;
    }

private:
    std::map<int32_t, CTally> senders_;
    long received_ = 0, foreign_ = 0;
    Clock::time_point first_{}, last_ = Clock::now();
};

}  // namespace

int Receiver(const Args& args) {
    const auto has = [&args](const char* option) { return std::find(args.begin(), args.end(), option) != args.end(); };
    bool hold = has("hold");
    if (args.empty() || !StartLibrary("receiver", has("traced"))) return 2;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    MbSink sink = MbSinkOpen(args[0].c_str(), nullptr);
    MbSinkService service = sink != nullptr ? MbSinkServiceOpen(sink, kService, event) : nullptr;
    if (service == nullptr) return 1;
    // The event's descriptor is made on first use: a receiver that takes makes it before "ready",
    // so that it is among the descriptors that the driver counts from then on. A holding one
    // leaves its event without one, as a program that never waits for it would.
    if (!hold) EventGetFd(event);
    Say("ready");
    CTallies tallies;
    CLineReader commands(STDIN_FILENO);
    std::string awaiting;  // "quiet" or "finish" while one waits for the quiet
    long traces = 0;
    Clock::time_point quietSince = Clock::now();
    for (const Clock::time_point start = Clock::now(); !commands.Closed() && Since(start) < kRoleDeadlineMs;) {
        // The event is reset before the service is read empty: a message queued after that
        // read signals it again.
        if (!hold) {
            WaitForSingleObject(event, 0);
            tallies.TakeAll(service);
        }
        if (traces != trace::lines.load()) quietSince = Clock::now();
        traces = trace::lines.load();
        quietSince = std::max(quietSince, tallies.Last());
        if (!awaiting.empty() && Since(quietSince) >= kQuietMs) {
            if (awaiting == "finish") break;
            Say("quiet");
            awaiting.clear();
        }
        pollfd ready[2] = {{hold ? -1 : EventGetFd(event), POLLIN, 0}, {commands.Fd(), POLLIN, 0}};
        poll(ready, 2, kPollMs);
        for (std::string command; (command = commands.Next(0)) != "<time-out>" && command != "<end>";) {
            if (command == "drain" && hold) {
                hold = false;
                Say("drained taken=%ld", tallies.TakeAll(service));
            } else if (command == "finish" || command == "quiet") {
                awaiting = command;
                quietSince = Clock::now();
            }
        }
    }
    MbSinkServiceClose(service);
    MbSinkClose(sink);
    const std::string figures = tallies.Figures() + EndLibrary();
    CloseHandle(event);
    Say("report%s", figures.c_str());
    return 0;
}

}  // namespace stress
