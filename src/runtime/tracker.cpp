#include "runtime/tracker.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "runtime/object_memory.h"
#include "runtime/process.h"
#include "runtime/ref_count.h"
#include "runtime/reports.h"

namespace {

constexpr size_t kInitialSlots = 16;

// Fibonacci hashing: addresses are 16-byte aligned and often close together; the high bits of
// the product mix every address bit above them.
uint64_t HashAddress(uintptr_t key) {
    return static_cast<uint64_t>(key) * 0x9E3779B97F4A7C15ull;
}

// The shard of an address: by its 4 KiB page, so that the objects one thread makes from its own
// memory mostly share a few shards that other threads rarely touch, instead of every thread
// writing the lines of every shard.
size_t ShardOf(uintptr_t key, unsigned bits) {
    return static_cast<size_t>(HashAddress(key >> 12) >> (64 - bits));
}

size_t HomeSlot(uint64_t hash, size_t mask) {
    return static_cast<size_t>(hash >> 24) & mask;
}

// Slots are read by lookups while a change may write them, so every access is atomic
// (relaxed: the version counter orders them).
uintptr_t LoadSlot(const uintptr_t& slot) {
    return std::atomic_ref<const uintptr_t>(slot).load(std::memory_order_relaxed);
}

void StoreSlot(uintptr_t& slot, uintptr_t value) {
    std::atomic_ref<uintptr_t>(slot).store(value, std::memory_order_relaxed);
}

// Trackers made so far in this process; each key derives from its own number.
std::atomic<uint64_t> trackersMade{0};

// Whether the object is marked by a stamp: it starts a block that can hold a counted object.
bool IsStamped(const void* object) {
    return ObjectBlockBytes(object) >= sizeof(CRefCount);
}

}  // namespace

CTracker::CShard::~CShard() {
    for (CTable* table = table_.load(std::memory_order_relaxed); table != nullptr;) {
        CTable* retired = table->retired;
        std::free(table);
        table = retired;
    }
}

void CTracker::CShard::BeginChange() {
    version_.store(version_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
}

void CTracker::CShard::EndChange() {
    version_.store(version_.load(std::memory_order_relaxed) + 1, std::memory_order_release);
}

size_t CTracker::CShard::Find(const CTable& table, uintptr_t key, uint64_t hash) {
    size_t i = HomeSlot(hash, table.mask);
    while (table.slots[i] != 0 && table.slots[i] != key) i = (i + 1) & table.mask;
    return i;
}

// A seqlock read: probe, then accept the answer only if no change began or ended meanwhile.
// A probe that meets a change in progress may see moved entries, so it is bounded by the
// table size and its answer is discarded.
bool CTracker::CShard::Contains(uintptr_t key, uint64_t hash) const {
    for (unsigned attempt = 0;; ++attempt) {
        const uint32_t before = version_.load(std::memory_order_acquire);
        if ((before & 1) != 0) {
            if (attempt < 64) {
                __builtin_ia32_pause();
            } else {
                std::this_thread::yield();
            }
            continue;
        }
        const CTable* table = table_.load(std::memory_order_acquire);
        bool found = false;
        if (table != nullptr) {
            size_t i = HomeSlot(hash, table->mask);
            for (size_t probes = 0; probes <= table->mask; ++probes, i = (i + 1) & table->mask) {
                const uintptr_t slot = LoadSlot(table->slots[i]);
                if (slot == 0) break;
                if (slot == key) {
                    found = true;
                    break;
                }
            }
        }
        std::atomic_thread_fence(std::memory_order_acquire);
        if (version_.load(std::memory_order_relaxed) == before) return found;
    }
}

bool CTracker::CShard::Grow() {
    CTable* old = table_.load(std::memory_order_relaxed);
    const size_t capacity = old == nullptr ? kInitialSlots : (old->mask + 1) * 2;
    auto* grown = static_cast<CTable*>(std::calloc(1, sizeof(CTable) + capacity * sizeof(uintptr_t)));
    if (grown == nullptr) return false;
    grown->retired = old;
    grown->mask = capacity - 1;
    if (old != nullptr) {
        for (size_t i = 0; i <= old->mask; ++i) {
            const uintptr_t key = old->slots[i];
            if (key != 0) grown->slots[Find(*grown, key, HashAddress(key))] = key;
        }
    }
    table_.store(grown, std::memory_order_release);
    return true;
}

bool CTracker::CShard::Insert(uintptr_t key, uint64_t hash) {
    CTable* table = table_.load(std::memory_order_relaxed);
    if (table == nullptr || size_ * 2 + 2 > table->mask + 1) {
        if (Contains(key, hash) || !Grow()) return false;
        table = table_.load(std::memory_order_relaxed);
    }
    const size_t slot = Find(*table, key, hash);
    if (table->slots[slot] == key) return false;
    BeginChange();
    StoreSlot(table->slots[slot], key);
    EndChange();
    ++size_;
    return true;
}

// Backward-shift deletion keeps every probe chain unbroken without tombstones.
bool CTracker::CShard::Erase(uintptr_t key, uint64_t hash) {
    CTable* table = table_.load(std::memory_order_relaxed);
    if (table == nullptr) return false;
    size_t hole = Find(*table, key, hash);
    if (table->slots[hole] != key) return false;
    const size_t mask = table->mask;
    BeginChange();
    for (size_t next = (hole + 1) & mask; table->slots[next] != 0; next = (next + 1) & mask) {
        const size_t home = HomeSlot(HashAddress(table->slots[next]), mask);
        // Move the entry into the hole unless its home lies cyclically in (hole, next].
        const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!stays) {
            StoreSlot(table->slots[hole], table->slots[next]);
            hole = next;
        }
    }
    StoreSlot(table->slots[hole], 0);
    EndChange();
    --size_;
    return true;
}

CTracker::CTracker() : key_((trackersMade.fetch_add(1, std::memory_order_relaxed) + 1) * 0x9E3779B97F4A7C15ull | 1) {
    className_ = "CTracker";
}

CTracker::~CTracker() = default;

bool CTracker::Track(const void* object, bool add) {
    if (object == nullptr) return false;
    const auto key = reinterpret_cast<uintptr_t>(object);
    if (IsStamped(object)) {
        std::atomic<uint64_t>& stamp = CRefCount::TrackStampAt(object);
        const uint64_t mark = StampOf(key);
        const bool known = stamp.load(std::memory_order_relaxed) == mark;
        stamp.store(add ? mark : 0, std::memory_order_release);
        return known != add;
    }
    return TrackInShard(key, add);
}

bool CTracker::Enter(const CRefCount* object, bool inBlock) {
    if (!inBlock) return Track(object, true);
    CRefCount::TrackStampAt(object).store(StampOf(reinterpret_cast<uintptr_t>(object)), std::memory_order_release);
    return true;
}

// A live object's stamp is its own memory: equal to this tracker's mark only when stamped here.
bool CTracker::Leave(const CRefCount* object) {
    std::atomic<uint64_t>& stamp = CRefCount::TrackStampAt(object);
    if (stamp.load(std::memory_order_relaxed) != StampOf(reinterpret_cast<uintptr_t>(object))) {
        return Track(object, false);
    }
    stamp.store(0, std::memory_order_release);
    return true;
}

bool CTracker::IsKnownHeld(const CRefCount* object) {
    if (kObjectSlabs && object != nullptr &&
        CRefCount::TrackStampAt(object).load(std::memory_order_acquire) ==
            StampOf(reinterpret_cast<uintptr_t>(object))) {
        return true;
    }
    return IsKnown(object);
}

bool CTracker::TrackInShard(uintptr_t key, bool add) {
    const uint64_t hash = HashAddress(key);
    CShard& shard = shards_[ShardOf(key, kShardBits)];
    CSpinHold hold(shard.Guard());
    return add ? shard.Insert(key, hash) : shard.Erase(key, hash);
}

bool CTracker::IsKnown(const void* object) {
    if (object == nullptr) return false;
    const auto key = reinterpret_cast<uintptr_t>(object);
    if (IsStamped(object)) return CRefCount::TrackStampAt(object).load(std::memory_order_acquire) == StampOf(key);
    const uint64_t hash = HashAddress(key);
    return shards_[ShardOf(key, kShardBits)].Contains(key, hash);
}

size_t CTracker::Count() {
    size_t total = 0;
    for (CShard& shard : shards_) {
        CSpinHold hold(shard.Guard());
        total += shard.Size();
    }
    struct CStampCount {
        const CTracker* tracker;
        size_t count;
    } stamped{this, 0};
    VisitObjectBlocks(
        [](const void* block, size_t bytes, void* context) {
            auto* counting = static_cast<CStampCount*>(context);
            if (bytes < sizeof(CRefCount)) return;
            const uint64_t stamp = CRefCount::TrackStampAt(block).load(std::memory_order_relaxed);
            if (stamp == counting->tracker->StampOf(reinterpret_cast<uintptr_t>(block))) ++counting->count;
        },
        &stamped);
    return total + stamped.count;
}

bool IsKnownObject(const void* object) {
    CTracker* tracker = process::Tracker();
    return tracker != nullptr && tracker->IsKnown(object);
}

bool IsKnownHeldObject(const CRefCount* object) {
    CTracker* tracker = process::Tracker();
    return tracker != nullptr && tracker->IsKnownHeld(object);
}

CRefCount* ResolveHandle(const void* handle) {
    if (IsKnownObject(handle)) return static_cast<CRefCount*>(const_cast<void*>(handle));
    if (handle != nullptr) ReportWarning("attempt to reference an unknown object at", handle);
    return nullptr;
}

namespace {

// Adds a reference when the tracker knows the object (`known`); warns about any other.
bool AddRefKnown(CRefCount* object, bool known) {
    if (known) return object->AddRef() > 1;
    if (object != nullptr) ReportWarning("attempt to add a reference to an unknown object at", object);
    return false;
}

// Releases the object when the tracker knows it (`known`); warns about any other.
bool ReleaseKnown(CRefCount* object, bool known) {
    if (known) return object->Release() != 0;
    if (object != nullptr) ReportWarning("attempt to release an unknown object at", object);
    return false;
}

}  // namespace

bool CheckedAddRef(CRefCount* object) {
    return AddRefKnown(object, IsKnownObject(object));
}

bool CheckedAddRefHeld(CRefCount* object) {
    return AddRefKnown(object, IsKnownHeldObject(object));
}

bool CheckedRelease(CRefCount* object) {
    return ReleaseKnown(object, IsKnownObject(object));
}

bool CheckedReleaseHeld(CRefCount* object) {
    return ReleaseKnown(object, IsKnownHeldObject(object));
}
