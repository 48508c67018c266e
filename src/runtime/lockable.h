// CLockable: the root of every library class. One recursive lock per object, with two
// misuse reports: a lock held longer than 100 ms, and an unlock by a thread that does not
// own the lock.
#pragma once

#include "base/hold.h"
#include "platform/platform.h"

class CTracer;

class CAPABILITY("mutex") CLockable {
public:
    CLockable() noexcept;
    virtual ~CLockable();
    CLockable(const CLockable&) = delete;
    CLockable& operator=(const CLockable&) = delete;

    virtual void Lock() ACQUIRE();
    virtual void Unlock() RELEASE();
    // Takes the lock only when no other thread holds it; true when it did.
    bool TryLock() TRY_ACQUIRE(true);
    // One-line self-description for diagnostics: "%p %s" with the address and class name.
    virtual void Describe(CTracer& out);

    // The clock that times every lock's hold, process-wide: GetTickCount unless a test hands in
    // its own. A hold that spans the change is timed across both clocks.
    static void SetTickSource(TickSource source);

    const char* ClassName() const { return className_; }
    const char* LockName() const { return lockName_; }

protected:
    // Stamps the hold the calling thread has just entered.
    void Entered();

    CRITICAL_SECTION section_;
    // Set by each constructor of the chain, so a finished object names its most derived class.
    const char* className_;
    // Tick count and thread id stored right after entering the lock, in this order. Written
    // only by the thread that has just entered; never cleared, not even by Unlock.
    DWORD lockTick_;
    DWORD ownerThreadId_;
    const char* lockName_;
};

// Holds an object's lock for the lifetime of the scope.
using ScopedLock = CHold<CLockable>;
