// The delivery interface (f7ca7934-33a7-42f1-9e20-b3bbe840ba9b, version 1.0) and its one
// one-way procedure Deliver, in place of generated stubs.
#pragma once

#include "platform/rpc/rpc.h"

#include <cstdint>

// The interface handle, under its client and server names (one object).
extern const RPC_IF_HANDLE Deliver_v1_0_c_ifspec;
extern const RPC_IF_HANDLE Deliver_v1_0_s_ifspec;

// Client stub. Returns once the call's frame is in the endpoint's socket or its backlog (or,
// inside an open CRpcBatch, once it is gathered; the frame then settles the binding's send
// window, see CSendWindow). Transport failures raise CRpcException with the status:
// RPC_S_INVALID_BINDING / RPC_S_WRONG_KIND_OF_BINDING for a null or call binding,
// RPC_X_NULL_REF_POINTER for a null service or null data with a non-zero length,
// RPC_S_STRING_TOO_LONG for a service longer than 65535 bytes, RPC_S_OUT_OF_MEMORY, and the
// connect and send statuses of status.h. Null data travels as "no data" and arrives as null.
void Deliver(RPC_BINDING_HANDLE binding, const char* service, uint32_t flags, uint16_t kind, const uint8_t* data,
             uint16_t length);

// Manager entry vector given to RpcServerRegisterIfEx. The routine runs on the dispatcher
// thread, once per received frame, in arrival order per connection. callBinding identifies the
// calling process (RpcBindingInqPeerCredentials) and lives for the call only. service is
// NUL-terminated; data is null when the caller sent null, and otherwise points at length bytes
// (a non-null pointer even when length is 0) valid for the call only. Exceptions it throws are
// swallowed by the dispatcher. EndOfRun, which may be null, runs on the dispatcher thread after
// the last Deliver of each run of frames that one read brought (see RPC_INTERFACE).
struct Deliver_v1_0_epv_t {
    void (*Deliver)(RPC_BINDING_HANDLE callBinding, const char* service, uint32_t flags, uint16_t kind,
                    const uint8_t* data, uint16_t length);
    void (*EndOfRun)();
};
