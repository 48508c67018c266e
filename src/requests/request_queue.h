// CRequestQueue: a first-in first-out queue of requests with an auto-reset event that is
// signalled when requests arrive. Many posters, one consumer (its worker thread).
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/ref_count.h"

class CRequest;
class CRequestHandler;

class CRequestQueue : public CCountable {
public:
    CRequestQueue();
    // Closes the event and releases what is still queued without processing it.
    ~CRequestQueue() override;

    // Creates a request and appends it; false when it could not be created or queued, or when
    // the handler already has kMaxPendingRequests pending.
    bool Post(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
              const void* data, uint16_t length);
    // Moves every queued request, in arrival order, into `batch` (emptied first). The caller
    // owns the references. One lock hold; `batch` keeps its capacity across calls.
    void TakeAll(std::vector<CRequest*>& batch);

    HANDLE Event();

private:
    HANDLE event;
    std::vector<CRequest*> requests;
};
