// How transport failures become RPC statuses, and the one exception type that carries them out
// of a client stub (the stub's structured exception). It never leaves the library: callers of
// the stubs catch it.
#pragma once

#include "platform/rpc/rpc.h"

#include <exception>

class CRpcException : public std::exception {
public:
    explicit CRpcException(RPC_STATUS status) noexcept : status_(status) {}
    RPC_STATUS Status() const noexcept { return status_; }
    const char* what() const noexcept override { return "RPC exception"; }

private:
    RPC_STATUS status_;
};

// connect(2): no listener → RPC_S_SERVER_UNAVAILABLE; backlog full → RPC_S_SERVER_TOO_BUSY.
// A server that refuses the connection gives its own status instead (see peer_access.h).
RPC_STATUS RpcStatusFromConnectErrno(int error);
// send(2): peer gone → RPC_S_CALL_FAILED; anything else → RPC_S_CALL_FAILED_DNE.
RPC_STATUS RpcStatusFromSendErrno(int error);
