// CSectionLock: a plain lock over the platform's critical section for internal structures
// whose holds are short and need no slow-lock report. Entering a free lock is one
// compare-and-swap and leaving it one exchange, against a library call each way for a
// std::mutex; a contended lock spins briefly, then sleeps. CHold holds it.
#pragma once

#include "base/hold.h"
#include "platform/platform.h"

class CAPABILITY("mutex") CSectionLock {
public:
    CSectionLock() noexcept { InitializeCriticalSection(&section_); }
    ~CSectionLock() { DeleteCriticalSection(&section_); }
    CSectionLock(const CSectionLock&) = delete;
    CSectionLock& operator=(const CSectionLock&) = delete;

    // The lock is its section under another name, which the analysis cannot equate.
    void Lock() noexcept ACQUIRE() NO_THREAD_SAFETY_ANALYSIS { EnterCriticalSection(&section_); }
    void Unlock() noexcept RELEASE() NO_THREAD_SAFETY_ANALYSIS { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};

// Holds a section lock for the lifetime of the scope.
using CSectionHold = CHold<CSectionLock>;
