// The message bus between two processes, through the C interface, against the raw transports
// and ZeroMQ, all from one run. Prints:
//   - MbServiceSend of 64 B, msg/s: the receiver's trace callback sees one ".Send: received"
//     line per message (a Send is traced by the receiving service, never queued); the clock
//     stops when the receiver has taken a closing Call sent after the last Send, and it checks
//     that every Send was traced before it. Also without a trace callback (nothing formatted).
//   - MbServiceCall with a small map argument, msg/s: each taken with MbSinkServiceTake. A
//     service queues at most 65535 messages, so the sender stays at most 32768 calls ahead of
//     what the receiver reports taken.
//   - Query -> reply round trip, p50 and p99: MbServiceQueryCookie, the other side takes the
//     query and answers with MbServiceReply, the reply is taken by the querying side.
//   - Fan-in: 8 sender processes call (as above, a refused call offered again) into one service
//     of this process, which takes as fast as it can; msg/s from the first take to the last,
//     and how many of the calls arrived.
//   - Burst: one sender process calls while this process takes nothing for 3 s, then drains;
//     the drain rate and how many arrived.
//   - Raw SOCK_SEQPACKET ping-pong and, when libzmq is present, ZeroMQ ipc PUSH/PULL 64 B and
//     REQ/REP 64 B, with the ratios mbus/peer and the targets: each Send rate at least
//     PUSH/PULL's, the query p50 at most 0.65 of REQ/REP's (the exit status is 0 only when the
//     quiet Send and the p50 targets are met).
//
// The receiving side is this program run again ("--serve <mode> ..."); it reports through a
// pipe: one byte when it is ready, one when it has seen the last message. Throughput figures
// are the best of three runs; the clock runs from the receiver being ready until it reports.
// The fan-in and burst senders are this program too ("--serve caller ..."), run once each.
#include <mbus/mbus.h>
#include <mbus/win32.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef MBUS_HAVE_ZMQ
#include <zmq.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int kWaitMs = 60000;
constexpr size_t kPayload = 64;
constexpr long kZmqMessages = 2000000;
// The Call sender stays at most kCallWindow calls ahead of what the receiver reported taken, in
// steps of kCallCredit, so that the figure is the steady rate rather than a burst into the queue
// (the burst figure measures that).
constexpr long kCallWindow = 32768;
constexpr long kCallCredit = 4096;

// The figures' sizes; a second argument divides the mbus ones and runs each once (for profiling
// under valgrind, for example "messaging_bench send 100").
int gRuns = 3;
long gSendMessages = 300000;
long gCallMessages = 200000;
long gFanInCalls = 100000;
long gBurstCalls = 300000;
constexpr int kFanInSenders = 8;
constexpr long kBurstHoldMs = 3000;
// Fan-in and burst end once every call arrived, or when none came for this long.
constexpr DWORD kQuietMs = 1000;
int gWarmUpTrips = 1000;
int gTrips = 20000;
const char kService[] = "bench";

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration elapsed) {
    return std::chrono::duration<double>(elapsed).count();
}

// --- the receiving process and its pipe ----------------------------------------------------

// What the receiver reports: ready, done, or one more kCallCredit calls taken.
constexpr char kReady = 'r';
constexpr char kDone = 'd';
constexpr char kCredit = 'c';

void Report(int fd, char what) {
    [[maybe_unused]] ssize_t ignored = write(fd, &what, 1);
}

// The next report, or 0 when none came in time.
char AwaitReport(int fd) {
    pollfd descriptor{fd, POLLIN, 0};
    char what = 0;
    return poll(&descriptor, 1, kWaitMs) == 1 && read(fd, &what, 1) == 1 ? what : 0;
}

// This program run again as the receiving side; killed and reaped when the figure is taken.
class CPeerProcess {
public:
    // keepFd: a descriptor the peer inherits (its number is passed in the arguments), or -1.
    CPeerProcess(const std::string& mode, const std::string& name, long count, int keepFd = -1) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return;
        report_ = fds[0];
        const std::string reportFd = std::to_string(Inherit(fds[1]));
        const std::string keep = std::to_string(keepFd >= 0 ? Inherit(keepFd) : -1);
        const std::string number = std::to_string(count);
        std::vector<std::string> words = Command();
        for (const std::string& word : {std::string("--serve"), mode, reportFd, name, number, keep})
            words.push_back(word);
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        if (posix_spawnp(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = -1;
        close(fds[1]);
        if (keepFd >= 0) fcntl(keepFd, F_SETFD, FD_CLOEXEC);
        ready_ = pid_ > 0 && AwaitReport(report_) == kReady;
    }
    // SIGTERM first, so that a profiler wrapped around the peer writes its output; SIGKILL after 10 s.
    ~CPeerProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            for (int i = 0; i < 1000 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i) usleep(10000);
            if (waitpid(pid_, nullptr, WNOHANG) == 0) {
                kill(pid_, SIGKILL);
                waitpid(pid_, nullptr, 0);
            }
        }
        if (report_ >= 0) close(report_);
    }
    CPeerProcess(const CPeerProcess&) = delete;
    CPeerProcess& operator=(const CPeerProcess&) = delete;

    bool Ready() const { return ready_; }
    // True when the peer reported its last message within the time limit.
    // Skips the credits still unread.
    bool AwaitDone() const {
        char what;
        while ((what = AwaitReport(report_)) == kCredit) {
        }
        return what == kDone;
    }
    bool AwaitCredit() const { return AwaitReport(report_) == kCredit; }

private:
    // This program, behind the words of MBUS_BENCH_PEER_WRAP when set (for example
    // "valgrind --tool=callgrind" to profile the receiving side).
    static std::vector<std::string> Command() {
        std::vector<std::string> words;
        if (const char* wrap = std::getenv("MBUS_BENCH_PEER_WRAP")) {
            std::istringstream in(wrap);
            for (std::string word; in >> word;) words.push_back(word);
        }
        char path[4096];
        const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
        words.emplace_back(path, length > 0 ? static_cast<size_t>(length) : 0);
        return words;
    }

    static int Inherit(int fd) {
        fcntl(fd, F_SETFD, 0);
        return fd;
    }

    pid_t pid_ = -1;
    int report_ = -1;
    bool ready_ = false;
};

double Best(const std::function<double()>& run) {
    double best = 0;
    for (int i = 0; i < gRuns; ++i) best = std::max(best, run());
    return best;
}

struct CLatency {
    double p50 = 0;
    double p99 = 0;
};

// Median and 99th percentile in microseconds.
CLatency Percentiles(std::vector<double>& micros) {
    if (micros.empty()) return {};
    std::sort(micros.begin(), micros.end());
    return {micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// Runs `trip` gWarmUpTrips times unmeasured, then gTrips times measured; an empty result when
// a trip fails.
CLatency MeasureTrips(const std::function<bool(int)>& trip) {
    std::vector<double> micros;
    micros.reserve(gTrips);
    for (int i = 0; i < gWarmUpTrips + gTrips; ++i) {
        const Clock::time_point start = Clock::now();
        if (!trip(i)) return {};
        if (i >= gWarmUpTrips) micros.push_back(Seconds(Clock::now() - start) * 1e6);
    }
    return Percentiles(micros);
}

// --- mbus: the receiving side ----------------------------------------------------------------

std::atomic<long> gTracedSends{0};

void CountSends(const char* text, uint32_t) {
    if (std::strstr(text, ".Send: received ") != nullptr) gTracedSends.fetch_add(1, std::memory_order_relaxed);
}

bool IsString(MbItem item, const char* text) {
    const char* value = nullptr;
    uint16_t length = 0;
    return MbAtomGetString(item, &value, &length) == MbResultOk && std::strlen(text) == length &&
           std::memcmp(value, text, length) == 0;
}

// The procedure of a taken call: the item itself, or the map's "proc".
bool IsCallOf(MbItem message, const char* procedure) {
    MbItem named = nullptr;
    if (MbMapGetNamed(message, "proc", &named) != MbResultOk) return IsString(message, procedure);
    const bool match = IsString(named, procedure);
    MbHandleRelease(named);
    return match;
}

// Answers every query with MbServiceReply through one cached proxy per querying service.
class CResponder {
public:
    CResponder() : result_(MbAtomNewInt(42)) {}
    ~CResponder() {
        for (auto& [key, link] : links_) {
            MbServiceClose(link.second);
            MbSourceClose(link.first);
        }
        MbHandleRelease(result_);
    }

    void Answer(MbItem query) {
        MbItem source = nullptr, service = nullptr, cookie = nullptr, procedure = nullptr;
        MbMapGetNamed(query, "source", &source);
        MbMapGetNamed(query, "service", &service);
        MbMapGetNamed(query, "cookie", &cookie);
        MbMapGetNamed(query, "proc", &procedure);
        if (MbService proxy = Proxy(Text(source), Text(service))) MbServiceReply(proxy, 0, procedure, cookie, result_);
        for (MbItem item : {source, service, cookie, procedure}) {
            if (item != nullptr) MbHandleRelease(item);
        }
    }

private:
    static std::string Text(MbItem item) {
        const char* value = nullptr;
        uint16_t length = 0;
        return MbAtomGetString(item, &value, &length) == MbResultOk ? std::string(value, length) : std::string();
    }

    MbService Proxy(const std::string& source, const std::string& service) {
        auto& link = links_[source + "\n" + service];
        if (link.first == nullptr) link.first = MbSourceOpen(source.c_str());
        if (link.first != nullptr && link.second == nullptr) link.second = MbServiceOpen(link.first, service.c_str());
        return link.second;
    }

    MbItem result_;
    std::map<std::string, std::pair<MbSource, MbService>> links_;
};

// Modes: "send" (counts traced Sends, done at the closing Call), "send-quiet" (no trace
// callback, done at the closing Call), "call" (done after `count` calls), "reply" (answers
// queries until killed).
int ServeMbus(const std::string& mode, int reportFd, const char* name, long count) {
    if (!MbLibraryInit()) return 1;
    if (mode == "send") MbTracerSet(&CountSends);
    HANDLE sinkEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE serviceEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    MbSink sink = MbSinkOpen(name, sinkEvent);
    MbSinkService service = sink != nullptr ? MbSinkServiceOpen(sink, kService, serviceEvent) : nullptr;
    if (service == nullptr) return 1;
    CResponder responder;
    Report(reportFd, kReady);
    long calls = 0;
    const long expectedCalls = mode == "call" ? count : 1;
    bool done = false;
    while (!done) {
        if (WaitForSingleObject(serviceEvent, kWaitMs) != WAIT_OBJECT_0) return 1;
        MbItem message = nullptr;
        MbResult code;
        while ((code = MbSinkServiceTake(service, &message)) != MbNothingReceived) {
            if (code == MbReceivedQuery) {
                responder.Answer(message);
            } else if (code == MbReceivedCall) {
                if (mode == "call" && !IsCallOf(message, "set")) return 1;
                done = ++calls == expectedCalls && mode != "reply";
                if (mode == "call" && calls % kCallCredit == 0) Report(reportFd, kCredit);
            }
            if (message != nullptr) MbHandleRelease(message);
        }
    }
    // The closing Call came after every Send on one ordered stream: all of them were handled.
    if (mode == "send" && gTracedSends.load() != count) {
        std::fprintf(stderr, "receiver traced %ld Sends of %ld\n", gTracedSends.load(), count);
        return 1;
    }
    Report(reportFd, kDone);
    pause();
    return 0;
}

// --- mbus: the sending side --------------------------------------------------------------------

// A source and a service proxy to the receiver's sink, closed when the figure is taken.
class CLink {
public:
    explicit CLink(const std::string& sink)
        : source_(MbSourceOpen(sink.c_str())),
          service_(source_ != nullptr ? MbServiceOpen(source_, kService) : nullptr) {}
    ~CLink() {
        if (service_ != nullptr) MbServiceClose(service_);
        if (source_ != nullptr) MbSourceClose(source_);
    }
    CLink(const CLink&) = delete;
    CLink& operator=(const CLink&) = delete;

    MbService Service() const { return service_; }

private:
    MbSource source_;
    MbService service_;
};

int gSinkNumber = 0;

std::string NextSinkName() {
    return "mbench-" + std::to_string(getpid()) + "-" + std::to_string(++gSinkNumber);
}

// Starts a receiver in `mode`, runs send(service) and returns count / seconds until the
// receiver reported; 0 on failure.
double MbusRate(const char* mode, long count, const std::function<bool(MbService, const CPeerProcess&)>& send) {
    const std::string name = NextSinkName();
    CPeerProcess peer(mode, name, count);
    if (!peer.Ready()) return 0;
    CLink link(name);
    if (link.Service() == nullptr) return 0;
    const Clock::time_point start = Clock::now();
    if (!send(link.Service(), peer) || !peer.AwaitDone()) return 0;
    return static_cast<double>(count) / Seconds(Clock::now() - start);
}

// Posts until the post is taken: a sender may have at most a fixed number of messages queued on
// one source, and a refused post waits for the source request thread to catch up.
bool Posted(const std::function<MbBool()>& post) {
    for (int attempt = 0; attempt < kWaitMs; ++attempt) {
        if (post()) return true;
        usleep(1000);
    }
    return false;
}

bool SendCall(MbService service, const char* procedure, MbItem argument) {
    MbItem item = MbAtomNewString(procedure);
    const MbBool sent = MbServiceCall(service, 0, item, argument);
    MbHandleRelease(item);
    return sent != 0;
}

double SendRate(const char* mode) {
    return MbusRate(mode, gSendMessages, [](MbService service, const CPeerProcess&) {
        char payload[kPayload];
        std::memset(payload, 'm', sizeof payload);
        for (long i = 0; i < gSendMessages; ++i) {
            if (!Posted([&] { return MbServiceSend(service, 0, payload, sizeof payload); })) return false;
        }
        return SendCall(service, "end", nullptr);
    });
}

double CallRate() {
    return MbusRate("call", gCallMessages, [](MbService service, const CPeerProcess& peer) {
        MbItem procedure = MbAtomNewString("set");
        MbItem argument = MbBuild("{s:i,s:r,s:s}", "zone", 2, "celsius", 21.5, "mode", "heat");
        bool ok = procedure != nullptr && argument != nullptr;
        long taken = 0;
        for (long i = 0; i < gCallMessages && ok; ++i) {
            while (ok && i - taken >= kCallWindow) {
                ok = peer.AwaitCredit();
                taken += kCallCredit;
            }
            ok = ok && Posted([&] { return MbServiceCall(service, 0, procedure, argument); });
        }
        MbHandleRelease(argument);
        MbHandleRelease(procedure);
        return ok;
    });
}

// The sending side of fan-in and burst: `count` calls into the service kService of sink `name`.
int ServeCaller(int reportFd, const char* name, long count) {
    if (!MbLibraryInit()) return 1;
    CLink link(name);
    MbItem procedure = MbAtomNewString("set");
    MbItem argument = MbBuild("{s:i,s:r,s:s}", "zone", 2, "celsius", 21.5, "mode", "heat");
    if (link.Service() == nullptr || procedure == nullptr || argument == nullptr) return 1;
    Report(reportFd, kReady);
    bool ok = true;
    const auto call = [&] { return MbServiceCall(link.Service(), 0, procedure, argument); };
    for (long i = 0; i < count && ok; ++i) ok = Posted(call);
    if (ok) Report(reportFd, kDone);
    pause();
    return 0;
}

struct CArrival {
    long taken = 0;
    double rate = 0;  // from the first take to the last
};

// Starts `senders` callers into this process's sink, `count` calls each, takes nothing for
// holdMs, then takes until every call arrived or none came for kQuietMs.
CArrival TakeCalls(const std::string& sink, MbSinkService service, HANDLE event, int senders, long count, long holdMs) {
    std::vector<std::unique_ptr<CPeerProcess>> callers;
    for (int i = 0; i < senders; ++i) {
        callers.push_back(std::make_unique<CPeerProcess>("caller", sink, count));
        if (!callers.back()->Ready()) return {};
    }
    usleep(static_cast<useconds_t>(holdMs * 1000));
    CArrival arrival;
    Clock::time_point first, last;
    while (arrival.taken < senders * count && WaitForSingleObject(event, kQuietMs) == WAIT_OBJECT_0) {
        MbItem message = nullptr;
        while (MbSinkServiceTake(service, &message) != MbNothingReceived) {
            if (arrival.taken++ == 0) first = Clock::now();
            if (message != nullptr) MbHandleRelease(message);
            message = nullptr;
        }
        last = Clock::now();
    }
    if (arrival.taken > 1) arrival.rate = static_cast<double>(arrival.taken) / Seconds(last - first);
    return arrival;
}

CArrival FanIn(const std::string& sink, MbSinkService service, HANDLE event) {
    return TakeCalls(sink, service, event, kFanInSenders, gFanInCalls, 0);
}

CArrival Burst(const std::string& sink, MbSinkService service, HANDLE event) {
    return TakeCalls(sink, service, event, 1, gBurstCalls, kBurstHoldMs);
}

// The querying side holds the process sink (opened once, for the replies).
CLatency QueryLatency(MbSinkService replies, HANDLE replyEvent) {
    const std::string name = NextSinkName();
    CPeerProcess peer("reply", name, 0);
    if (!peer.Ready()) return {};
    CLink link(name);
    if (link.Service() == nullptr) return {};
    MbItem procedure = MbAtomNewString("temperature");
    MbItem argument = MbAtomNewInt(2);
    const CLatency latency = MeasureTrips([&](int trip) {
        if (!MbServiceQueryCookie(link.Service(), 0, procedure, argument, replies, static_cast<uint32_t>(trip), 0)) {
            return false;
        }
        for (;;) {
            MbItem reply = nullptr;
            const MbResult code = MbSinkServiceTake(replies, &reply);
            if (code == MbReceivedReply) {
                MbItem cookie = nullptr;
                uint64_t value = ~0ull;
                MbMapGetNamed(reply, "cookie", &cookie);
                MbAtomGetCookie(cookie, &value);
                if (cookie != nullptr) MbHandleRelease(cookie);
                MbHandleRelease(reply);
                return value == static_cast<uint64_t>(trip);
            }
            if (reply != nullptr) MbHandleRelease(reply);
            if (code != MbNothingReceived || WaitForSingleObject(replyEvent, kWaitMs) != WAIT_OBJECT_0) return false;
        }
    });
    MbHandleRelease(argument);
    MbHandleRelease(procedure);
    return latency;
}

// --- raw SOCK_SEQPACKET ----------------------------------------------------------------------

int ServeSeqpacketEcho(int reportFd, int fd) {
    char buffer[kPayload + 1];
    Report(reportFd, kReady);
    for (;;) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0 || send(fd, buffer, static_cast<size_t>(got), MSG_NOSIGNAL) != got) return 0;
    }
}

CLatency SeqpacketLatency() {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return {};
    CLatency latency;
    {
        CPeerProcess peer("seqpacket", "", 0, pair[1]);
        close(pair[1]);
        if (peer.Ready()) {
            char buffer[kPayload + 1];
            std::memset(buffer, 'm', kPayload);
            latency = MeasureTrips([&](int) {
                return send(pair[0], buffer, kPayload, MSG_NOSIGNAL) == static_cast<ssize_t>(kPayload) &&
                       recv(pair[0], buffer, sizeof buffer, 0) == static_cast<ssize_t>(kPayload);
            });
        }
    }
    close(pair[0]);
    return latency;
}

// --- ZeroMQ ------------------------------------------------------------------------------------

#ifdef MBUS_HAVE_ZMQ
std::string ZmqAddress(const std::string& name) {
    return "ipc://@" + name;
}

int ServeZmq(const std::string& mode, int reportFd, const char* name, long count) {
    void* context = zmq_ctx_new();
    void* socket = zmq_socket(context, mode == "zmq-pull" ? ZMQ_PULL : ZMQ_REP);
    if (zmq_bind(socket, ZmqAddress(name).c_str()) != 0) return 1;
    char buffer[kPayload + 1];
    Report(reportFd, kReady);
    if (mode == "zmq-pull") {
        for (long got = 0; got < count;) {
            if (zmq_recv(socket, buffer, sizeof buffer, 0) >= 0) ++got;
        }
        Report(reportFd, kDone);
        pause();
    }
    for (;;) {
        const int got = zmq_recv(socket, buffer, sizeof buffer, 0);
        if (got >= 0) zmq_send(socket, buffer, static_cast<size_t>(got), 0);
    }
}

double ZmqRate() {
    const std::string name = NextSinkName();
    CPeerProcess peer("zmq-pull", name, kZmqMessages);
    if (!peer.Ready()) return 0;
    void* context = zmq_ctx_new();
    void* push = zmq_socket(context, ZMQ_PUSH);
    bool ok = zmq_connect(push, ZmqAddress(name).c_str()) == 0;
    char payload[kPayload];
    std::memset(payload, 'm', sizeof payload);
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < kZmqMessages && ok; ++i) ok = zmq_send(push, payload, sizeof payload, 0) >= 0;
    ok = ok && peer.AwaitDone();
    const double rate = ok ? static_cast<double>(kZmqMessages) / Seconds(Clock::now() - start) : 0;
    zmq_close(push);
    zmq_ctx_term(context);
    return rate;
}

CLatency ZmqLatency() {
    const std::string name = NextSinkName();
    CPeerProcess peer("zmq-rep", name, 0);
    if (!peer.Ready()) return {};
    void* context = zmq_ctx_new();
    void* request = zmq_socket(context, ZMQ_REQ);
    CLatency latency;
    if (zmq_connect(request, ZmqAddress(name).c_str()) == 0) {
        char buffer[kPayload + 1];
        std::memset(buffer, 'm', kPayload);
        latency = MeasureTrips([&](int) {
            return zmq_send(request, buffer, kPayload, 0) == static_cast<int>(kPayload) &&
                   zmq_recv(request, buffer, sizeof buffer, 0) == static_cast<int>(kPayload);
        });
    }
    const int linger = 0;
    zmq_setsockopt(request, ZMQ_LINGER, &linger, sizeof linger);
    zmq_close(request);
    zmq_ctx_term(context);
    return latency;
}
#endif

// --- the report --------------------------------------------------------------------------------

void PrintRate(const char* what, double rate) {
    std::printf("  %-62s %10.0f msg/s\n", what, rate);
}

void PrintArrival(const char* what, const CArrival& arrival, long sent) {
    std::printf("  %-62s %10.0f msg/s   %ld of %ld arrived\n", what, arrival.rate, arrival.taken, sent);
}

void PrintLatency(const char* what, const CLatency& latency) {
    std::printf("  %-62s p50 %7.1f us   p99 %7.1f us\n", what, latency.p50, latency.p99);
}

void PrintRatio(const char* what, double mine, double peer, const char* target = nullptr, bool met = false) {
    std::printf("  %-62s %6.2f", what, peer > 0 ? mine / peer : 0.0);
    if (target != nullptr) std::printf("   target %s: %s", target, met ? "met" : "NOT met");
    std::printf("\n");
}

// part: null for every figure, else a comma-separated list of "send", "call", "fan-in",
// "burst", "query" and "peers".
bool Wanted(const char* part, const char* name) {
    if (part == nullptr) return true;
    const std::string list = std::string(",") + part + ",";
    return list.find(std::string(",") + name + ",") != std::string::npos;
}

int RunAll(const char* part) {
    if (!MbLibraryInit()) return 1;
    // The querying side's sink: replies come back to its service "replies"; fan-in and burst
    // calls to its service kService.
    HANDLE replyEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE callEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const std::string sinkName = NextSinkName();
    MbSink sink = MbSinkOpen(sinkName.c_str(), nullptr);
    MbSinkService replies = sink != nullptr ? MbSinkServiceOpen(sink, "replies", replyEvent) : nullptr;
    MbSinkService incoming = sink != nullptr ? MbSinkServiceOpen(sink, kService, callEvent) : nullptr;
    if (replies == nullptr || incoming == nullptr) return 1;

    std::printf("two processes, 64 B payloads; rates best of %d runs, latencies over %d round trips\n", gRuns, gTrips);
    std::printf("mbus\n");
    double sendTraced = 0, sendQuiet = 0, calls = 0;
    CLatency query;
    if (Wanted(part, "send")) {
        sendTraced = Best([] { return SendRate("send"); });
        PrintRate("MbServiceSend 64 B, each seen by the receiver's trace callback", sendTraced);
        sendQuiet = Best([] { return SendRate("send-quiet"); });
        PrintRate("MbServiceSend 64 B, handled by the receiver, no trace callback", sendQuiet);
    }
    if (Wanted(part, "call")) {
        calls = Best(CallRate);
        PrintRate("MbServiceCall, map of 3 entries, each taken (MbSinkServiceTake)", calls);
    }
    if (Wanted(part, "fan-in")) {
        const std::string what = "MbServiceCall fan-in, " + std::to_string(kFanInSenders) + " sender processes";
        PrintArrival(what.c_str(), FanIn(sinkName, incoming, callEvent), kFanInSenders * gFanInCalls);
    }
    if (Wanted(part, "burst")) {
        const std::string what =
            "MbServiceCall burst, drained after the receiver held it " + std::to_string(kBurstHoldMs / 1000) + " s";
        PrintArrival(what.c_str(), Burst(sinkName, incoming, callEvent), gBurstCalls);
    }
    if (Wanted(part, "query")) {
        query = QueryLatency(replies, replyEvent);
        PrintLatency("MbServiceQueryCookie -> MbServiceReply, reply taken", query);
    }

    std::printf("peers\n");
    CLatency seqpacket;
    if (Wanted(part, "peers")) {
        seqpacket = SeqpacketLatency();
        PrintLatency("raw SOCK_SEQPACKET ping-pong, 64 B", seqpacket);
    }
    int status = 0;
#ifdef MBUS_HAVE_ZMQ
    double zmqRate = 0;
    CLatency zmqLatency;
    if (Wanted(part, "peers")) {
        zmqRate = Best(ZmqRate);
        PrintRate("ZeroMQ ipc PUSH/PULL 64 B", zmqRate);
        zmqLatency = ZmqLatency();
        PrintLatency("ZeroMQ ipc REQ/REP 64 B", zmqLatency);
    }
#endif
    std::printf("ratios mbus/peer\n");
    PrintRatio("query p50 / SOCK_SEQPACKET ping-pong p50", query.p50, seqpacket.p50);
#ifdef MBUS_HAVE_ZMQ
    const bool tracedMet = zmqRate > 0 && sendTraced / zmqRate >= 1.0;
    const bool sendMet = zmqRate > 0 && sendQuiet / zmqRate >= 1.0;
    const bool p50Met = zmqLatency.p50 > 0 && query.p50 > 0 && query.p50 / zmqLatency.p50 <= 0.65;
    PrintRatio("MbServiceSend (traced) / ZeroMQ PUSH/PULL", sendTraced, zmqRate, ">= 1.00", tracedMet);
    PrintRatio("MbServiceSend (no trace callback) / ZeroMQ PUSH/PULL", sendQuiet, zmqRate, ">= 1.00", sendMet);
    PrintRatio("MbServiceCall / ZeroMQ PUSH/PULL", calls, zmqRate);
    PrintRatio("query p50 / ZeroMQ REQ/REP p50", query.p50, zmqLatency.p50, "<= 0.65", p50Met);
    PrintRatio("query p99 / ZeroMQ REQ/REP p99", query.p99, zmqLatency.p99);
    status = sendMet && p50Met ? 0 : 1;
#else
    std::printf("(ZeroMQ not built: libzmq missing, its figures and the targets are skipped)\n");
#endif
    MbSinkServiceClose(incoming);
    MbSinkServiceClose(replies);
    MbSinkClose(sink);
    MbLibraryTerm();
    CloseHandle(callEvent);
    CloseHandle(replyEvent);
    return status;
}

int Serve(int argc, char** argv) {
    if (argc < 7) return 2;
    const std::string mode = argv[2];
    const int reportFd = std::atoi(argv[3]);
    const char* name = argv[4];
    const long count = std::atol(argv[5]);
    if (mode == "seqpacket") return ServeSeqpacketEcho(reportFd, std::atoi(argv[6]));
    if (mode == "caller") return ServeCaller(reportFd, name, count);
#ifdef MBUS_HAVE_ZMQ
    if (mode.rfind("zmq-", 0) == 0) return ServeZmq(mode, reportFd, name, count);
#endif
    return ServeMbus(mode, reportFd, name, count);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--serve") == 0) return Serve(argc, argv);
    if (argc > 2 && std::atol(argv[2]) > 1) {
        const long divisor = std::atol(argv[2]);
        gRuns = 1;
        gSendMessages /= divisor;
        gCallMessages /= divisor;
        gFanInCalls /= divisor;
        gBurstCalls /= divisor;
        gWarmUpTrips = static_cast<int>(gWarmUpTrips / divisor);
        gTrips = std::max(1, static_cast<int>(gTrips / divisor));
    }
    return RunAll(argc > 1 ? argv[1] : nullptr);
}
