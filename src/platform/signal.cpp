// CSignal: a flag and an eventfd changed together.
#include "platform/signal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace mbus::platform {

namespace {

int MakeEventFd() {
    int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        throw std::system_error(errno, std::generic_category(), "eventfd");
    return fd;
}

}  // namespace

CSignal::CSignal(bool manualReset, bool initialState)
    : manualReset_(manualReset), fd_(MakeEventFd()), signalled_(false) {
    if (initialState)
        Set();
}

CSignal::~CSignal() {
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
        while (eventfd_write(fd_, 1) != 0 && errno == EINTR) {
        }
    } else {
        eventfd_t value;
        while (eventfd_read(fd_, &value) != 0 && errno == EINTR) {
        }
        signalled_.store(false);
    }
}

void CSignal::Set() noexcept {
    if (signalled_.load())
        return;
    std::lock_guard lock(mutex_);
    if (!signalled_.load())
        ChangeLocked(true);
}

void CSignal::Reset() noexcept {
    if (!signalled_.load())
        return;
    std::lock_guard lock(mutex_);
    if (signalled_.load())
        ChangeLocked(false);
}

bool CSignal::TryAcquire() noexcept {
    if (!signalled_.load())
        return false;
    if (manualReset_)
        return true;
    std::lock_guard lock(mutex_);
    if (!signalled_.load())
        return false;
    ChangeLocked(false);
    return true;
}

}  // namespace mbus::platform
