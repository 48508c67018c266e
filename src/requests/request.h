// CRequest: one queued message with the library's own copies of its service name and payload,
// and a counted reference to the handler that will run it.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/ref_count.h"

class CRequestHandler;

class CRequest : public CCountable {
public:
    // service: null-terminated text or null; data may be null; length is the payload size.
    CRequest(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
             const void* data, uint16_t length);
    ~CRequest() override;

    // Runs the handler's Request; false when the request has no handler.
    bool Process();

private:
    // Service text and payload share one buffer, service first, each followed by a NUL
    // (handlers may show a payload as text up to its first NUL): inside the request when they
    // fit, which spares small messages an allocation of their own, else on the heap.
    static constexpr size_t kInlineBytes = 128;
    uint8_t inlineBytes[kInlineBytes];
    std::unique_ptr<uint8_t[]> heapBytes;
    // The buffer in use, or null when there is neither service text nor payload.
    uint8_t* storage;
    uint16_t serviceLength;
    uint16_t length;
    uint32_t flags;
    int32_t kind;
    CRequestHandler* handler;
};
