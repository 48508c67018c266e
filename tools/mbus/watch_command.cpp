// `mbus watch`: opens a sink and prints one line per message that arrives for its services.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <strings.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>

#include "commands.h"
#include "json.h"
#include "query_answer.h"
#include "tool.h"

namespace {

// The message lines of one watch, at most `limit` of them: "SERVICE KIND TEXT", or one JSON
// object each. Lines come from the main loop and from the trace callback on the library's
// thread; the last one allowed wakes the loop.
class CWatchOutput {
public:
    CWatchOutput(unsigned long limit, bool json, MbEvent wake) : limit_(limit), json_(json), wake_(wake) {}
    void PrintItem(const std::string& service, const char* kind, MbItem message) {
        Print(service, kind, ShowItem(message, json_));
    }
    void PrintText(const std::string& service, const char* kind, const std::string& text) {
        Print(service, kind, json_ ? JsonString(text) : text);
    }
    bool Done() {
        std::lock_guard<std::mutex> guard(lock_);
        return printed_ == limit_;
    }

private:
    void Print(const std::string& service, const char* kind, const std::string& message) {
        std::lock_guard<std::mutex> guard(lock_);
        if (printed_ == limit_) return;
        PrintLine(json_ ? "{\"service\":" + JsonString(service) + ",\"kind\":\"" + kind + "\",\"message\":" + message +
                              "}"
                        : service + " " + kind + " " + message);
        if (++printed_ == limit_) SetEvent(wake_);
    }

    std::mutex lock_;
    unsigned long printed_ = 0;
    const unsigned long limit_;
    const bool json_;
    const MbEvent wake_;
};

// One opened service and its state map as last seen, as JSON (which keeps every value exactly).
struct CWatchedService {
    CWatchedService(MbSink sink, const std::string& serviceName, MbEvent event)
        : name(serviceName), handle(MbSinkServiceOpen(sink, serviceName.c_str(), event)) {
        CItemRef atOpening(ChangedState());  // is no change
    }
    // The state map when an advise or update changed it since the last call, else null.
    MbItem ChangedState() {
        CItemRef map;
        if (MbSinkServiceGetState(handle.Get(), map.Out()) != MbResultOk) return nullptr;
        std::string json = ItemJson(map.Get());
        if (json == state) return nullptr;
        state = std::move(json);
        return map.Release();
    }
    const std::string name;
    CHeld<MbSinkServiceClose> handle;
    std::string state;
};

const char* ReceiveCodeName(MbResult code) {
    switch (code) {
        case MbReceivedCall: return "ReceivedCall";
        case MbReceivedQuery: return "ReceivedQuery";
        case MbReceivedReply: return "ReceivedReply";
        default: return "Malformed";
    }
}

// Prints the queued messages of `service` (answering queries with `replyCommand` when there is
// one), then its state map when an advise or update changed it. Messages beyond the line limit
// stay queued.
void Drain(CWatchedService& service, CWatchOutput& output, const std::string& replyCommand) {
    while (!output.Done()) {
        CItemRef message;
        const MbResult code = MbSinkServiceTake(service.handle.Get(), message.Out());
        if (code == MbNothingReceived || code == MbResultInvalid) break;
        output.PrintItem(service.name, ReceiveCodeName(code), message.Get());
        if (code == MbReceivedQuery && !replyCommand.empty()) AnswerQuery(message.Get(), replyCommand);
    }
    CItemRef state(service.ChangedState());
    if (state.Get() != nullptr) output.PrintItem(service.name, "State", state.Get());
}

// Raw messages are not kept by the library, only traced as "SINK.SERVICE.Send: received ..." (or
// ".Request: "): such a line becomes "SERVICE Send received ...".
void OnTracedLine(const std::string& sinkName, const std::string& line, CWatchOutput& output) {
    const std::string prefix = sinkName + ".";
    if (line.compare(0, prefix.size(), prefix) != 0) return;
    for (const char* kind : {"Send", "Request"}) {
        const std::string marker = std::string(".") + kind + ": ";
        const size_t at = line.find(marker + "received ", prefix.size());
        if (at == std::string::npos) continue;
        output.PrintText(line.substr(prefix.size(), at - prefix.size()), kind, line.substr(at + marker.size()));
        return;
    }
}

// Waits until `event` is signalled, a signal in `signals` arrives or `deadline` passes: true for the event.
bool WaitForEvent(MbEvent event, int signals, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fds[2] = {{EventGetFd(event), POLLIN, 0}, {signals, POLLIN, 0}};
        const int ready = poll(fds, 2, left.count() > 60000 ? 60000 : static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return false;
        if ((fds[1].revents & POLLIN) != 0) return false;
        if ((fds[0].revents & POLLIN) != 0) {
            WaitForSingleObject(event, 0);  // resets the auto-reset event
            return true;
        }
    }
}

int Watch(const CCommandLine& line, int signals, MbEvent event) {
    const std::string& name = line.args[0];
    const bool json = line.Has("--json");
    // 100,000,000 s, the largest --seconds, stands for no limit.
    const unsigned long durationMs =
        std::min(line.Number("--seconds", 100000000) * 1000, line.Number("--timeout", ~0ul));
    CHeld<MbSinkClose> sink(MbSinkOpen(name.c_str(), event));
    if (sink.Get() == nullptr) return Failure("cannot open the sink '" + name + "' (is the name in use?)");
    CWatchOutput output(line.Number("--count", ~0ul), json, event);
    std::deque<CWatchedService> services;
    services.emplace_back(sink.Get(), "_default", event);
    for (auto serviceName = line.args.begin() + 1; serviceName != line.args.end(); ++serviceName) {
        bool twice = false;
        for (const CWatchedService& service : services)
            twice |= strcasecmp(service.name.c_str(), serviceName->c_str()) == 0;
        if (!twice && services.emplace_back(sink.Get(), *serviceName, event).handle.Get() == nullptr) {
            return Failure("cannot open the service '" + *serviceName + "'");
        }
    }
    CLibrary::SetLineListener([&](const std::string& traced) { OnTracedLine(name, traced, output); });
    PrintLine(json ? "{\"watching\":" + JsonString(name) + "}" : "watching " + name);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMs);
    do {
        for (CWatchedService& service : services) Drain(service, output, line.Text("--reply"));
    } while (!output.Done() && WaitForEvent(event, signals, deadline));
    CLibrary::SetLineListener(nullptr);
    return kExitOk;
}

}  // namespace

// SIGINT and SIGTERM are blocked before the library starts its threads, so that they reach only
// the signal descriptor the loop waits on, and the watch ends by closing everything in order.
int WatchCommand(const CCommandLine& line) {
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    const int signals = pthread_sigmask(SIG_BLOCK, &stopping, nullptr) == 0 ? signalfd(-1, &stopping, SFD_CLOEXEC) : -1;
    if (signals < 0) return Failure(std::string("cannot take SIGINT and SIGTERM: ") + std::strerror(errno));
    int result = kExitFailed;
    {
        CLibrary library;
        const MbEvent event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        if (library.Ready()) result = Watch(line, signals, event);
        CloseHandle(event);
    }
    close(signals);
    return result;
}
