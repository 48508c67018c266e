#include "runtime/ref_count.h"

#include "runtime/object_memory.h"
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

namespace {

// The object's critical section as a CHold target, entered without the slow-lock bookkeeping
// of Lock: a count change holds it for a few instructions.
struct CCountGuard {
    CRITICAL_SECTION& section;
    void Lock() { EnterCriticalSection(&section); }
    void Unlock() { LeaveCriticalSection(&section); }
};

}  // namespace

uint16_t CRefCount::AddRef() {
    CCountGuard guard{section};
    CHold<CCountGuard> hold(guard);
    return ++refCount;
}

uint16_t CRefCount::Release() {
    uint16_t previous;
    {
        CCountGuard guard{section};
        CHold<CCountGuard> hold(guard);
        previous = refCount;
        if (previous != 0) --refCount;
    }
    if (previous == 1) OnFinalRelease();
    return previous;
}

uint16_t CRefCount::DropRef() {
    CCountGuard guard{section};
    CHold<CCountGuard> hold(guard);
    return refCount--;
}

uint16_t CRefCount::RefCount() {
    CCountGuard guard{section};
    CHold<CCountGuard> hold(guard);
    return refCount;
}

void CCountable::OnFinalRelease() {
    delete this;
}

void* CRefCount::operator new(size_t size) {
    void* block = AllocateObjectMemory(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* CRefCount::operator new(size_t size, const std::nothrow_t&) noexcept {
    return AllocateObjectMemory(size);
}

void CRefCount::operator delete(void* block, size_t size) noexcept {
    FreeObjectMemory(block, size);
}

void CRefCount::operator delete(void* block, const std::nothrow_t&) noexcept {
    FreeObjectMemoryUnsized(block);
}
