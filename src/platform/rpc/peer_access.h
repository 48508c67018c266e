// Who may connect to this process's endpoints, and how a client of another user learns whether
// it was let in.
//
// A server serves a connection when its peer's effective user (SO_PEERCRED) is the server's own,
// root (0), or one the allowance names. A connect succeeds before the server accepts, so a client
// cannot tell from the socket alone that it was refused: between two users that are not always
// let in (the client is neither root nor the server's user), the server writes a verdict, the
// status as 4 little-endian bytes, before any frame is read, and the client waits for it before
// it writes one. Every other connection carries no verdict and costs no round trip.
#pragma once

#include "platform/rpc/rpc.h"

#include <cstdint>
#include <vector>

// The users let in besides the server's own and root.
struct CPeerAllowance {
    bool everyone = false;
    std::vector<uint32_t> users;
};

// Replaces the allowance of this process's server (none until set: its own user and root only).
void RpcServerSetPeerAllowance(CPeerAllowance allowance);
// Whether a peer of effective user `uid` may connect to this process's endpoints.
bool RpcServerPeerAllowed(uint32_t uid);

// Whether a connection from a client of user `client` to a server of user `server` carries the
// server's verdict.
bool RpcVerdictAwaited(uint32_t client, uint32_t server);
// Writes the verdict on a freshly accepted connection (its socket has room for it).
void RpcSendVerdict(int fd, RPC_STATUS verdict);
// On a freshly connected client socket: RPC_S_OK when the server lets this process in or sends
// no verdict, else the refusing status, RPC_S_SERVER_TOO_BUSY when no verdict came within
// timeoutMs, RPC_S_CALL_FAILED when the server closed without one.
RPC_STATUS RpcAwaitVerdict(int fd, uint32_t timeoutMs);
