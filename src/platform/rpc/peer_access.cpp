#include "platform/rpc/peer_access.h"

#include "base/coding.h"
#include "platform/mutex.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

constexpr size_t kVerdictBytes = 4;

CMutex allowanceMutex;
CPeerAllowance allowance GUARDED_BY(allowanceMutex);

}  // namespace

void RpcServerSetPeerAllowance(CPeerAllowance replacement) {
    CMutexHold hold(allowanceMutex);
    allowance = std::move(replacement);
}

bool RpcServerPeerAllowed(uint32_t uid) {
    if (uid == 0 || uid == geteuid()) return true;
    CMutexHold hold(allowanceMutex);
    return allowance.everyone ||
           std::find(allowance.users.begin(), allowance.users.end(), uid) != allowance.users.end();
}

bool RpcVerdictAwaited(uint32_t client, uint32_t server) {
    return client != 0 && client != server;
}

void RpcSendVerdict(int fd, RPC_STATUS verdict) {
    uint8_t bytes[kVerdictBytes];
    EncodeFixed32(bytes, static_cast<uint32_t>(verdict));
    [[maybe_unused]] ssize_t ignored = send(fd, bytes, sizeof bytes, MSG_NOSIGNAL | MSG_DONTWAIT);
}

RPC_STATUS RpcAwaitVerdict(int fd, uint32_t timeoutMs) {
    ucred server{};
    socklen_t size = sizeof server;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &server, &size) != 0) return RPC_S_CALL_FAILED_DNE;
    if (!RpcVerdictAwaited(geteuid(), server.uid)) return RPC_S_OK;
    const timeval timeout{static_cast<time_t>(timeoutMs / 1000), static_cast<suseconds_t>(timeoutMs % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    uint8_t bytes[kVerdictBytes];
    ssize_t got;
    do {
        got = recv(fd, bytes, sizeof bytes, MSG_WAITALL);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof bytes)) return static_cast<RPC_STATUS>(DecodeFixed32(bytes));
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return RPC_S_SERVER_TOO_BUSY;
    return RPC_S_CALL_FAILED;
}
