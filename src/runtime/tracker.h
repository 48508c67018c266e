// CTracker: the process-wide registry of live counted objects. A handle is only an address;
// the library follows it only after the tracker confirms that a counted object lives there.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "runtime/lockable.h"
#include "runtime/spin_lock.h"

class CRefCount;

// Objects that start a block of object memory are marked inside themselves: a stamp, their
// address mixed with this tracker's key, written when they enter and cleared when they leave.
// Entering, leaving and looking up such an object touch only its own memory, never a shared
// line, and a later tracker's different key makes every earlier stamp unknown to it. Every
// other object (on the stack, large, or made while slabs are off) goes into the shards.
class CTracker : public CLockable {
public:
    CTracker();
    // Discards the set without touching the objects in it.
    ~CTracker() override;

    // True when the set changed. A failed insertion (out of memory) leaves the set as it was.
    bool Track(const void* object, bool add);
    bool IsKnown(const void* object);
    // Track for a counted object's constructor and destructor. A constructor whose object is
    // known to start a slab block says so (inBlock); a destructor finds its own stamp. Neither
    // then asks the allocator about the address.
    bool Enter(const CRefCount* object, bool inBlock);
    bool Leave(const CRefCount* object);
    // IsKnown for an address that held a counted object: one this object's holder took a
    // reference to. Such memory stays readable in a slab block after the object is gone, so
    // the stamp there is read first.
    bool IsKnownHeld(const CRefCount* object);
    size_t Count();

private:
    // The stamp of the object at address: never 0, distinct per address and per tracker.
    uint64_t StampOf(uintptr_t address) const { return address ^ key_; }

    // Track for an object without a stamp; out of line, off the path of stamped objects.
    __attribute__((noinline)) bool TrackInShard(uintptr_t key, bool add);

    // Odd, and different for every tracker of the process.
    const uint64_t key_;

    // The set is split into shards by address hash, each an open-addressing table, so
    // creating and destroying objects on several threads rarely contends. Lookups are
    // constant time on average and never allocate.
    // One cache line at least per shard, so threads working in different shards do not
    // contend for the same line. Changes take the shard's spin lock (no per-lock bookkeeping:
    // no hold does more than probe a short chain). Lookups take no lock at all: see Contains.
    class alignas(64) CShard {
    public:
        CShard() = default;
        // Frees the table and every table it replaced.
        ~CShard();
        CShard(const CShard&) = delete;
        CShard& operator=(const CShard&) = delete;

        // Under the guard.
        bool Insert(uintptr_t key, uint64_t hash) REQUIRES(guard_);
        bool Erase(uintptr_t key, uint64_t hash) REQUIRES(guard_);
        // Without the guard, from any thread.
        bool Contains(uintptr_t key, uint64_t hash) const;
        size_t Size() const { return size_; }
        CSpinLock& Guard() RETURN_CAPABILITY(guard_) { return guard_; }

    private:
        // Linear probing over mask + 1 slots; 0 marks an empty slot; at most half full.
        // A table replaced by Grow is kept (linked through retired) until the shard goes, so
        // a lookup that raced with the replacement still probes live memory.
        struct CTable {
            CTable* retired;
            size_t mask;
            uintptr_t slots[];
        };

        static size_t Find(const CTable& table, uintptr_t key, uint64_t hash);
        bool Grow();
        // A change is bracketed by two increments of version_: odd while the table changes.
        void BeginChange();
        void EndChange();

        CSpinLock guard_;
        std::atomic<uint32_t> version_{0};
        std::atomic<CTable*> table_{nullptr};
        size_t size_ = 0;
    };

    static constexpr unsigned kShardBits = 6;
    CShard shards_[1u << kShardBits];
};

// The process-wide tracker's IsKnown; false without a tracker.
bool IsKnownObject(const void* object);
// The same for an object whose memory a live reference keeps (CTracker::IsKnownHeld): one that
// a holder took a reference to, or one just made.
bool IsKnownHeldObject(const CRefCount* object);

// The handle checks of the exported functions. For a null argument they return null or false
// without a warning; for an unknown non-null one they warn once and never dereference it.
CRefCount* ResolveHandle(const void* handle);
bool CheckedAddRef(CRefCount* object);
bool CheckedRelease(CRefCount* object);
// CheckedAddRef and CheckedRelease for a holder's own object (IsKnownHeldObject).
bool CheckedAddRefHeld(CRefCount* object);
bool CheckedReleaseHeld(CRefCount* object);
