// CMutex: a std::mutex that clang's thread-safety analysis knows as a lock, so that fields can
// be marked as guarded by it. Held for a scope by CMutexHold. It is constant-initialised like
// std::mutex, so a global one is usable before any constructor runs.
#pragma once

#include <mutex>

#include "base/hold.h"
#include "base/thread_safety.h"

class CAPABILITY("mutex") CMutex {
public:
    void Lock() ACQUIRE() { mutex_.lock(); }
    bool TryLock() TRY_ACQUIRE(true) { return mutex_.try_lock(); }
    void Unlock() RELEASE() { mutex_.unlock(); }

private:
    std::mutex mutex_;
};

using CMutexHold = CHold<CMutex>;
