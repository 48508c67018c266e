// CHold: holds anything with Lock() and Unlock() for the lifetime of the scope.
#pragma once

template <class TLock>
class CHold {
public:
    explicit CHold(TLock& lock) : lock_(lock) { lock_.Lock(); }
    ~CHold() { lock_.Unlock(); }
    CHold(const CHold&) = delete;
    CHold& operator=(const CHold&) = delete;

private:
    TLock& lock_;
};
