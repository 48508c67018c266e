#include "platform/rpc/dispatcher.h"

#include "platform/rpc/frame.h"
#include "platform/rpc/peer_access.h"
#include "platform/rpc/socket.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// Per connection; holds several maximum frames so that a whole frame always fits.
constexpr size_t kReadBufferSize = 256 * 1024;
// Reads of one connection per wake-up before the others get their turn.
constexpr int kReadsPerTurn = 8;
constexpr int kListenBacklog = 128;

// Set by RunFrames for the manager routine it calls (RpcServerCallCameAlone).
thread_local bool tCallCameAlone __attribute__((tls_model("initial-exec"))) = false;

// Adds fd to the epoll set, readable events naming `watched`; false when the set refused it.
bool Watch(int set, int fd, void* watched) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = watched;
    return epoll_ctl(set, EPOLL_CTL_ADD, fd, &event) == 0;
}

}  // namespace

// What an epoll event names: the wake-up (a null pointer), a listener or a connection.
struct CDispatcher::CWatched {
    const bool isListener;
};

struct CDispatcher::CListener : CWatched {
    CListener() : CWatched{true} {}
    std::string endpoint;
    int fd;
};

struct CDispatcher::CConnection : CWatched {
    CConnection() : CWatched{false} {}
    int fd;
    CRpcBinding binding;  // the call binding handed to the manager routine
    std::string service;  // NUL-terminated copy of the current frame's service
    std::unique_ptr<uint8_t[]> buffer{new uint8_t[kReadBufferSize]};
    size_t used = 0;  // bytes in buffer not yet run
};

// Two epoll sets hold the wake-up and the listeners; the serving set holds the connections too.
// The dispatcher waits on the serving set, so that one system call finds a ready connection, and
// on the other one while intake is paused: pausing and resuming change no registration, whatever
// the number of connections.
std::shared_ptr<CDispatcher> CDispatcher::Create() {
    std::shared_ptr<CDispatcher> dispatcher(new CDispatcher);
    dispatcher->pausedSet_ = epoll_create1(EPOLL_CLOEXEC);
    dispatcher->servingSet_ = epoll_create1(EPOLL_CLOEXEC);
    dispatcher->wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (dispatcher->pausedSet_ < 0 || dispatcher->servingSet_ < 0 || dispatcher->wake_ < 0) return nullptr;
    return dispatcher->WatchInBoth(dispatcher->wake_, nullptr) ? dispatcher : nullptr;
}

bool CDispatcher::WatchInBoth(int fd, CWatched* watched) {
    return Watch(pausedSet_, fd, watched) && Watch(servingSet_, fd, watched);
}

CDispatcher::~CDispatcher() {
    for (CConnection* connection : connections_) Drop(connection);
    for (auto& listener : listeners_) CloseDescriptor(listener->fd);
    CloseDescriptor(wake_);
    CloseDescriptor(servingSet_);
    CloseDescriptor(pausedSet_);
    if (thread_.joinable()) thread_.detach();
}

void CDispatcher::SetInterface(RPC_IF_HANDLE ifSpec, const void* managerEpv, RPC_IF_CALLBACK_FN callback) {
    interface_ = ifSpec;
    managerEpv_ = managerEpv;
    callback_ = callback;
}

RPC_STATUS CDispatcher::AddEndpoint(const std::string& endpoint) {
    std::lock_guard<std::mutex> lock(listenMutex_);
    for (const auto& listener : listeners_) {
        if (listener->endpoint == endpoint) return RPC_S_OK;
    }
    CAbstractAddress address;
    if (!address.Set(kEndpointPrefix, endpoint)) return RPC_S_INVALID_ENDPOINT_FORMAT;
    auto listener = std::make_unique<CListener>();
    listener->endpoint = endpoint;
    listener->fd = UnixStreamSocket(true);
    if (listener->fd < 0) return RPC_S_CANT_CREATE_ENDPOINT;
    if (bind(listener->fd, address.Get(), address.Length()) != 0) {
        const int error = errno;
        CloseDescriptor(listener->fd);
        return error == EADDRINUSE ? RPC_S_DUPLICATE_ENDPOINT : RPC_S_CANT_CREATE_ENDPOINT;
    }
    if (listen(listener->fd, kListenBacklog) != 0 || !WatchInBoth(listener->fd, listener.get())) {
        CloseDescriptor(listener->fd);
        return RPC_S_CANT_CREATE_ENDPOINT;
    }
    listeners_.push_back(std::move(listener));
    return RPC_S_OK;
}

std::vector<std::string> CDispatcher::Endpoints() {
    std::lock_guard<std::mutex> lock(listenMutex_);
    std::vector<std::string> endpoints;
    for (const auto& listener : listeners_) {
        if (listener->fd >= 0) endpoints.push_back(listener->endpoint);
    }
    return endpoints;
}

bool CDispatcher::Start() {
    if (thread_.joinable()) return true;
    try {
        thread_ = std::thread(&CDispatcher::Run, this, shared_from_this());
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CDispatcher::Stop(bool wait) {
    {
        std::lock_guard<std::mutex> lock(listenMutex_);
        for (auto& listener : listeners_) {
            CloseDescriptor(listener->fd);
            listener->fd = -1;
        }
    }
    stopping_ = true;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_, &one, sizeof one);
    if (!thread_.joinable()) return;
    if (wait && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void CDispatcher::ResumeIntake() {
    resumeAsked_.store(true);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = write(wake_, &one, sizeof one);
}

void CDispatcher::Run(std::shared_ptr<CDispatcher> self) {
    epoll_event events[64];
    while (!stopping_) {
        const int count = epoll_wait(paused_ ? pausedSet_ : servingSet_, events, 64, -1);
        if (count < 0 && errno != EINTR) break;
        for (int i = 0; i < count && !stopping_; ++i) {
            auto* watched = static_cast<CWatched*>(events[i].data.ptr);
            if (watched == nullptr) {
                OnWake();
            } else if (watched->isListener) {
                Accept(static_cast<CListener*>(watched));
            } else if (!paused_) {
                // A pause earlier in this turn leaves the later connections ready for the next.
                Serve(static_cast<CConnection*>(watched));
            }
        }
    }
    for (CConnection* connection : connections_) Drop(connection);
    connections_.clear();
    self.reset();
}

void CDispatcher::Accept(CListener* listener) {
    for (;;) {
        int fd;
        {
            std::lock_guard<std::mutex> lock(listenMutex_);
            if (listener->fd < 0) return;
            fd = accept4(listener->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        }
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;
        }
        // A peer whose credentials cannot be read cannot be told apart from root: it is closed.
        ucred credentials{};
        socklen_t size = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0) {
            CloseDescriptor(fd);
            continue;
        }
        auto connection = std::make_unique<CConnection>();
        connection->fd = fd;
        connection->binding.peerPid = static_cast<uint32_t>(credentials.pid);
        connection->binding.peerUid = credentials.uid;
        connection->binding.peerGid = credentials.gid;
        connection->binding.endpoint = listener->endpoint;
        const RPC_STATUS verdict = callback_ ? callback_(interface_, &connection->binding) : RPC_S_OK;
        if (verdict != RPC_S_OK || !Watch(servingSet_, fd, static_cast<CWatched*>(connection.get()))) {
            if (verdict != RPC_S_OK) RpcSendVerdict(fd, verdict);
            CloseDescriptor(fd);
            continue;
        }
        if (RpcVerdictAwaited(credentials.uid, geteuid())) RpcSendVerdict(fd, RPC_S_OK);
        connections_.insert(connection.release());
    }
}

// The registration goes before the descriptor: closing it ends the registration only with the
// last descriptor of the socket, and a child being started holds a copy until its exec, during
// which the set would still report the deleted connection.
void CDispatcher::Drop(CConnection* connection) {
    epoll_ctl(servingSet_, EPOLL_CTL_DEL, connection->fd, nullptr);
    CloseDescriptor(connection->fd);
    delete connection;
}

void CDispatcher::OnWake() {
    uint64_t count;
    [[maybe_unused]] ssize_t ignored = read(wake_, &count, sizeof count);
    if (resumeAsked_.exchange(false) && paused_) Resume();
}

void CDispatcher::Pause(CConnection* stalled) {
    paused_ = true;
    stalled_ = stalled;
}

void CDispatcher::Resume() {
    paused_ = false;
    if (CConnection* stalled = std::exchange(stalled_, nullptr)) {
        if (!RunFrames(stalled)) {
            connections_.erase(stalled);
            Drop(stalled);
        }
    }
}

void CDispatcher::Serve(CConnection* connection) {
    for (int turn = 0; turn < kReadsPerTurn; ++turn) {
        const size_t room = kReadBufferSize - connection->used;
        const ssize_t got = read(connection->fd, connection->buffer.get() + connection->used, room);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return;
        // got == 0: the client closed; a frame it cut short is dropped with the connection.
        if (got > 0) connection->used += static_cast<size_t>(got);
        if (got <= 0 || !RunFrames(connection)) {
            connections_.erase(connection);
            Drop(connection);
            return;
        }
        if (stopping_ || paused_ || static_cast<size_t>(got) < room) return;
    }
}

bool RpcServerCallCameAlone() {
    return tCallCameAlone;
}

// Runs every whole frame in the buffer, until a call pauses intake, and keeps the rest; the
// interface hears of the run's end when it ran a frame, also when a malformed frame ends it.
// False when the connection must be closed (a malformed frame).
bool CDispatcher::RunFrames(CConnection* connection) {
    const uint8_t* bytes = connection->buffer.get();
    size_t offset = 0;
    bool wellFormed = true;
    while (!paused_) {
        CFrameView frame;
        const EFrameParse result = FrameParse(bytes + offset, connection->used - offset, &frame);
        wellFormed = result != EFrameParse::Malformed;
        if (result != EFrameParse::Complete) break;
        offset += frame.size;
        tCallCameAlone = offset == connection->used;
        // The service name is copied to be NUL-terminated; a stream names the same one again.
        if (connection->service != frame.service) connection->service.assign(frame.service);
        const CRpcCall call{connection->service.c_str(), frame.flags, frame.kind, frame.data, frame.length};
        try {
            interface_->dispatch(&connection->binding, managerEpv_, call);
        } catch (...) {
            // A manager routine's failure is its own; the connection is served on.
        }
        if (stopping_) break;
        TakePauseAsked(connection);
    }
    if (offset != 0 && interface_->endOfRun != nullptr) {
        try {
            interface_->endOfRun(managerEpv_);
        } catch (...) {
            // Like a manager routine's failure: the connection is served on.
        }
        TakePauseAsked(connection);
    }
    if (!wellFormed) return false;
    std::memmove(connection->buffer.get(), bytes + offset, connection->used - offset);
    connection->used -= offset;
    return true;
}

// Read first: the exchange is a locked instruction, and a pause is rare.
void CDispatcher::TakePauseAsked(CConnection* connection) {
    if (pauseAsked_.load(std::memory_order_relaxed) && pauseAsked_.exchange(false)) Pause(connection);
}
