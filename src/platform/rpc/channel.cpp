#include "platform/rpc/channel.h"

#include "platform/rpc/flusher.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <unordered_map>

namespace {

// A connect to a full listen backlog that makes no progress for this long fails.
constexpr time_t kConnectTimeoutSeconds = 5;
// Backlog chunks written by one system call at most.
constexpr int kFlushParts = 64;

struct CChannelTable {
    std::mutex mutex;
    std::unordered_map<std::string, std::weak_ptr<CClientChannel>> channels;
};

// Never destroyed: channels may be released during static destruction.
CChannelTable& Table() {
    static CChannelTable* table = new CChannelTable;
    return *table;
}

// One write that never waits: bytes taken (0 when the socket is full), or -1 with errno.
ssize_t SendNow(int fd, iovec* parts, int count) {
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = static_cast<size_t>(count);
    for (;;) {
        const ssize_t sent = sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return sent;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        if (errno != EINTR) return -1;
    }
}

// Settles the windows of frames [from, to): their frames went out, or their failure is reported
// by the caller.
void ReleaseFrames(std::vector<CFrameMark>& frames, size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
        if (frames[i].window) frames[i].window->Release(frames[i].cost);
    }
}

void LoseFrames(std::vector<CFrameMark>& frames, RPC_STATUS status) {
    for (CFrameMark& frame : frames) {
        if (frame.window) frame.window->Lose(frame.cost, status);
    }
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

// A channel with a backlog is held by the flusher, so none is left here.
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
    const timeval timeout{kConnectTimeoutSeconds, 0};
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

RPC_STATUS CClientChannel::Submit(std::vector<uint8_t>& bytes, std::vector<CFrameMark>& frames, size_t* firstFailed) {
    std::lock_guard<std::mutex> lock(mutex_);
    *firstFailed = frames.size();
    if (!backlog_.empty()) {
        BacklogLocked(bytes, 0, frames, 0);
        return RPC_S_OK;
    }
    bool fresh = false;
    RPC_STATUS status = RPC_S_OK;
    if (fd_ < 0) {
        status = ConnectLocked();
        fresh = true;
    }
    size_t written = 0;
    while (status == RPC_S_OK && written < bytes.size()) {
        iovec part{bytes.data() + written, bytes.size() - written};
        const ssize_t sent = SendNow(fd_, &part, 1);
        if (sent > 0) {
            written += static_cast<size_t>(sent);
        } else if (sent == 0) {
            break;
        } else {
            const int error = errno;
            DisconnectLocked();
            if (written == 0 && !fresh && (error == EPIPE || error == ECONNRESET)) {
                status = ConnectLocked();
                fresh = true;
            } else {
                status = RpcStatusFromSendErrno(error);
            }
        }
    }
    size_t done = 0;
    while (done < frames.size() && frames[done].end <= written) ++done;
    if (status != RPC_S_OK) {
        ReleaseFrames(frames, 0, frames.size());
        *firstFailed = done;
        return status;
    }
    ReleaseFrames(frames, 0, done);
    if (written < bytes.size()) BacklogLocked(bytes, written, frames, done);
    return RPC_S_OK;
}

void CClientChannel::BacklogLocked(std::vector<uint8_t>& bytes, size_t head, std::vector<CFrameMark>& frames,
                                   size_t nextFrame) {
    const bool first = backlog_.empty();
    backlog_.push_back(CChunk{std::move(bytes), head, std::move(frames), nextFrame});
    if (first) CFlusher::Instance().Watch(shared_from_this(), fd_);
}

std::vector<CFrameMark> CClientChannel::ClearBacklogLocked() {
    std::vector<CFrameMark> lost;
    for (CChunk& chunk : backlog_) {
        for (size_t i = chunk.nextFrame; i < chunk.frames.size(); ++i) lost.push_back(std::move(chunk.frames[i]));
    }
    backlog_.clear();
    CFlusher::Instance().Unwatch(fd_);
    DisconnectLocked();
    return lost;
}

void CClientChannel::FlushBacklog() {
    std::vector<CFrameMark> lost;
    RPC_STATUS status = RPC_S_OK;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (!backlog_.empty()) {
            iovec parts[kFlushParts];
            int count = 0;
            for (auto it = backlog_.begin(); it != backlog_.end() && count < kFlushParts; ++it, ++count) {
                parts[count] = iovec{it->bytes.data() + it->head, it->bytes.size() - it->head};
            }
            ssize_t sent = SendNow(fd_, parts, count);
            if (sent < 0) {
                status = RpcStatusFromSendErrno(errno);
                lost = ClearBacklogLocked();
                break;
            }
            if (sent == 0) {
                CFlusher::Instance().Rearm(fd_);
                return;
            }
            while (sent > 0) {
                CChunk& chunk = backlog_.front();
                const size_t take = std::min(static_cast<size_t>(sent), chunk.bytes.size() - chunk.head);
                chunk.head += take;
                sent -= static_cast<ssize_t>(take);
                const size_t from = chunk.nextFrame;
                while (chunk.nextFrame < chunk.frames.size() && chunk.frames[chunk.nextFrame].end <= chunk.head) {
                    ++chunk.nextFrame;
                }
                ReleaseFrames(chunk.frames, from, chunk.nextFrame);
                if (chunk.head == chunk.bytes.size()) backlog_.pop_front();
            }
        }
        if (backlog_.empty() && lost.empty()) CFlusher::Instance().Unwatch(fd_);
    }
    LoseFrames(lost, status);
}

void CClientChannel::AbandonBacklog() {
    std::vector<CFrameMark> lost;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (backlog_.empty()) return;
        lost = ClearBacklogLocked();
    }
    LoseFrames(lost, RPC_S_CALL_FAILED_DNE);
}
