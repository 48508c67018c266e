// CSignal: a flag, the futex word its waiters sleep on, and an eventfd for pollers.
#include "platform/signal.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

#include "platform/futex.h"
#include "platform/monotonic.h"

namespace mbus::platform {

namespace {

int MakeEventFd() {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

}  // namespace

CSignal::CSignal(bool manualReset, bool initialState)
    : manualReset_(manualReset), fd_(MakeEventFd()), signalled_(false), mirrored_(false), changes_(0), sleepers_(0) {
    if (initialState) Set();
}

CSignal::~CSignal() {
    CMutexHold lock(mutex_);
    if (pollFd_ >= 0) close(pollFd_);
    close(fd_);
}

// The counter only moves between 0 and 1 and the descriptor is non-blocking, so the write cannot
// overflow and the read cannot block; only EINTR is retried.
//
// The flag is raised before the write and lowered after the read, so the descriptor is never
// readable without the flag. The other order let a waiter woken by the write (which may preempt
// the writer on its CPU) find the flag still down and poll again at once, spinning until the
// preempted writer ran again: milliseconds per wake-up on a loaded machine.
void CSignal::ChangeLocked(bool signalled) noexcept {
    if (signalled) {
        signalled_.store(true);
        if (mirrored_) RaiseCounter();
    } else {
        eventfd_t value;
        while (mirrored_ && eventfd_read(fd_, &value) != 0 && errno == EINTR) {
        }
        signalled_.store(false);
    }
}

void CSignal::RaiseCounter() noexcept {
    while (eventfd_write(fd_, 1) != 0 && errno == EINTR) {
    }
}

// The change count is bumped before the sleepers are counted, and a sleeper is counted before
// the kernel compares the count: either the sleeper's futex sees the new count, or this call
// sees the sleeper and wakes it.
void CSignal::Set() noexcept {
    if (signalled_.load()) return;
    {
        CMutexHold lock(mutex_);
        if (signalled_.load()) return;
        ChangeLocked(true);
    }
    changes_.fetch_add(1);
    if (sleepers_.load() != 0) {
        wokeAt_.store(MonotonicNanos(), std::memory_order_relaxed);
        FutexWake(changes_, INT32_MAX);
    }
}

void CSignal::Reset() noexcept {
    if (!signalled_.load()) return;
    CMutexHold lock(mutex_);
    if (signalled_.load()) ChangeLocked(false);
}

bool CSignal::TryAcquire() noexcept {
    if (!signalled_.load()) return false;
    if (manualReset_) return true;
    CMutexHold lock(mutex_);
    if (!signalled_.load()) return false;
    ChangeLocked(false);
    return true;
}

void CSignal::MirrorLocked() noexcept {
    if (mirrored_) return;
    mirrored_ = true;
    if (signalled_.load()) RaiseCounter();
}

int CSignal::Fd() noexcept {
    CMutexHold lock(mutex_);
    MirrorLocked();
    return fd_;
}

// Level-triggered: the instance reports the eventfd for as long as its counter is set.
int CSignal::PollFd() noexcept {
    CMutexHold lock(mutex_);
    if (pollFd_ >= 0) return pollFd_;
    MirrorLocked();
    const int fd = epoll_create1(EPOLL_CLOEXEC);
    if (fd < 0) return -1;
    epoll_event watched{};
    watched.events = EPOLLIN;
    if (epoll_ctl(fd, EPOLL_CTL_ADD, fd_, &watched) != 0) {
        close(fd);
        return -1;
    }
    pollFd_ = fd;
    return pollFd_;
}

void CSignal::Sleep(uint32_t changes, DWORD milliseconds) noexcept {
    sleepers_.fetch_add(1);
    FutexWait(changes_, changes, milliseconds);
    sleepers_.fetch_sub(1);
}

}  // namespace mbus::platform
