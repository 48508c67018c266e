// Sending one message and making sure it went out.
#include <chrono>
#include <cstdio>
#include <thread>

#include "tool.h"

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
// beforehand traces the closed-source line when it is performed; posted once the batch holding
// the command's message has started (the command's source has closed), it is performed after
// that batch ended.
bool AwaitEarlierRequests(const std::string& sink, unsigned timeoutMs) {
    MbSource marker = MbSourceOpen(sink.c_str());
    if (marker == nullptr) return false;
    MbHandleAddRef(marker);
    MbSourceClose(marker);
    const unsigned before = CLibrary::ClosedSourceLines();
    bool performed = false;
    if (MbSourceTest(marker) != 0) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!(performed = CLibrary::ClosedSourceLines() != before) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    MbHandleRelease(marker);
    return performed;
}

}  // namespace

int SendAndConfirm(const std::string& sink, const std::string& service,
                   const std::function<bool(MbSource, MbService)>& send) {
    const unsigned failuresBefore = CLibrary::RpcFailures();
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
    if (CLibrary::RpcFailures() != failuresBefore) {
        std::fprintf(stderr, "mbus: the sink '%s' could not be reached\n", sink.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
