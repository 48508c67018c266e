#include "platform/rpc/channel.h"

#include "base/grow.h"
#include "platform/rpc/flusher.h"
#include "platform/rpc/peer_access.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unordered_map>

namespace {

// Backlog chunks written by one system call at most.
constexpr int kFlushParts = 64;
// Backlog chunks are made with room for this many bytes (or a bigger submit), and later submits
// join the last chunk while they fit in it: its bytes never move.
constexpr size_t kChunkBytes = 1 << 20;
// A rest of a submit this large becomes a chunk of its own, buffers and all, instead of a copy.
constexpr size_t kAdoptBytes = 64 * 1024;

// A now-only submit that would have to wait: none of its frames went anywhere.
RPC_STATUS WouldWait(size_t* firstFailed) {
    *firstFailed = 0;
    return RPC_S_WOULD_WAIT;
}

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

}  // namespace

void CFrames::Clear() {
    marks.clear();
    windows.clear();
}

void CFrames::Release(size_t from, size_t to) const {
    while (from < to) {
        CSendWindow* window = marks[from].window;
        size_t frames = 0;
        size_t bytes = 0;
        for (; from < to && marks[from].window == window; ++from, ++frames) bytes += marks[from].cost;
        if (window != nullptr) window->Release(frames, bytes);
    }
}

void CFrames::Lose(size_t from, RPC_STATUS status) const {
    for (size_t i = from; i < marks.size(); ++i) {
        if (marks[i].window != nullptr) marks[i].window->Lose(marks[i].cost, status);
    }
}

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

void CClientChannel::SetConnectTimeout(uint32_t milliseconds) {
    CMutexHold lock(mutex_);
    connectTimeoutMs_ = milliseconds;
}

RPC_STATUS CClientChannel::ConnectLocked() {
    CAbstractAddress address;
    if (!address.Set(kEndpointPrefix, endpoint_)) return RPC_S_INVALID_ENDPOINT_FORMAT;
    const int fd = UnixStreamSocket(false);
    if (fd < 0) return RPC_S_CALL_FAILED_DNE;
    const timeval timeout{static_cast<time_t>(connectTimeoutMs_ / 1000),
                          static_cast<suseconds_t>(connectTimeoutMs_ % 1000 * 1000)};
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
    if (const RPC_STATUS verdict = RpcAwaitVerdict(fd, connectTimeoutMs_)) {
        CloseDescriptor(fd);
        return verdict;
    }
    fd_ = fd;
    return RPC_S_OK;
}

void CClientChannel::DisconnectLocked() {
    CloseDescriptor(fd_);
    fd_ = -1;
}

RPC_STATUS CClientChannel::Submit(std::vector<uint8_t>& bytes, CFrames& frames, size_t* firstFailed, CSubmitMode mode) {
    if (mode == CSubmitMode::kMayWait) {
        CMutexHold lock(mutex_);
        return SubmitLocked(bytes, frames, firstFailed, mode);
    }
    if (!mutex_.TryLock()) return WouldWait(firstFailed);
    const CAdoptedHold<CMutex> lock(mutex_);
    return SubmitLocked(bytes, frames, firstFailed, mode);
}

RPC_STATUS CClientChannel::SubmitLocked(std::vector<uint8_t>& bytes, CFrames& frames, size_t* firstFailed,
                                        CSubmitMode mode) {
    const bool mayWait = mode == CSubmitMode::kMayWait;
    *firstFailed = frames.marks.size();
    if (!backlog_.empty()) {
        if (BacklogLocked(bytes, 0, frames, 0)) return RPC_S_OK;
        frames.Release(0, frames.marks.size());
        *firstFailed = 0;
        return RPC_S_OUT_OF_MEMORY;
    }
    bool fresh = false;
    RPC_STATUS status = RPC_S_OK;
    if (fd_ < 0) {
        if (!mayWait) return WouldWait(firstFailed);
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
                if (!mayWait) return WouldWait(firstFailed);
                status = ConnectLocked();
                fresh = true;
            } else {
                status = RpcStatusFromSendErrno(error);
            }
        }
    }
    size_t done = 0;
    while (done < frames.marks.size() && frames.marks[done].end <= written) ++done;
    if (status != RPC_S_OK) {
        frames.Release(0, frames.marks.size());
        *firstFailed = done;
        return status;
    }
    frames.Release(0, done);
    if (written == bytes.size() || BacklogLocked(bytes, written, frames, done)) return RPC_S_OK;
    // The frame cut short by the write cannot be followed on this stream.
    DisconnectLocked();
    frames.Release(done, frames.marks.size());
    *firstFailed = done;
    return RPC_S_OUT_OF_MEMORY;
}

// A large rest becomes a chunk as it is: the caller takes the spare chunk's emptied buffers for
// its next batch instead. A small one is copied into the last chunk while it fits: a backlog
// costs few allocations however many submits join it. A new chunk reuses the buffers of the
// last one written out in this backlog, whose pages are in place.
bool CClientChannel::BacklogLocked(std::vector<uint8_t>& bytes, size_t head, CFrames& frames, size_t nextFrame) {
    const bool first = backlog_.empty();
    const size_t size = bytes.size() - head;
    try {
        if (size >= kAdoptBytes) {
            CChunk& chunk = backlog_.emplace_back();
            chunk.bytes.swap(bytes);
            chunk.frames.marks.swap(frames.marks);
            chunk.frames.windows.swap(frames.windows);
            chunk.head = head;
            chunk.nextFrame = nextFrame;
            bytes.swap(spare_.bytes);
            frames.marks.swap(spare_.frames.marks);
        } else {
            if (first || backlog_.back().bytes.size() + size > backlog_.back().bytes.capacity()) {
                backlog_.push_back(std::move(spare_));
                spare_ = CChunk();
                Grow(backlog_.back().bytes, std::max(kChunkBytes, size));
            }
            CChunk& chunk = backlog_.back();
            const size_t base = chunk.bytes.size();
            Grow(chunk.frames.marks, chunk.frames.marks.size() + frames.marks.size() - nextFrame);
            Grow(chunk.frames.windows, chunk.frames.windows.size() + frames.windows.size());
            chunk.bytes.insert(chunk.bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(head), bytes.end());
            for (size_t i = nextFrame; i < frames.marks.size(); ++i) {
                CFrameMark mark = frames.marks[i];
                mark.end = mark.end - head + base;
                chunk.frames.marks.push_back(mark);
            }
            for (const auto& window : frames.windows) chunk.frames.windows.push_back(window);
        }
    } catch (const std::bad_alloc&) {
        // Nothing was added: only a chunk made for these bytes can be left, empty.
        if (!backlog_.empty() && backlog_.back().bytes.empty()) backlog_.pop_back();
        return false;
    }
    if (first) CFlusher::Instance().Watch(shared_from_this(), fd_);
    return true;
}

void CClientChannel::RetireFrontLocked() {
    CChunk& chunk = backlog_.front();
    if (spare_.bytes.capacity() < chunk.bytes.capacity()) {
        chunk.bytes.clear();
        chunk.frames.Clear();
        chunk.head = 0;
        chunk.nextFrame = 0;
        spare_ = std::move(chunk);
    }
    backlog_.pop_front();
}

std::deque<CClientChannel::CChunk> CClientChannel::ClearBacklogLocked() {
    std::deque<CChunk> lost;
    lost.swap(backlog_);
    CFlusher::Instance().Unwatch(fd_);
    DisconnectLocked();
    return lost;
}

void CClientChannel::Lose(const std::deque<CChunk>& lost, RPC_STATUS status) {
    for (const CChunk& chunk : lost) chunk.frames.Lose(chunk.nextFrame, status);
}

void CClientChannel::FlushBacklog() {
    std::deque<CChunk> lost;
    RPC_STATUS status = RPC_S_OK;
    {
        CMutexHold lock(mutex_);
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
                const std::vector<CFrameMark>& marks = chunk.frames.marks;
                while (chunk.nextFrame < marks.size() && marks[chunk.nextFrame].end <= chunk.head) ++chunk.nextFrame;
                chunk.frames.Release(from, chunk.nextFrame);
                if (chunk.head == chunk.bytes.size()) RetireFrontLocked();
            }
        }
        if (backlog_.empty() && lost.empty()) {
            CFlusher::Instance().Unwatch(fd_);
            spare_ = CChunk();
        }
    }
    Lose(lost, status);
}

void CClientChannel::AbandonBacklog() {
    std::deque<CChunk> lost;
    {
        CMutexHold lock(mutex_);
        if (backlog_.empty()) return;
        lost = ClearBacklogLocked();
    }
    Lose(lost, RPC_S_CALL_FAILED_DNE);
}
