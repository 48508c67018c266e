#include "requests/gathered_posts.h"

#include <cstring>

#include "requests/request_threads.h"

bool CGatheredPosts::Append(const CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                            const void* data, uint16_t length) {
    if (!open_ || open_->Handler() != handler) return false;
    const size_t serviceLength = service != nullptr ? std::strlen(service) : 0;
    return CRequest::FitsInside(serviceLength, data != nullptr ? length : 0) &&
           open_->Append(nullptr, service, serviceLength, flags, kind, data, length);
}

bool CGatheredPosts::Open(CRequestHandler* handler, CRef<CRequestHandler>* handOver, const char* service,
                          uint32_t flags, int32_t kind, const void* data, uint16_t length) {
    std::unique_ptr<CRequest> request = SpareRequest(toSink_);
    const size_t serviceLength = service != nullptr ? std::strlen(service) : 0;
    if (!request || !request->Assign(handler, handOver, service, serviceLength, flags, kind, data, length)) {
        return false;
    }
    open_ = std::move(request);
    return true;
}

bool CGatheredPosts::Flush(bool* full) {
    if (full != nullptr) *full = false;
    if (!open_) return true;
    const bool queued = PostFilledRequest(toSink_, open_, full);
    // One that could not be queued is emptied here, giving back its count and reference.
    open_.reset();
    return queued;
}
