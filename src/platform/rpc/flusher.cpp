#include "platform/rpc/flusher.h"

#include "platform/rpc/channel.h"
#include "platform/rpc/socket.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>
#include <vector>

namespace {

constexpr uint32_t kWatchEvents = EPOLLOUT | EPOLLONESHOT;

}  // namespace

// Never destroyed: channels may be released during static destruction.
CFlusher& CFlusher::Instance() {
    static CFlusher* flusher = new CFlusher;
    return *flusher;
}

// The thread is started by the first watch after a Drain (or ever); a flusher that cannot start
// leaves the channel watched, and its backlog is written by the next start or abandoned by Drain.
void CFlusher::Watch(const std::shared_ptr<CClientChannel>& channel, int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (epoll_ < 0) {
        epoll_ = epoll_create1(EPOLL_CLOEXEC);
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = -1;
        epoll_ctl(epoll_, EPOLL_CTL_ADD, wake_, &event);
    }
    if (!thread_.joinable()) {
        stopping_ = false;
        try {
            thread_ = std::thread(&CFlusher::Run, this);
        } catch (const std::system_error&) {
        }
    }
    watched_[fd] = channel;
    epoll_event event{};
    event.events = kWatchEvents;
    event.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
}

void CFlusher::Rearm(int fd) {
    epoll_event event{};
    event.events = kWatchEvents;
    event.data.fd = fd;
    epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &event);
}

void CFlusher::Unwatch(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
    watched_.erase(fd);
    if (watched_.empty()) idle_.notify_all();
}

// The channel is held for its turn outside the flusher's lock: it may unwatch itself meanwhile.
void CFlusher::Run() {
    epoll_event events[64];
    for (;;) {
        const int count = epoll_wait(epoll_, events, 64, -1);
        if (count < 0 && errno != EINTR) return;
        for (int i = 0; i < count; ++i) {
            std::shared_ptr<CClientChannel> channel;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (events[i].data.fd == -1) {
                    if (stopping_) return;
                    continue;
                }
                auto it = watched_.find(events[i].data.fd);
                if (it != watched_.end()) channel = it->second;
            }
            if (channel) channel->FlushBacklog();
        }
    }
}

bool CFlusher::Drain(uint32_t milliseconds) {
    std::vector<std::shared_ptr<CClientChannel>> left;
    std::thread ending;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return watched_.empty(); });
        for (auto& entry : watched_) left.push_back(entry.second);
        if (thread_.joinable()) {
            stopping_ = true;
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t ignored = write(wake_, &one, sizeof one);
            ending = std::move(thread_);
        }
    }
    if (ending.joinable()) {
        ending.join();
        // The stop signal is taken back for the thread a later watch starts.
        uint64_t count;
        [[maybe_unused]] ssize_t ignored = read(wake_, &count, sizeof count);
    }
    for (auto& channel : left) channel->AbandonBacklog();
    return left.empty();
}

bool RpcClientDrain(uint32_t milliseconds) {
    return CFlusher::Instance().Drain(milliseconds);
}
