#include "requests/request.h"

#include <cstring>

#include "requests/request_handler.h"
#include "runtime/tracker.h"

namespace {
const uint8_t kEmpty[1] = {0};
}

CRequest::CRequest(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                   const void* data, uint16_t length)
    : storage(nullptr), serviceLength(0), length(0), flags(flags), kind(kind), handler(nullptr) {
    if (CheckedAddRef(handler)) this->handler = handler;
    const size_t textLength = service != nullptr ? std::strlen(service) : 0;
    // The service name travels with a 16-bit length; longer text is cut.
    serviceLength = static_cast<uint16_t>(textLength > 0xFFFF ? 0xFFFF : textLength);
    if (data != nullptr) this->length = length;
    if (serviceLength != 0 || this->length != 0) {
        const size_t size = serviceLength + 1 + this->length + 1;
        if (size <= kInlineBytes) {
            storage = inlineBytes;
        } else {
            heapBytes.reset(new uint8_t[size]);
            storage = heapBytes.get();
        }
        if (serviceLength != 0) std::memcpy(storage, service, serviceLength);
        storage[serviceLength] = 0;
        if (this->length != 0) std::memcpy(storage + serviceLength + 1, data, this->length);
        storage[serviceLength + 1 + this->length] = 0;
    }
    if (this->handler != nullptr) this->handler->pendingRequests.fetch_add(1, std::memory_order_acq_rel);
}

CRequest::~CRequest() {
    if (handler != nullptr) {
        if (handler->pendingRequests.fetch_sub(1, std::memory_order_acq_rel) == 1) handler->OnRequestsDone();
        // The reference taken at construction keeps the handler alive until here.
        handler->Release();
    }
}

// The worker holds the request's reference while it runs; the request is reachable from
// nowhere else, so it needs no reference of its own for the call.
bool CRequest::Process() {
    if (handler == nullptr) return false;
    const uint8_t* base = storage != nullptr ? storage : kEmpty;
    const char* service = reinterpret_cast<const char*>(base);
    const uint8_t* data = storage != nullptr ? base + serviceLength + 1 : kEmpty;
    return handler->Request(service, flags, kind, data, length);
}
