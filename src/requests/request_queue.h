// CRequestQueue: a first-in first-out queue of requests that its one consumer (the worker
// thread) sleeps on while it is empty. Many posters, one consumer.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "runtime/ref_count.h"

class CRequest;
class CRequestHandler;

class CRequestQueue : public CCountable {
public:
    CRequestQueue() = default;
    // Releases what is still queued without processing it.
    ~CRequestQueue() override;

    // Creates a request and appends it; false when it could not be created or queued, or when
    // the handler already has kMaxPendingRequests pending.
    bool Post(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
              const void* data, uint16_t length);
    // Moves every queued request, in arrival order, into `batch` (emptied first). The caller
    // owns the references. One lock hold; `batch` keeps its capacity across calls.
    void TakeAll(std::vector<CRequest*>& batch);
    // The consumer's wait: returns at once when requests are queued or Interrupt was called
    // since the last wait, else sleeps until one of them happens or `milliseconds` pass. True
    // when requests are queued.
    bool Wait(uint32_t milliseconds);
    // Ends the consumer's current or next Wait.
    void Interrupt();

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    // Guarded by mutex_. Set while the consumer sleeps in Wait: only then does a poster notify,
    // so a busy worker costs its posters no system call and wakes once per batch.
    bool sleeping_ = false;
    bool interrupted_ = false;
    std::vector<CRequest*> requests_;
};
