#include "requests/request.h"

#include <cstring>
#include <new>

#include "requests/request_handler.h"

namespace {

// The service name travels with a 16-bit length; longer text is cut.
uint16_t NameLength(size_t serviceLength) {
    return static_cast<uint16_t>(serviceLength > 0xFFFF ? 0xFFFF : serviceLength);
}

}  // namespace

bool CRequest::Assign(CRequestHandler* target, CRef<CRequestHandler>* handOver, const char* service,
                      size_t serviceLength, uint32_t requestFlags, int32_t requestKind, const void* data,
                      uint16_t dataBytes) {
    if (!Add(service, serviceLength, requestFlags, requestKind, data, dataBytes)) return false;
    handler_ = target;
    if (target != nullptr) CountPending(handOver);
    return true;
}

bool CRequest::Append(CRef<CRequestHandler>* handOver, const char* service, size_t serviceLength, uint32_t requestFlags,
                      int32_t requestKind, const void* data, uint16_t dataBytes) {
    if (!Add(service, serviceLength, requestFlags, requestKind, data, dataBytes)) return false;
    if (handOver != nullptr) handOver->Reset();
    return true;
}

// An empty request takes a message too large for it into a heap buffer (the kept pack buffer,
// or one of its own size); a pack still inside the request moves into a pack buffer, once; a
// heap buffer in use is never replaced.
bool CRequest::Add(const char* service, size_t serviceLength, uint32_t requestFlags, int32_t requestKind,
                   const void* data, uint16_t dataBytes) {
    const uint16_t nameLength = NameLength(serviceLength);
    const uint16_t length = data != nullptr ? dataBytes : 0;
    const size_t size = RecordBytes(nameLength, length);
    if (used_ + size > capacity_) {
        const bool empty = used_ == 0;
        if (storage_ != inlineBytes_ || (!empty && used_ + size > kPackBytes)) return false;
        if (!MoveToHeap(empty ? size : kPackBytes)) return false;
    }
    const CHeader header{nameLength, length, requestFlags, requestKind};
    uint8_t* at = storage_ + used_;
    std::memcpy(at, &header, sizeof header);
    at += sizeof header;
    if (nameLength != 0) std::memcpy(at, service, nameLength);
    at[nameLength] = 0;
    at += nameLength + 1;
    if (length != 0) std::memcpy(at, data, length);
    at[length] = 0;
    used_ += static_cast<uint32_t>(size);
    ++messages_;
    bytes_ += nameLength + length;
    return true;
}

bool CRequest::MoveToHeap(size_t bytes) {
    if (heapCapacity_ < bytes) {
        heapBytes_.reset(new (std::nothrow) uint8_t[bytes]);
        heapCapacity_ = heapBytes_ ? static_cast<uint32_t>(bytes) : 0;
        if (!heapBytes_) return false;
    }
    std::memcpy(heapBytes_.get(), inlineBytes_, used_);
    storage_ = heapBytes_.get();
    capacity_ = heapCapacity_;
    return true;
}

void CRequest::DropHeapBuffer() {
    heapBytes_.reset();
    heapCapacity_ = 0;
}

// The first pending message keeps a reference for the group (Clear gives it back); a
// handed-over reference that is not needed for that goes back at once.
void CRequest::CountPending(CRef<CRequestHandler>* handOver) {
    const bool first = handler_->pendingRequests_.fetch_add(1, std::memory_order_acq_rel) == 0;
    if (handOver == nullptr) {
        if (first) handler_->AddRef();
    } else if (first) {
        handOver->Detach();
    } else {
        handOver->Reset();
    }
}

void CRequest::Clear() {
    CRequestHandler* done = handler_;
    handler_ = nullptr;
    if (!HoldsPackBuffer()) DropHeapBuffer();
    storage_ = inlineBytes_;
    capacity_ = kInlineBytes;
    used_ = next_ = 0;
    messages_ = bytes_ = 0;
    // The group's reference keeps the handler alive until its last pending request is gone. A
    // post racing this one may start a new group with a reference of its own before this
    // release: the count of references stays exact either way.
    if (done != nullptr && done->pendingRequests_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        done->OnRequestsDone();
        done->Release();
    }
}

bool CRequest::ProcessNext() {
    if (next_ >= used_) return false;
    CHeader header;
    const uint8_t* at = storage_ + next_;
    std::memcpy(&header, at, sizeof header);
    next_ += static_cast<uint32_t>(RecordBytes(header.serviceLength, header.length));
    if (handler_ == nullptr) return false;
    const char* service = reinterpret_cast<const char*>(at + sizeof header);
    const uint8_t* data = at + sizeof header + header.serviceLength + 1;
    return handler_->Request(service, header.flags, header.kind, data, header.length);
}
