// CService: the sending side's proxy for one named service of a remote sink. Sends become
// requests on the source request thread, run by the proxy's source.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/ref_count.h"

class CSource;

class CService final : public CCountable {
public:
    // An empty name addresses the remote sink's default service.
    CService(CSource* owner, const char* serviceName);
    ~CService() override;

    // Whether the source is still known and bound.
    bool IsConnected();
    // Queues the message for the source; true when queued.
    bool Send(uint32_t flags, int32_t kind, const void* data, uint16_t length);
    // Queues a test of the remote service's presence.
    bool Test();

private:
    const std::string name_;
    const CCheckedRef<CSource> source_;
};
