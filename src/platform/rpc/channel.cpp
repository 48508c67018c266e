#include "platform/rpc/channel.h"

#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <cerrno>
#include <unordered_map>

namespace {

// A write (or a connect to a full backlog) that makes no progress for this long fails, so that a
// stopped server cannot block the sending thread forever.
constexpr time_t kSendTimeoutSeconds = 5;

struct CChannelTable {
    std::mutex mutex;
    std::unordered_map<std::string, std::weak_ptr<CClientChannel>> channels;
};

// Never destroyed: channels may be released during static destruction.
CChannelTable& Table() {
    static CChannelTable* table = new CChannelTable;
    return *table;
}

}  // namespace

std::shared_ptr<CClientChannel> CClientChannel::ForEndpoint(const std::string& endpoint) {
    CChannelTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    std::weak_ptr<CClientChannel>& slot = table.channels[endpoint];
    std::shared_ptr<CClientChannel> channel = slot.lock();
    if (!channel) {
        channel = std::make_shared<CClientChannel>(endpoint);
        slot = channel;
    }
    return channel;
}

CClientChannel::~CClientChannel() {
    CloseDescriptor(fd_);
    CChannelTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    // A new channel for the same endpoint may already have taken the slot; leave that one.
    auto it = table.channels.find(endpoint_);
    if (it != table.channels.end() && it->second.expired()) table.channels.erase(it);
}

RPC_STATUS CClientChannel::ConnectLocked() {
    CAbstractAddress address;
    if (!address.Set(kEndpointPrefix, endpoint_)) return RPC_S_INVALID_ENDPOINT_FORMAT;
    const int fd = UnixStreamSocket(false);
    if (fd < 0) return RPC_S_CALL_FAILED_DNE;
    const timeval timeout{kSendTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    int result;
    do {
        result = connect(fd, address.Get(), address.Length());
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        CloseDescriptor(fd);
        return RpcStatusFromConnectErrno(error);
    }
    fd_ = fd;
    return RPC_S_OK;
}

void CClientChannel::DisconnectLocked() {
    CloseDescriptor(fd_);
    fd_ = -1;
}

RPC_STATUS CClientChannel::Write(iovec* iov, int count, size_t* written) {
    std::lock_guard<std::mutex> lock(mutex_);
    *written = 0;
    bool fresh = false;
    if (fd_ < 0) {
        if (RPC_STATUS status = ConnectLocked()) return status;
        fresh = true;
    }
    while (count > 0) {
        msghdr message{};
        message.msg_iov = iov;
        message.msg_iovlen = static_cast<size_t>(count);
        const ssize_t sent = sendmsg(fd_, &message, MSG_NOSIGNAL);
        if (sent >= 0) {
            *written += static_cast<size_t>(sent);
            IovecAdvance(&iov, &count, static_cast<size_t>(sent));
            continue;
        }
        const int error = errno;
        if (error == EINTR) continue;
        DisconnectLocked();
        if (*written == 0 && !fresh && (error == EPIPE || error == ECONNRESET)) {
            if (RPC_STATUS status = ConnectLocked()) return status;
            fresh = true;
            continue;
        }
        return RpcStatusFromSendErrno(error);
    }
    return RPC_S_OK;
}
