// Sending one message and learning whether it went out.
#include <cstdio>

#include "tool.h"

bool QueueMessage(const std::string& sink, const std::string& service,
                  const std::function<bool(MbSource, MbService)>& send) {
    CHeld<MbSourceClose> source(MbSourceOpen(sink.c_str()));
    if (source.Get() == nullptr) {
        std::fprintf(stderr, "mbus: cannot bind to the sink '%s'\n", sink.c_str());
        return false;
    }
    CHeld<MbServiceClose> proxy(MbServiceOpen(source.Get(), service.c_str()));
    if (proxy.Get() == nullptr || !send(source.Get(), proxy.Get())) {
        std::fprintf(stderr, "mbus: the message to '%s' could not be queued\n", sink.c_str());
        return false;
    }
    return true;
}

// The transport reports a failed delivery only by a trace, at the end of the source request
// thread's batch; ending the library waits for that batch.
int SendAndConfirm(CLibrary& library, const std::string& sink, const std::string& service,
                   const std::function<bool(MbSource, MbService)>& send) {
    const unsigned failuresBefore = CLibrary::RpcFailures();
    if (!QueueMessage(sink, service, send)) return kExitFailed;
    library.End();
    if (CLibrary::RpcFailures() != failuresBefore) {
        std::fprintf(stderr, "mbus: the sink '%s' could not be reached\n", sink.c_str());
        return kExitFailed;
    }
    return kExitOk;
}
