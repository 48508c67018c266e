// The signalled state of a waitable object, mirrored by an eventfd so that poll() can wait on it.
#pragma once

#include <atomic>
#include <mutex>

namespace mbus::platform {

// Invariant, held under mutex_: the eventfd counter is 1 while signalled_ is true and 0 while it
// is false. Every change of signalled_ and of the counter happens together under mutex_, the flag
// raised before the counter and lowered after it: a reader may see the flag without the readable
// descriptor (a change in progress, which it waits out on mutex_), never the descriptor readable
// without the flag, so a waiter woken by the descriptor never polls again in vain.
//
// Set() on a signalled object and Reset() on a non-signalled one read the flag without the mutex
// and make no system call: a worker posted many messages costs one eventfd write per wake-up.
// The flag is read and cleared with sequentially consistent operations, so a producer that
// publishes work and then calls Set() either sees the flag cleared by a consumer that has not yet
// looked for that work, and signals, or the consumer finds the work.
class CSignal {
public:
    // Throws std::system_error when no eventfd can be made.
    CSignal(bool manualReset, bool initialState);
    ~CSignal();
    CSignal(const CSignal&) = delete;
    CSignal& operator=(const CSignal&) = delete;

    void Set() noexcept;
    void Reset() noexcept;
    // True when signalled. An auto-reset signal is reset by the call that reports it, so of
    // several callers racing for one signal exactly one sees true.
    bool TryAcquire() noexcept;
    bool IsSignalled() const noexcept { return signalled_.load(); }
    // Readable while signalled; callers poll it and never read from it.
    int Fd() const noexcept { return fd_; }

private:
    const bool manualReset_;
    const int fd_;
    std::atomic<bool> signalled_;
    std::mutex mutex_;

    void ChangeLocked(bool signalled) noexcept;
};

}  // namespace mbus::platform
