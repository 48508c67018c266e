#include "runtime/ref_count.h"

#include "runtime/tracer.h"
#include "runtime/tracker.h"

CRefCount::CRefCount() : refCount(1) {
    className = "CRefCount";
    TrackObject(this, true);
}

CRefCount::~CRefCount() {
    TrackObject(this, false);
}

void CRefCount::Describe(CTracer& out) {
    const unsigned count = RefCount();
    out.Printf("%p %s (%u)", static_cast<void*>(this), className, count);
}

uint16_t CRefCount::AddRef() {
    ScopedLock hold(*this);
    return ++refCount;
}

uint16_t CRefCount::Release() {
    uint16_t previous;
    {
        ScopedLock hold(*this);
        previous = refCount;
        if (previous != 0) --refCount;
    }
    if (previous == 1) OnFinalRelease();
    return previous;
}

uint16_t CRefCount::DropRef() {
    ScopedLock hold(*this);
    return refCount--;
}

uint16_t CRefCount::RefCount() {
    ScopedLock hold(*this);
    return refCount;
}

void CCountable::OnFinalRelease() {
    delete this;
}
