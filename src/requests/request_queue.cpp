#include "requests/request_queue.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "requests/request.h"
#include "requests/request_handler.h"

namespace {

// A post whose filled request could not be queued: the request gives its count back when it
// goes, and a handed-over reference stays the caller's. False.
bool Refused(CRequestHandler* handler, CRef<CRequestHandler>* handOver) {
    if (handOver != nullptr) *handOver = CRef<CRequestHandler>::Share(handler);
    return false;
}

}  // namespace

// Requests still queued are emptied without being processed, so that they give back their
// handler references and pending counts instead of leaking with them.
CRequestQueue::~CRequestQueue() {
    for (CRequest* request : requests_) delete request;
    for (CRequest* request : spares_) delete request;
}

std::unique_ptr<CRequest> CRequestQueue::Spare() {
    {
        CSectionHold hold(mutex_);
        if (CRequest* request = PopSpareLocked()) return std::unique_ptr<CRequest>(request);
    }
    return std::unique_ptr<CRequest>(new (std::nothrow) CRequest);
}

bool CRequestQueue::PostFilled(std::unique_ptr<CRequest>& request, bool* full) {
    if (full != nullptr) *full = false;
    bool wake;
    {
        CSectionHold hold(mutex_);
        if (!TakeOverLocked(request, full, &wake)) return false;
    }
    if (wake) wakeWord_.Wake();
    return true;
}

bool CRequestQueue::TakeOverLocked(std::unique_ptr<CRequest>& request, bool* full, bool* wake) {
    try {
        *wake = QueueLocked(request.get(), full);
    } catch (const std::bad_alloc&) {
        return false;
    }
    request.release();
    return true;
}

CRequest* CRequestQueue::PopSpareLocked() {
    if (spares_.empty()) return nullptr;
    CRequest* request = spares_.back();
    spares_.pop_back();
    if (request->HoldsPackBuffer()) --sparePackBuffers_;
    return request;
}

void CRequestQueue::PushSpareLocked(CRequest* request) {
    spares_.push_back(request);
    if (request->HoldsPackBuffer()) ++sparePackBuffers_;
}

void CRequestQueue::SetLimit(size_t messages, size_t bytes) {
    CSectionHold hold(mutex_);
    limitMessages_ = messages;
    limitBytes_ = bytes;
}

// A small message joins the last queued request or is filled into a spare one, under the lock
// it is queued under, so that its post takes the lock once. A larger payload is copied outside
// the lock, so that copying up to 64 KiB never holds up the consumer or the other posters.
bool CRequestQueue::Post(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind, const void* data,
                         uint16_t length, CRef<CRequestHandler>* handOver, bool* full) {
    if (full != nullptr) *full = false;
    const size_t serviceLength = service != nullptr ? std::strlen(service) : 0;
    std::unique_ptr<CRequest> request;
    if (CRequest::FitsInside(serviceLength, data != nullptr ? length : 0)) {
        bool queued = false;
        bool wake = false;
        {
            CSectionHold hold(mutex_);
            CRequest* tail = requests_.empty() ? nullptr : requests_.back();
            const size_t tailBytes = tail != nullptr ? tail->Bytes() : 0;
            if (handler != nullptr && tail != nullptr && tail->Handler() == handler &&
                tail->Append(handOver, service, serviceLength, flags, kind, data, length)) {
                CountLocked(1, tail->Bytes() - tailBytes, full);
                return true;
            }
            request.reset(PopSpareLocked());
            // Filling a spare with a message that fits inside it cannot fail.
            if (request != nullptr) {
                request->Assign(handler, handOver, service, serviceLength, flags, kind, data, length);
                if (!TakeOverLocked(request, full, &wake)) return Refused(handler, handOver);
                queued = true;
            }
        }
        // Woken after the lock is left, so the woken consumer finds it free.
        if (queued) {
            if (wake) wakeWord_.Wake();
            return true;
        }
    }
    request = Spare();
    if (request == nullptr || !request->Assign(handler, handOver, service, serviceLength, flags, kind, data, length)) {
        return false;
    }
    return PostFilled(request, full) || Refused(handler, handOver);
}

bool CRequestQueue::QueueLocked(CRequest* request, bool* full) {
    requests_.push_back(request);
    CountLocked(request->Messages(), request->Bytes(), full);
    return WakeLocked();
}

void CRequestQueue::CountLocked(size_t messages, size_t bytes, bool* full) {
    queuedMessages_ += messages;
    queuedBytes_ += bytes;
    if (limitMessages_ != 0 && (queuedMessages_ >= limitMessages_ || queuedBytes_ >= limitBytes_)) {
        fullReported_ = true;
        if (full != nullptr) *full = true;
    }
}

bool CRequestQueue::WakeLocked() {
    const bool wake = sleeping_;
    sleeping_ = false;
    return wake;
}

bool CRequestQueue::TakeAll(std::vector<CRequest*>& batch) {
    batch.clear();
    CSectionHold hold(mutex_);
    batch.swap(requests_);
    queuedMessages_ = 0;
    queuedBytes_ = 0;
    const bool wasFull = fullReported_;
    fullReported_ = false;
    return wasFull;
}

size_t CRequestQueue::SpareLimitLocked(size_t live) {
    const uint32_t now = ticks_();
    if (now - periodStart_ >= sparePeriodMs_) {
        previousDemand_ = demand_;
        demand_ = 0;
        periodStart_ = now;
    }
    demand_ = std::max(demand_, live);
    return std::clamp(std::max(demand_, previousDemand_), kMinSpares, kMaxSpares);
}

void CRequestQueue::Recycle(std::vector<CRequest*>& batch) {
    for (CRequest* request : batch) request->Clear();
    // Those with a pack buffer go on top, so that the next posts find buffers first.
    auto holders =
        std::partition(batch.begin(), batch.end(), [](const CRequest* request) { return !request->HoldsPackBuffer(); });
    size_t kept = 0;
    {
        CSectionHold hold(mutex_);
        // Buffers beyond the bound go back from the spares that go deepest.
        const size_t room = kMaxSparePackBuffers - sparePackBuffers_;
        for (auto count = static_cast<size_t>(batch.end() - holders); count > room; --count) {
            (*holders++)->DropHeapBuffer();
        }
        // The batch and what was queued while it ran were live together.
        const size_t limit = SpareLimitLocked(batch.size() + requests_.size());
        // Surplus from a busier period; rare, and each request is already empty.
        while (spares_.size() > limit) delete PopSpareLocked();
        while (kept < batch.size() && spares_.size() < limit) {
            try {
                PushSpareLocked(batch[kept]);
            } catch (const std::bad_alloc&) {
                break;
            }
            ++kept;
        }
    }
    for (size_t i = kept; i < batch.size(); ++i) delete batch[i];
    batch.clear();
}

size_t CRequestQueue::QueuedMessages() {
    CSectionHold hold(mutex_);
    return queuedMessages_;
}

size_t CRequestQueue::Spares() {
    CSectionHold hold(mutex_);
    return spares_.size();
}

size_t CRequestQueue::SparePackBuffers() {
    CSectionHold hold(mutex_);
    return sparePackBuffers_;
}

// One sleep per call: a wake-up, a time-out or a signal all return, and the caller's loop
// waits again when nothing arrived.
bool CRequestQueue::Empty() {
    CSectionHold hold(mutex_);
    return requests_.empty();
}

bool CRequestQueue::Wait(uint32_t milliseconds) {
    CSectionHold hold(mutex_);
    if (requests_.empty() && !interrupted_) {
        sleeping_ = true;
        const uint32_t ticket = wakeWord_.Ticket();
        mutex_.Unlock();
        wakeWord_.Sleep(ticket, milliseconds);
        mutex_.Lock();
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
        CSectionHold hold(mutex_);
        interrupted_ = true;
        wake = WakeLocked();
    }
    if (wake) wakeWord_.Wake();
}
