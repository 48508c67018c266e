// Sending one message and learning whether it went out.
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "tool.h"

namespace {

// Ends the process with kExitFailed and `message` unless it is destroyed within timeoutMs; a
// timeoutMs of 0 sets no limit. The library may then still hold the message, so nothing of it
// is closed: the process just ends.
class CDeadline {
public:
    CDeadline(unsigned long timeoutMs, std::string message) {
        if (timeoutMs == 0) return;
        watcher_ = std::thread([this, timeoutMs, message = std::move(message)] {
            std::unique_lock<std::mutex> hold(lock_);
            if (done_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [this] { return finished_; })) return;
            Failure(message);
            _exit(kExitFailed);
        });
    }
    CDeadline(const CDeadline&) = delete;
    CDeadline& operator=(const CDeadline&) = delete;
    ~CDeadline() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            finished_ = true;
        }
        done_.notify_one();
        if (watcher_.joinable()) watcher_.join();
    }

private:
    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread watcher_;
};

}  // namespace

bool QueueMessage(const std::string& sink, const std::string& service,
                  const std::function<bool(MbSource, MbService)>& send) {
    CHeld<MbSourceClose> source(MbSourceOpen(sink.c_str()));
    if (source.Get() == nullptr) {
        Failure("cannot bind to the sink '" + sink + "'");
        return false;
    }
    CHeld<MbServiceClose> proxy(MbServiceOpen(source.Get(), service.c_str()));
    if (proxy.Get() == nullptr || !send(source.Get(), proxy.Get())) {
        Failure("the message to '" + sink + "' could not be queued");
        return false;
    }
    return true;
}

// The transport reports a failed delivery only by a trace, at the end of the source request
// thread's batch; ending the library waits for that batch.
int SendAndConfirm(CLibrary& library, const std::string& sink, const std::string& service, unsigned long timeoutMs,
                   std::initializer_list<CItemRef*> items, const std::function<bool(MbSource, MbService)>& send) {
    const CDeadline deadline(
        timeoutMs, "the message to '" + sink + "' did not go out within " + std::to_string(timeoutMs) + " ms");
    const unsigned failuresBefore = CLibrary::RpcFailures();
    if (!QueueMessage(sink, service, send)) return kExitFailed;
    for (CItemRef* item : items) item->Reset();
    library.End();
    if (CLibrary::RpcFailures() != failuresBefore) return Failure("the sink '" + sink + "' could not be reached");
    return kExitOk;
}
