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
    // Service text and payload share one allocation, service first, each followed by a NUL
    // (handlers may show a payload as text up to its first NUL).
    std::unique_ptr<uint8_t[]> storage;
    uint16_t serviceLength;
    uint16_t length;
    uint32_t flags;
    int32_t kind;
    CRequestHandler* handler;
};
