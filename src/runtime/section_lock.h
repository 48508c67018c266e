// CSectionLock: a plain lock over the platform's critical section for internal structures
// whose holds are short and need no slow-lock report. Entering a free lock is one
// compare-and-swap and leaving it one exchange, against a library call each way for a
// std::mutex; a contended lock spins briefly, then sleeps. It meets the standard's
// BasicLockable, so std::lock_guard and std::unique_lock hold it.
#pragma once

#include "platform/platform.h"

class CSectionLock {
public:
    CSectionLock() noexcept { InitializeCriticalSection(&section_); }
    ~CSectionLock() { DeleteCriticalSection(&section_); }
    CSectionLock(const CSectionLock&) = delete;
    CSectionLock& operator=(const CSectionLock&) = delete;

    void lock() noexcept { EnterCriticalSection(&section_); }
    void unlock() noexcept { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};
