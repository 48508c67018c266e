// CRequestHandler: an object that runs requests on a worker thread (the sink and the source).
#pragma once

#include <atomic>
#include <cstdint>

#include "runtime/ref_count.h"

class CRequestHandler : public CCountable {
public:
    CRequestHandler() : pendingRequests_(0) {}

    virtual const char* Name() = 0;
    // Called on the thread that destroyed the handler's last live request.
    virtual void OnRequestsDone() {}
    // Runs one request on the worker thread. service is never null (empty when none was
    // given); data is never null (length 0 when there is none).
    virtual bool Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) = 0;
    // Called on the worker thread after the last of consecutive requests for this handler in a
    // batch ran, while that request still holds its reference; does nothing by default.
    virtual void OnBatchDone() {}

    // Requests, not messages: the messages that share a request count once.
    uint32_t PendingRequests() const { return pendingRequests_.load(std::memory_order_acquire); }

private:
    friend class CRequest;
    // Live CRequest objects naming this handler. Posting threads add and the destroying thread
    // subtracts; atomic, so that exactly one increment sees it leave zero and one decrement sees
    // it return there. While it is above zero the handler holds one reference for all of its
    // pending requests (reference counts are 16-bit; pending requests are not bounded by them).
    std::atomic<uint32_t> pendingRequests_;
};
