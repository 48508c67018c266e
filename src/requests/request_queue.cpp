#include "requests/request_queue.h"

#include <new>

#include "requests/request.h"
#include "requests/request_handler.h"

CRequestQueue::CRequestQueue() : event(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

// Requests still queued are released without being processed, so that they give back their
// handler references and pending counts instead of leaking with them.
CRequestQueue::~CRequestQueue() {
    if (event != nullptr) CloseHandle(event);
    for (CRequest* request : requests) request->Release();
}

bool CRequestQueue::Post(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                         const void* data, uint16_t length) {
    if (handler != nullptr && handler->PendingRequests() >= kMaxPendingRequests) return false;
    CRequest* request = new (std::nothrow) CRequest(handler, service, flags, kind, data, length);
    if (request == nullptr) return false;
    bool queued = false;
    {
        ScopedLock hold(*this);
        if (event != nullptr) {
            try {
                requests.push_back(request);
                queued = true;
            } catch (const std::bad_alloc&) {
            }
        }
    }
    if (!queued) {
        request->Release();
        return false;
    }
    SetEvent(event);
    return true;
}

void CRequestQueue::TakeAll(std::vector<CRequest*>& batch) {
    batch.clear();
    ScopedLock hold(*this);
    batch.swap(requests);
}

HANDLE CRequestQueue::Event() {
    ScopedLock hold(*this);
    return event;
}
