// CRequest: one queued message with the library's own copies of its service name and payload,
// and a counted reference to the handler that will run it. Requests are internal to their
// queue and never reach a caller: they are neither tracked nor locked, and a queue reuses
// them, so that a message costs no allocation of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/ref_count.h"

class CRequestHandler;

class CRequest {
public:
    CRequest() = default;
    // Gives back what Assign took, when it was not given back yet.
    ~CRequest() { Clear(); }
    CRequest(const CRequest&) = delete;
    CRequest& operator=(const CRequest&) = delete;

    // Whether a service name and payload of these lengths are kept inside the request, where
    // Assign needs no memory and cannot fail.
    static bool FitsInside(size_t serviceLength, size_t length) { return serviceLength + length + 2 <= kInlineBytes; }
    // Fills an empty request. service: text of serviceLength bytes followed by a NUL, or null
    // (length 0); data may be null. Counts the request in the handler's pending requests; the
    // first of them takes a reference to the handler for the group, which the poster must hold
    // one to. With handOver (a holder of that reference) the group takes the poster's reference
    // instead, or it is given back: the holder is empty afterwards. False, with the request left
    // empty and nothing taken, when the payload found no memory.
    bool Assign(CRequestHandler* handler, CRef<CRequestHandler>* handOver, const char* service, size_t serviceLength,
                uint32_t flags, int32_t kind, const void* data, uint16_t length);
    // Runs the handler's Request; false when the request has no handler.
    bool Process();
    CRequestHandler* Handler() const { return handler_; }
    // The bytes the request keeps: its service text and payload.
    size_t Bytes() const { return serviceLength_ + length_; }
    // Empties the request: the handler's pending count is given back; the last pending request
    // of a handler calls its OnRequestsDone and releases the group's reference here, on the
    // calling thread.
    void Clear();

private:
    // Service text and payload share one buffer, service first, each followed by a NUL
    // (handlers may show a payload as text up to its first NUL): inside the request when they
    // fit, else on the heap.
    static constexpr size_t kInlineBytes = 224;
    uint8_t inlineBytes_[kInlineBytes];
    std::unique_ptr<uint8_t[]> heapBytes_;
    // The buffer in use, or null when there is neither service text nor payload.
    uint8_t* storage_ = nullptr;
    uint16_t serviceLength_ = 0;
    uint16_t length_ = 0;
    uint32_t flags_ = 0;
    int32_t kind_ = 0;
    CRequestHandler* handler_ = nullptr;
};
