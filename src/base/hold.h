// CHold: holds anything with Lock() and Unlock() for the lifetime of the scope.
#pragma once

#include "base/thread_safety.h"

template <class TLock>
class SCOPED_CAPABILITY CHold {
public:
    explicit CHold(TLock& lock) ACQUIRE(lock) : lock_(lock) { lock_.Lock(); }
    ~CHold() RELEASE() { lock_.Unlock(); }
    CHold(const CHold&) = delete;
    CHold& operator=(const CHold&) = delete;

private:
    TLock& lock_;
};
