// `mbus watch`: opens a sink and prints one line per message that arrives for its services.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <strings.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>

#include "tool.h"

namespace {

// The message lines of one watch, "SERVICE WHAT TEXT", at most `limit` of them. Lines come from the
// main loop and from the trace callback on the library's thread; the last one allowed wakes the loop.
class CWatchOutput {
public:
    CWatchOutput(unsigned long limit, MbEvent wake) : limit_(limit), wake_(wake) {}
    void Print(const std::string& service, const char* what, const std::string& text) {
        std::lock_guard<std::mutex> guard(lock_);
        if (printed_ == limit_) return;
        PrintLine(service + " " + what + " " + text);
        if (++printed_ == limit_) SetEvent(wake_);
    }
    bool Done() {
        std::lock_guard<std::mutex> guard(lock_);
        return printed_ == limit_;
    }

private:
    std::mutex lock_;
    unsigned long printed_ = 0;
    const unsigned long limit_;
    const MbEvent wake_;
};

// One opened service and the text of its state map as last printed.
struct CWatchedService {
    CWatchedService(MbSink sink, const std::string& serviceName, MbEvent event)
        : name(serviceName), handle(MbSinkServiceOpen(sink, serviceName.c_str(), event)), state(StateText()) {}
    std::string StateText() const {
        MbItem map = nullptr;
        if (MbSinkServiceGetState(handle.Get(), &map) != MbResultOk) return "";
        CItemRef held(map);
        return ItemText(map);
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

// Prints the queued messages of `service`, then its state map when an advise or update changed it.
void Drain(CWatchedService& service, CWatchOutput& output) {
    for (;;) {
        MbItem message = nullptr;
        const MbResult code = MbSinkServiceTake(service.handle.Get(), &message);
        if (code == MbNothingReceived || code == MbResultInvalid) break;
        CItemRef held(message);
        output.Print(service.name, ReceiveCodeName(code), ItemText(message));
    }
    const std::string state = service.StateText();
    if (state == service.state) return;
    service.state = state;
    output.Print(service.name, "State", state);
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
        output.Print(line.substr(prefix.size(), at - prefix.size()), kind, line.substr(at + marker.size()));
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

int Watch(const std::string& name, const CArgs& serviceNames, unsigned long count, unsigned long seconds, int signals) {
    CLibrary library;
    if (!library.Ready()) return kExitFailed;
    const MbEvent event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    int result = kExitOk;
    {
        CHeld<MbSinkClose> sink(MbSinkOpen(name.c_str(), event));
        CWatchOutput output(count, event);
        std::deque<CWatchedService> services;
        bool opened = sink.Get() != nullptr;
        if (opened) services.emplace_back(sink.Get(), "_default", event);
        for (const std::string& serviceName : serviceNames) {
            bool twice = false;
            for (const CWatchedService& service : services)
                twice |= strcasecmp(service.name.c_str(), serviceName.c_str()) == 0;
            if (opened && !twice)
                opened = services.emplace_back(sink.Get(), serviceName, event).handle.Get() != nullptr;
        }
        if (!opened) {
            std::fprintf(stderr, "mbus: cannot open the sink '%s' (is the name in use?)\n", name.c_str());
            result = kExitFailed;
        } else {
            CLibrary::SetLineListener([&](const std::string& line) { OnTracedLine(name, line, output); });
            PrintLine("watching " + name);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
            do {
                for (CWatchedService& service : services) Drain(service, output);
            } while (!output.Done() && WaitForEvent(event, signals, deadline));
            CLibrary::SetLineListener(nullptr);
        }
    }
    CloseHandle(event);
    return result;
}

}  // namespace

// SIGINT and SIGTERM are blocked before the library starts its threads, so that they reach only
// the signal descriptor the loop waits on, and the watch ends by closing everything in order.
int WatchCommand(const CArgs& arguments) {
    CArgs args = arguments;
    std::vector<std::string> options;
    unsigned long count = 0;
    unsigned long seconds = 0;
    if (!ParseOptions(&args, {"--count", "--seconds"}, &options) || args.empty() ||
        (!options[0].empty() && !ParseNumber(options[0], 1, 100000000, &count)) ||
        (!options[1].empty() && !ParseNumber(options[1], 1, 100000000, &seconds))) {
        return kExitUsage;
    }
    sigset_t stopping;
    sigemptyset(&stopping);
    sigaddset(&stopping, SIGINT);
    sigaddset(&stopping, SIGTERM);
    const int signals = pthread_sigmask(SIG_BLOCK, &stopping, nullptr) == 0 ? signalfd(-1, &stopping, SFD_CLOEXEC) : -1;
    if (signals < 0) {
        std::perror("mbus: signalfd");
        return kExitFailed;
    }
    const int result = Watch(args[0], CArgs(args.begin() + 1, args.end()), options[0].empty() ? ~0ul : count,
                             options[1].empty() ? 100000000ul : seconds, signals);
    close(signals);
    return result;
}
