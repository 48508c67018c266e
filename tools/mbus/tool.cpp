#include "tool.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

std::mutex outputLock;

// What the trace callback shares with the commands. The callback runs on the library's threads.
std::mutex traceLock;
std::function<void(const std::string&)> lineListener;
std::atomic<bool> rpcFailed{false};
std::atomic<bool> markerSeen{false};

// What a source closed before its request was performed traces: the tool's own marker.
const char kMarkerText[] = "CSource::Request() called on a closed connection.";

// Warnings and errors go to stderr; diagnostic lines go, one by one, to the listener; a transport
// failure is remembered for the command that sent, and the tool's marker is only noted.
void OnTrace(const char* text, uint32_t category) {
    const std::string message = text != nullptr ? text : "";
    if (message.find("** RPC Exception") != std::string::npos) rpcFailed = true;
    if (message.find(kMarkerText) != std::string::npos) {
        markerSeen = true;
        return;
    }
    if ((category & (MbTraceWarning | MbTraceError)) != 0) {
        std::lock_guard<std::mutex> guard(outputLock);
        std::fprintf(stderr, "mbus: library: %s%s", message.c_str(),
                     !message.empty() && message.back() == '\n' ? "" : "\n");
        return;
    }
    std::lock_guard<std::mutex> guard(traceLock);
    if (!lineListener) return;
    for (size_t start = 0; start < message.size();) {
        size_t end = message.find('\n', start);
        if (end == std::string::npos) end = message.size();
        if (end > start) lineListener(message.substr(start, end - start));
        start = end + 1;
    }
}

}  // namespace

bool ParseNumber(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value >= minimum && *value <= maximum;
}

bool ParseOptions(CArgs* args, const std::vector<std::string>& names, std::vector<std::string>* values) {
    CArgs positional;
    values->assign(names.size(), "");
    for (size_t i = 0; i < args->size(); ++i) {
        const std::string& arg = (*args)[i];
        if (arg.rfind("--", 0) != 0) {
            positional.push_back(arg);
            continue;
        }
        size_t which = 0;
        while (which < names.size() && names[which] != arg) ++which;
        if (which == names.size() || i + 1 == args->size()) return false;
        (*values)[which] = (*args)[++i];
    }
    *args = positional;
    return true;
}

CLibrary::CLibrary() : ready_(MbLibraryInit() != 0) {
    if (ready_) MbTracerSet(OnTrace);
}

CLibrary::~CLibrary() {
    if (ready_) MbLibraryTerm();
}

bool CLibrary::RpcFailed() {
    return rpcFailed;
}

void CLibrary::SetLineListener(std::function<void(const std::string&)> listener) {
    std::lock_guard<std::mutex> guard(traceLock);
    lineListener = std::move(listener);
}

void PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> guard(outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string ItemText(MbItem item) {
    CItemRef text(MbItemToText(item, 0));
    const void* data = nullptr;
    uint16_t length = 0;
    if (text.Get() == nullptr || MbAtomGetBlob(text.Get(), &data, &length) != MbResultOk || length == 0) return "";
    return std::string(static_cast<const char*>(data), length - 1);
}

namespace {

// Closes `source` and waits until the messages queued on it were performed; false when that took
// longer than timeoutMs. A closed source no longer gives out service proxies, and a source closes
// only after its queued messages were performed; so probing with a proxy tells when they were.
// The extra reference keeps the source alive while it is probed.
bool CloseDelivered(MbSource source, unsigned timeoutMs) {
    MbHandleAddRef(source);
    MbSourceClose(source);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool closed = false;
    for (;;) {
        MbService probe = MbServiceOpen(source, "");
        closed = probe == nullptr;
        if (closed) break;
        MbServiceClose(probe);
        if (std::chrono::steady_clock::now() > deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    MbHandleRelease(source);
    return closed;
}

// The source request thread performs requests one at a time in posting order, and reports the
// failures of one batch of requests when the batch ends. A test posted on a source closed
// beforehand traces the marker when it is performed; posted once the batch holding the command's
// message has started (the command's source has closed), it is performed after that batch ended.
bool AwaitEarlierRequests(const std::string& sink, unsigned timeoutMs) {
    MbSource marker = MbSourceOpen(sink.c_str());
    if (marker == nullptr) return false;
    MbHandleAddRef(marker);
    MbSourceClose(marker);
    markerSeen = false;
    const bool posted = MbSourceTest(marker) != 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (posted && !markerSeen && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    MbHandleRelease(marker);
    return markerSeen;
}

}  // namespace

int SendAndConfirm(const std::string& sink, const std::string& service,
                   const std::function<bool(MbSource, MbService)>& send) {
    MbSource source = MbSourceOpen(sink.c_str());
    if (source == nullptr) {
        std::fprintf(stderr, "mbus: cannot bind to the sink '%s'\n", sink.c_str());
        return kExitFailed;
    }
    bool queued = false;
    {
        CHeld<MbServiceClose> proxy(MbServiceOpen(source, service.c_str()));
        queued = proxy.Get() != nullptr && send(source, proxy.Get());
    }
    if (!CloseDelivered(source, 5000) || !AwaitEarlierRequests(sink, 5000)) {
        std::fprintf(stderr, "mbus: the message to '%s' was not delivered within 5 s\n", sink.c_str());
        return kExitFailed;
    }
    if (!queued) {
        std::fprintf(stderr, "mbus: the message to '%s' could not be queued\n", sink.c_str());
        return kExitFailed;
    }
    if (CLibrary::RpcFailed()) {
        std::fprintf(stderr, "mbus: the sink '%s' could not be reached\n", sink.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
