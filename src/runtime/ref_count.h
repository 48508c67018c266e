// CRefCount: a lockable object with a 16-bit reference count that enters the process-wide
// tracker for its lifetime. CCountable: a CRefCount that destroys itself at count zero.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "runtime/lockable.h"
#include "runtime/tracker.h"

class CRefCount : public CLockable {
public:
    // Registers the object with the tracker as the last step; 1 reference.
    CRefCount();
    // Leaves the tracker before the lock is deleted.
    ~CRefCount() override;

    // "%p %s (%u)": address, class name and the count.
    void Describe(CTracer& out) override;
    // Called by Release when the count reaches zero.
    virtual void OnFinalRelease() {}

    // The count is one atomic word: every change is exact under any concurrency, costs one
    // atomic instruction, and never waits for a caller holding the object's lock.
    // Returns the new count. The count wraps at 65535.
    uint16_t AddRef();
    // Returns the previous count. A count already at zero stays zero and nothing is destroyed.
    uint16_t Release();
    // Returns the previous count; never destroys. For objects whose storage the caller owns.
    uint16_t DropRef();

    uint16_t RefCount();

    // Counted objects live in the per-thread block caches of object_memory.h.
    static void* operator new(size_t size);
    static void* operator new(size_t size, const std::nothrow_t&) noexcept;
    static void operator delete(void* block, size_t size) noexcept;
    static void operator delete(void* block, const std::nothrow_t&) noexcept;

    // The tracker's mark inside an object that starts a block of object memory (tracker.cpp),
    // found from the block's address alone. Every counted class derives from CRefCount alone,
    // so such an object and its CRefCount share their first byte.
    static std::atomic<uint64_t>& TrackStampAt(const void* block);
    // Where that mark lies from the start of the block. Arrays in object memory keep bytes a
    // caller chooses away from this place (object_memory.h).
    static constexpr size_t StampOffset();

protected:
    std::atomic<uint16_t> refCount_;

private:
    // Nonzero exactly while the tracker that made it knows the object (set and cleared by it).
    std::atomic<uint64_t> trackStamp_{0};
};

constexpr size_t CRefCount::StampOffset() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    return offsetof(CRefCount, trackStamp_);
#pragma GCC diagnostic pop
}

// The stamp lies beyond the words a free block uses for its links, so freeing a block never
// forges one.
inline std::atomic<uint64_t>& CRefCount::TrackStampAt(const void* block) {
    static_assert(StampOffset() >= 3 * sizeof(void*));
    char* bytes = const_cast<char*>(static_cast<const char*>(block));
    return *reinterpret_cast<std::atomic<uint64_t>*>(bytes + StampOffset());
}

class CCountable : public CRefCount {
public:
    CCountable() { className_ = "CCountable"; }
    void OnFinalRelease() override;
};

// How a holder counts: plainly, or through the tracker's handle checks (CheckedAddRef,
// CheckedRelease). The checked way is for objects that a caller can release through a handle
// (sinks, sources, items): a caller that releases one too often then makes the holder's last
// release a warning, not a use of freed memory.
struct CPlainCount {
    static bool Add(CRefCount* object) {
        object->AddRef();
        return true;
    }
    static void Drop(CRefCount* object) { object->Release(); }
};
struct CCheckedCount {
    static bool Add(CRefCount* object) { return CheckedAddRef(object); }
    static void Drop(CRefCount* object) { CheckedRelease(object); }
};
// The checked way for holders of objects that always live in slab blocks when made with new
// (item nodes): the holder's own release reads the object's stamp first (CheckedReleaseHeld).
struct CHeldCount {
    static bool Add(CRefCount* object) { return CheckedAddRef(object); }
    static void Drop(CRefCount* object) { CheckedReleaseHeld(object); }
};

// Owns one counted reference: releases it when the holder goes. Adopt() takes over a reference
// the caller already holds (a creating call's first reference); Share() adds one, and gives an
// empty holder for null or, counted the checked way, for an object the tracker does not know.
template <class T, class Count = CPlainCount>
class CRef {
public:
    CRef() = default;
    static CRef Adopt(T* object) { return CRef(object); }
    static CRef Share(T* object) { return object != nullptr && Count::Add(object) ? CRef(object) : CRef(); }
    CRef(CRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    // Takes over the reference of a holder of a derived class, however that one counted it.
    template <class U, class UCount>
    CRef(CRef<U, UCount>&& other) noexcept : object_(other.Detach()) {}
    CRef& operator=(CRef&& other) noexcept {
        if (this != &other) Reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    CRef(const CRef&) = delete;
    CRef& operator=(const CRef&) = delete;
    ~CRef() { Reset(); }

    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    T& operator*() const { return *object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller.
    T* Detach() { return std::exchange(object_, nullptr); }
    void Reset(T* object = nullptr) {
        T* old = std::exchange(object_, object);
        if (old != nullptr) Count::Drop(old);
    }
    // Another holder of the same object, with a reference of its own.
    CRef Clone() const { return Share(object_); }

private:
    explicit CRef(T* object) : object_(object) {}
    T* object_ = nullptr;
};

template <class T>
using CCheckedRef = CRef<T, CCheckedCount>;
template <class T>
using CHeldRef = CRef<T, CHeldCount>;
