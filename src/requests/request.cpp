#include "requests/request.h"

#include <cstring>
#include <new>

#include "requests/request_handler.h"

namespace {
const uint8_t kEmpty[1] = {0};
}

bool CRequest::Assign(CRequestHandler* target, CRef<CRequestHandler>* handOver, const char* service,
                      size_t serviceLength, uint32_t requestFlags, int32_t requestKind, const void* data,
                      uint16_t dataBytes) {
    // The service name travels with a 16-bit length; longer text is cut.
    const uint16_t nameLength = static_cast<uint16_t>(serviceLength > 0xFFFF ? 0xFFFF : serviceLength);
    const uint16_t dataLength = data != nullptr ? dataBytes : 0;
    if (nameLength != 0 || dataLength != 0) {
        const size_t size = nameLength + 1 + dataLength + 1;
        if (size <= kInlineBytes) {
            storage_ = inlineBytes_;
        } else {
            heapBytes_.reset(new (std::nothrow) uint8_t[size]);
            if (!heapBytes_) return false;
            storage_ = heapBytes_.get();
        }
        if (nameLength != 0) std::memcpy(storage_, service, nameLength);
        storage_[nameLength] = 0;
        if (dataLength != 0) std::memcpy(storage_ + nameLength + 1, data, dataLength);
        storage_[nameLength + 1 + dataLength] = 0;
    }
    serviceLength_ = nameLength;
    length_ = dataLength;
    flags_ = requestFlags;
    kind_ = requestKind;
    if (target != nullptr) {
        // The first pending request keeps a reference for the group (Clear gives it back); a
        // handed-over reference that is not needed for that goes back at once.
        const bool first = target->pendingRequests_.fetch_add(1, std::memory_order_acq_rel) == 0;
        if (handOver == nullptr) {
            if (first) target->AddRef();
        } else if (first) {
            handOver->Detach();
        } else {
            handOver->Reset();
        }
        handler_ = target;
    }
    return true;
}

void CRequest::Clear() {
    CRequestHandler* done = handler_;
    handler_ = nullptr;
    storage_ = nullptr;
    heapBytes_.reset();
    // The group's reference keeps the handler alive until its last pending request is gone. A
    // post racing this one may start a new group with a reference of its own before this
    // release: the count of references stays exact either way.
    if (done != nullptr && done->pendingRequests_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        done->OnRequestsDone();
        done->Release();
    }
}

bool CRequest::Process() {
    if (handler_ == nullptr) return false;
    const uint8_t* base = storage_ != nullptr ? storage_ : kEmpty;
    const char* service = reinterpret_cast<const char*>(base);
    const uint8_t* data = storage_ != nullptr ? base + serviceLength_ + 1 : kEmpty;
    return handler_->Request(service, flags_, kind_, data, length_);
}
