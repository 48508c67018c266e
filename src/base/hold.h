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

// CAdoptedHold: holds a lock that the caller has just taken (a TryLock that succeeded) for the
// lifetime of the scope.
template <class TLock>
class SCOPED_CAPABILITY CAdoptedHold {
public:
    explicit CAdoptedHold(TLock& lock) REQUIRES(lock) : lock_(lock) {}
    ~CAdoptedHold() RELEASE() { lock_.Unlock(); }
    CAdoptedHold(const CAdoptedHold&) = delete;
    CAdoptedHold& operator=(const CAdoptedHold&) = delete;

private:
    TLock& lock_;
};
