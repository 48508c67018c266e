#include "runtime/ref_count.h"

#include "runtime/object_memory.h"
#include "runtime/process.h"
#include "runtime/tracer.h"
#include "runtime/tracker.h"

namespace {

// The block that this thread's last counted operator new took from a slab: the constructor
// that runs in it next learns so without asking the allocator. A block once in a slab stays
// one, so a value left by a constructor that never ran misleads no later one.
thread_local const void* newSlabBlock __attribute__((tls_model("initial-exec"))) = nullptr;

void* NewBlock(size_t size) noexcept {
    void* block = AllocateObjectMemory(size);
    if (kObjectSlabs && size <= kLargestSlabBlock) newSlabBlock = block;
    return block;
}

}  // namespace

CRefCount::CRefCount() : refCount_(1) {
    className_ = "CRefCount";
    if (CTracker* tracker = process::Tracker()) tracker->Enter(this, this == newSlabBlock);
}

CRefCount::~CRefCount() {
    if (CTracker* tracker = process::Tracker()) tracker->Leave(this);
}

void CRefCount::Describe(CTracer& out) {
    const unsigned count = RefCount();
    out.Printf("%p %s (%u)", static_cast<void*>(this), className_, count);
}

uint16_t CRefCount::AddRef() {
    return static_cast<uint16_t>(refCount_.fetch_add(1, std::memory_order_relaxed) + 1);
}

uint16_t CRefCount::Release() {
    // A count of 1 is the caller's own reference and no other party may change it: the last
    // release needs no atomic read-modify-write. The acquire load still orders every earlier
    // release by other threads before the destruction.
    uint16_t previous = refCount_.load(std::memory_order_acquire);
    if (previous == 1) {
        refCount_.store(0, std::memory_order_relaxed);
        OnFinalRelease();
        return 1;
    }
    do {
        if (previous == 0) return 0;
    } while (!refCount_.compare_exchange_weak(previous, static_cast<uint16_t>(previous - 1), std::memory_order_acq_rel,
                                              std::memory_order_relaxed));
    if (previous == 1) OnFinalRelease();
    return previous;
}

uint16_t CRefCount::DropRef() {
    return refCount_.fetch_sub(1, std::memory_order_acq_rel);
}

uint16_t CRefCount::RefCount() {
    return refCount_.load(std::memory_order_acquire);
}

void CCountable::OnFinalRelease() {
    delete this;
}

void* CRefCount::operator new(size_t size) {
    void* block = NewBlock(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void* CRefCount::operator new(size_t size, const std::nothrow_t&) noexcept {
    return NewBlock(size);
}

void CRefCount::operator delete(void* block, size_t size) noexcept {
    FreeObjectMemory(block, size);
}

void CRefCount::operator delete(void* block, const std::nothrow_t&) noexcept {
    FreeObjectMemoryUnsized(block);
}
