// CTracker: the process-wide registry of live counted objects. A handle is only an address;
// the library follows it only after the tracker confirms that a counted object lives there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/lockable.h"

class CRefCount;

class CTracker : public CLockable {
public:
    CTracker();
    // Discards the set without touching the objects in it.
    ~CTracker() override;

    // True when the set changed. A failed insertion (out of memory) leaves the set as it was.
    bool Track(const void* object, bool add);
    bool IsKnown(const void* object);
    size_t Count();

private:
    // The set is split into shards by address hash, each an open-addressing table with its
    // own lock, so creating and destroying objects on several threads rarely contends.
    // Lookups are constant time on average and never allocate.
    // One cache line at least per shard, so threads working in different shards do not
    // contend for the same line. A shard is locked with a bare critical section, without the
    // per-lock bookkeeping of CLockable: every object ever made passes through here twice.
    class alignas(64) CShard {
    public:
        CShard() { InitializeCriticalSection(&section_); }
        ~CShard();
        CShard(const CShard&) = delete;
        CShard& operator=(const CShard&) = delete;

        bool Insert(uintptr_t key, uint64_t hash);
        bool Erase(uintptr_t key, uint64_t hash);
        bool Contains(uintptr_t key, uint64_t hash) const;
        size_t Size() const { return size_; }
        CRITICAL_SECTION* Section() { return &section_; }

    private:
        size_t Find(uintptr_t key, uint64_t hash) const;
        bool Grow();
        CRITICAL_SECTION section_;
        // Linear probing; 0 marks an empty slot; the table is at most half full.
        uintptr_t* slots_ = nullptr;
        size_t mask_ = 0;
        size_t size_ = 0;
    };

    static constexpr unsigned kShardBits = 6;
    CShard shards_[1u << kShardBits];
};

// The process-wide tracker pointer operations. Each is a no-op (or false) without a tracker.
bool TrackObject(const void* object, bool add);
bool IsKnownObject(const void* object);

// The handle checks of the exported functions. For a null argument they return null or false
// without a warning; for an unknown non-null one they warn once and never dereference it.
CRefCount* ResolveHandle(const void* handle);
bool CheckedAddRef(CRefCount* object);
bool CheckedRelease(CRefCount* object);
