#include "runtime/tracker.h"

#include <cstdlib>
#include <cstring>

#include "runtime/process.h"
#include "runtime/ref_count.h"
#include "runtime/reports.h"

namespace {

constexpr size_t kInitialSlots = 16;

uint64_t HashAddress(uintptr_t key) {
    uint64_t x = key;
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

}  // namespace

namespace {

// Holds a shard's critical section for the lifetime of the scope.
class CShardLock {
public:
    explicit CShardLock(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
    ~CShardLock() { LeaveCriticalSection(section_); }
    CShardLock(const CShardLock&) = delete;
    CShardLock& operator=(const CShardLock&) = delete;

private:
    CRITICAL_SECTION* section_;
};

}  // namespace

CTracker::CShard::~CShard() {
    std::free(slots_);
    DeleteCriticalSection(&section_);
}

size_t CTracker::CShard::Find(uintptr_t key, uint64_t hash) const {
    size_t i = hash & mask_;
    while (slots_[i] != 0 && slots_[i] != key) i = (i + 1) & mask_;
    return i;
}

bool CTracker::CShard::Contains(uintptr_t key, uint64_t hash) const {
    return slots_ != nullptr && slots_[Find(key, hash)] == key;
}

bool CTracker::CShard::Grow() {
    const size_t capacity = slots_ == nullptr ? kInitialSlots : (mask_ + 1) * 2;
    auto* grown = static_cast<uintptr_t*>(std::calloc(capacity, sizeof(uintptr_t)));
    if (grown == nullptr) return false;
    uintptr_t* old = slots_;
    const size_t oldCapacity = old == nullptr ? 0 : mask_ + 1;
    slots_ = grown;
    mask_ = capacity - 1;
    for (size_t i = 0; i < oldCapacity; ++i) {
        if (old[i] != 0) slots_[Find(old[i], HashAddress(old[i]))] = old[i];
    }
    std::free(old);
    return true;
}

bool CTracker::CShard::Insert(uintptr_t key, uint64_t hash) {
    if (Contains(key, hash)) return false;
    if ((size_ + 1) * 2 > (slots_ == nullptr ? 0 : mask_ + 1) && !Grow()) return false;
    slots_[Find(key, hash)] = key;
    ++size_;
    return true;
}

// Backward-shift deletion keeps every probe chain unbroken without tombstones.
bool CTracker::CShard::Erase(uintptr_t key, uint64_t hash) {
    if (!Contains(key, hash)) return false;
    size_t hole = Find(key, hash);
    for (size_t next = (hole + 1) & mask_; slots_[next] != 0; next = (next + 1) & mask_) {
        const size_t home = HashAddress(slots_[next]) & mask_;
        // Move the entry into the hole unless its home lies cyclically in (hole, next].
        const bool stays = hole <= next ? (hole < home && home <= next) : (hole < home || home <= next);
        if (!stays) {
            slots_[hole] = slots_[next];
            hole = next;
        }
    }
    slots_[hole] = 0;
    --size_;
    return true;
}

CTracker::CTracker() {
    className = "CTracker";
}

CTracker::~CTracker() = default;

bool CTracker::Track(const void* object, bool add) {
    if (object == nullptr) return false;
    const auto key = reinterpret_cast<uintptr_t>(object);
    const uint64_t hash = HashAddress(key);
    CShard& shard = shards_[hash >> (64 - kShardBits)];
    CShardLock hold(shard.Section());
    return add ? shard.Insert(key, hash) : shard.Erase(key, hash);
}

bool CTracker::IsKnown(const void* object) {
    if (object == nullptr) return false;
    const auto key = reinterpret_cast<uintptr_t>(object);
    const uint64_t hash = HashAddress(key);
    CShard& shard = shards_[hash >> (64 - kShardBits)];
    CShardLock hold(shard.Section());
    return shard.Contains(key, hash);
}

size_t CTracker::Count() {
    size_t total = 0;
    for (CShard& shard : shards_) {
        CShardLock hold(shard.Section());
        total += shard.Size();
    }
    return total;
}

bool TrackObject(const void* object, bool add) {
    CTracker* tracker = process::Tracker();
    return tracker != nullptr && tracker->Track(object, add);
}

bool IsKnownObject(const void* object) {
    CTracker* tracker = process::Tracker();
    return tracker != nullptr && tracker->IsKnown(object);
}

CRefCount* ResolveHandle(const void* handle) {
    if (IsKnownObject(handle)) return static_cast<CRefCount*>(const_cast<void*>(handle));
    if (handle != nullptr) ReportWarning("attempt to reference an unknown object at", handle);
    return nullptr;
}

bool CheckedAddRef(CRefCount* object) {
    if (IsKnownObject(object)) return object->AddRef() > 1;
    if (object != nullptr) ReportWarning("attempt to add a reference to an unknown object at", object);
    return false;
}

bool CheckedRelease(CRefCount* object) {
    if (IsKnownObject(object)) return object->Release() != 0;
    if (object != nullptr) ReportWarning("attempt to release an unknown object at", object);
    return false;
}
