#include "requests/request_queue.h"

#include <chrono>
#include <new>

#include "requests/request.h"
#include "requests/request_handler.h"

// Requests still queued are released without being processed, so that they give back their
// handler references and pending counts instead of leaking with them.
CRequestQueue::~CRequestQueue() {
    for (CRequest* request : requests_) request->Release();
}

bool CRequestQueue::Post(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                         const void* data, uint16_t length) {
    if (handler != nullptr && handler->PendingRequests() >= kMaxPendingRequests) return false;
    CRequest* request = new (std::nothrow) CRequest(handler, service, flags, kind, data, length);
    if (request == nullptr) return false;
    bool wake = false;
    try {
        std::lock_guard<std::mutex> hold(mutex_);
        requests_.push_back(request);
        wake = sleeping_;
    } catch (const std::bad_alloc&) {
        request->Release();
        return false;
    }
    // Notified after the lock is left, so the woken consumer finds it free.
    if (wake) changed_.notify_one();
    return true;
}

void CRequestQueue::TakeAll(std::vector<CRequest*>& batch) {
    batch.clear();
    std::lock_guard<std::mutex> hold(mutex_);
    batch.swap(requests_);
}

bool CRequestQueue::Wait(uint32_t milliseconds) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (requests_.empty() && !interrupted_) {
        sleeping_ = true;
        changed_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                          [this] { return !requests_.empty() || interrupted_; });
        sleeping_ = false;
    }
    // An interrupt is kept while requests wait, so that the consumer sees it once they ran.
    const bool arrived = !requests_.empty();
    if (!arrived) interrupted_ = false;
    return arrived;
}

void CRequestQueue::Interrupt() {
    bool wake;
    {
        std::lock_guard<std::mutex> hold(mutex_);
        interrupted_ = true;
        wake = sleeping_;
    }
    if (wake) changed_.notify_one();
}
