// The receiving role: one sink, one service, every numbered call tallied per sender.
#include <mbus/mbus.h>
#include <mbus/win32.h>
#include <poll.h>
#include <unistd.h>

#include <map>
#include <vector>

#include "stress/stress_common.h"
#include "stress/stress_roles.h"
#include "stress/stress_trace.h"

namespace stress {

namespace {

// "finish" reports once nothing has arrived for this long.
constexpr long kQuietMs = 1500;
constexpr int kPollMs = 50;

bool IntAt(MbItem map, const char* key, int32_t* value) {
    MbItem field = nullptr;
    if (MbMapGetNamed(map, key, &field) != MbResultOk) return false;
    const bool ok = MbAtomGetInt(field, value) == MbResultOk;
    MbHandleRelease(field);
    return ok;
}

// A call {proc: Int seq, arg: {id: Int}}: its sender id and number.
bool Numbered(MbItem message, int32_t* id, int32_t* seq) {
    MbItem argument = nullptr;
    if (!IntAt(message, "proc", seq) || *seq < 0 || MbMapGetNamed(message, "arg", &argument) != MbResultOk) {
        return false;
    }
    const bool ok = IntAt(argument, "id", id);
    MbHandleRelease(argument);
    return ok;
}

// What arrived from one sender: each number counted once, a number seen before as a
// duplicate, a new number below the highest so far as out of order.
struct CTally {
    std::vector<bool> seen;
    long received = 0;
    long duplicates = 0;
    long disorder = 0;
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
        if (seq < highest) ++disorder;
        highest = std::max(highest, seq);
    }
};

class CTallies {
public:
    // Takes until the service reads empty; the number taken.
    long TakeAll(MbSinkService service) {
        long taken = 0;
        MbItem message = nullptr;
        MbResult code;
        while ((code = MbSinkServiceTake(service, &message)) != MbNothingReceived) {
            Count(code, message);
            if (message != nullptr) MbHandleRelease(message);
            message = nullptr;
            ++taken;
        }
        if (taken > 0) last_ = Clock::now();
        return taken;
    }

    Clock::time_point Last() const { return last_; }

    // " received=N foreign=N us=N" (first to last message), then "rID= dID= oID=" per sender.
    std::string Figures() const {
        const auto span =
            received_ > 0 ? std::chrono::duration_cast<std::chrono::microseconds>(last_ - first_).count() : 0;
        std::string text = " received=" + std::to_string(received_) + " foreign=" + std::to_string(foreign_) +
                           " us=" + std::to_string(span);
        for (const auto& [id, tally] : senders_) {
            const std::string n = std::to_string(id);
            text += " r" + n + "=" + std::to_string(tally.received) + " d" + n + "=" +
                    std::to_string(tally.duplicates) + " o" + n + "=" + std::to_string(tally.disorder);
        }
        return text;
    }

private:
    void Count(MbResult code, MbItem message) {
        if (received_ == 0 && foreign_ == 0) first_ = Clock::now();
        int32_t id = 0, seq = 0;
        if (code != MbReceivedCall || !Numbered(message, &id, &seq)) {
            ++foreign_;
            return;
        }
        senders_[id].Count(seq);
        ++received_;
    }

    std::map<int32_t, CTally> senders_;
    long received_ = 0;
    long foreign_ = 0;
    Clock::time_point first_{};
    Clock::time_point last_ = Clock::now();
};

}  // namespace

int Receiver(const std::vector<std::string>& args) {
    if (args.empty()) return 2;
    bool hold = false, traced = false;
    for (size_t i = 1; i < args.size(); ++i) {
        hold = hold || args[i] == "hold";
        traced = traced || args[i] == "traced";
    }
    if (!StartLibrary("receiver", traced)) return 1;
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    MbSink sink = MbSinkOpen(args[0].c_str(), nullptr);
    MbSinkService service = sink != nullptr ? MbSinkServiceOpen(sink, kService, event) : nullptr;
    if (service == nullptr) return 1;
    Say("ready");

    CTallies tallies;
    CLineReader commands(STDIN_FILENO);
    bool finishing = false;
    Clock::time_point quietSince = Clock::now();
    const Clock::time_point start = Clock::now();
    while (!commands.Closed() && MillisSince(start) < kRoleDeadlineMs) {
        // The event is reset before the service is read empty: a message queued after that
        // read signals it again.
        if (!hold) {
            WaitForSingleObject(event, 0);
            tallies.TakeAll(service);
        }
        if (tallies.Last() > quietSince) quietSince = tallies.Last();
        if (finishing && MillisSince(quietSince) >= kQuietMs) break;
        pollfd ready[2] = {{hold ? -1 : EventGetFd(event), POLLIN, 0}, {commands.Fd(), POLLIN, 0}};
        poll(ready, 2, kPollMs);
        while (const std::optional<std::string> command = commands.Next(0)) {
            if (*command == "drain" && hold) {
                hold = false;
                Say("drained taken=%ld", tallies.TakeAll(service));
            } else if (*command == "finish") {
                finishing = true;
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
