// Binding handles. A client (or server) binding names an endpoint and reaches it through the
// endpoint's shared channel; it holds no connection of its own. A call binding is what a manager
// routine receives: it identifies the calling process by its socket credentials.
#pragma once

#include "platform/rpc/channel.h"
#include "platform/rpc/rpc.h"
#include "platform/rpc/send_window.h"

#include <cstdint>
#include <memory>
#include <string>

struct CRpcBinding {
    std::string endpoint;
    std::shared_ptr<CClientChannel> channel;  // null for a call binding
    std::shared_ptr<CSendWindow> window;      // the sender's flow control, or null
    uint32_t peerPid = 0;                     // call bindings only (SO_PEERCRED)
    uint32_t peerUid = 0;
    uint32_t peerGid = 0;

    // A binding to endpoint with its channel. Fails (null) when the name cannot be an endpoint.
    static CRpcBinding* ForEndpoint(const std::string& endpoint);
};

// Whether name can be an endpoint: 1 to kEndpointMax bytes.
bool EndpointNameValid(const char* name);
