#include "runtime/object_memory.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/mutex.h"

#ifdef MBUS_PLAIN_OBJECT_MEMORY

void* AllocateObjectMemory(size_t size) noexcept {
    return std::malloc(size == 0 ? 1 : size);
}

void FreeObjectMemory(void* block, size_t) noexcept {
    std::free(block);
}

void FreeObjectMemoryUnsized(void* block) noexcept {
    std::free(block);
}

size_t ObjectBlockBytes(const void*) noexcept {
    return 0;
}

void VisitObjectBlocks(void (*)(const void*, size_t, void*), void*) {}

#else

namespace {

// Size classes of 16 bytes from 32 up to kLargestCached; larger objects go straight to malloc.
// A free block links its list through its first words, so no block is smaller than a
// CFreeBlock.
constexpr size_t kGranule = 16;
constexpr size_t kSmallest = 32;
constexpr size_t kLargestCached = kLargestSlabBlock;
constexpr size_t kClasses = kLargestCached / kGranule;

// A thread keeps at most this many bytes of each class. A thread whose cache of a class is
// full hands the whole list over to the depot, where a thread whose cache ran empty takes it:
// blocks freed by one thread (a receiver dropping messages) serve another (the thread that
// decodes them). Only when the depot is empty too is a new slab made.
constexpr size_t kBytesPerClass = 32 * 1024;

// Slabs: kSlabBytes aligned to kSlabBytes, a CSlab header, then blockCount blocks.
constexpr unsigned kSlabShift = 15;
constexpr uintptr_t kSlabBytes = uintptr_t{1} << kSlabShift;
constexpr size_t kHeaderBytes = 16;

struct CSlab {
    uint32_t blockBytes;
    uint32_t blockCount;
    // ceil(2^32 / blockBytes): offset * reciprocal >> 32 is offset / blockBytes for every
    // offset below kSlabBytes (the rounding error stays under 1 / blockBytes).
    uint32_t reciprocal;
    uint32_t reserved;
};
static_assert(sizeof(CSlab) == kHeaderBytes);

// Blocks in a cache list link the next block; the first block of a list in the depot also
// links the next list and carries the length of its own.
struct CFreeBlock {
    CFreeBlock* next;
    CFreeBlock* nextList;
    uint32_t count;
};
static_assert(sizeof(CFreeBlock) <= kSmallest);

// Which kSlabBytes units of the address space are slabs: a bit per unit, in leaves of 4 GiB
// under a root of the 48-bit user address space. Leaves are made on first use and kept for
// the life of the process; bits are only ever set. A lookup is two loads and a bit test.
constexpr unsigned kLeafShift = 32;
constexpr unsigned kAddressBits = 48;
constexpr size_t kLeafUnits = size_t{1} << (kLeafShift - kSlabShift);

struct CSlabLeaf {
    std::atomic<uint64_t> words[kLeafUnits / 64];
};

std::atomic<CSlabLeaf*> slabRoot[size_t{1} << (kAddressBits - kLeafShift)];

const CSlab* SlabOf(uintptr_t address) noexcept {
    if ((address >> kAddressBits) != 0) return nullptr;
    const CSlabLeaf* leaf = slabRoot[address >> kLeafShift].load(std::memory_order_acquire);
    if (leaf == nullptr) return nullptr;
    const size_t unit = (address >> kSlabShift) & (kLeafUnits - 1);
    const uint64_t word = leaf->words[unit / 64].load(std::memory_order_acquire);
    if (((word >> (unit % 64)) & 1) == 0) return nullptr;
    return reinterpret_cast<const CSlab*>(address & ~(kSlabBytes - 1));
}

// Publishes a slab whose header is complete; false when no leaf could be made.
bool RegisterSlab(uintptr_t address) noexcept {
    std::atomic<CSlabLeaf*>& slot = slabRoot[address >> kLeafShift];
    CSlabLeaf* leaf = slot.load(std::memory_order_acquire);
    if (leaf == nullptr) {
        auto* made = static_cast<CSlabLeaf*>(std::calloc(1, sizeof(CSlabLeaf)));
        if (made == nullptr) return false;
        if (slot.compare_exchange_strong(leaf, made, std::memory_order_acq_rel)) {
            leaf = made;
        } else {
            std::free(made);
        }
    }
    const size_t unit = (address >> kSlabShift) & (kLeafUnits - 1);
    leaf->words[unit / 64].fetch_or(uint64_t{1} << (unit % 64), std::memory_order_release);
    return true;
}

constexpr size_t ClassBytes(size_t c) noexcept {
    return (c + 1) * kGranule;
}

size_t ClassOf(size_t size) noexcept {
    return ((size < kSmallest ? kSmallest : size) - 1) / kGranule;
}

// One thread's cached blocks: a free list and its length per size class.
struct CBlockCache {
    CFreeBlock* heads[kClasses];
    uint32_t counts[kClasses];
};

CMutex depotLock;

// Whole lists by class, guarded by depotLock. The counts are also read without the lock, so
// that an allocation that finds the depot empty does not take the lock to learn it.
struct CDepot {
    CFreeBlock* lists[kClasses] GUARDED_BY(depotLock);
    std::atomic<uint32_t> counts[kClasses];
};

CDepot depot;

void DepositList(size_t c, CFreeBlock* list, uint32_t count) noexcept {
    if (list == nullptr) return;
    CMutexHold hold(depotLock);
    list->count = count;
    list->nextList = depot.lists[c];
    depot.lists[c] = list;
    depot.counts[c].store(depot.counts[c].load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// A list of class c from the depot (its length in *count), or null.
CFreeBlock* WithdrawList(size_t c, uint32_t* count) noexcept {
    if (depot.counts[c].load(std::memory_order_relaxed) == 0) return nullptr;
    CMutexHold hold(depotLock);
    CFreeBlock* list = depot.lists[c];
    if (list == nullptr) return nullptr;
    depot.lists[c] = list->nextList;
    depot.counts[c].store(depot.counts[c].load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    *count = list->count;
    return list;
}

// A new zeroed slab of class c as one list (its length in *count), or null.
CFreeBlock* NewSlab(size_t c, uint32_t* count) noexcept {
    void* memory = std::aligned_alloc(kSlabBytes, kSlabBytes);
    if (memory == nullptr) return nullptr;
    std::memset(memory, 0, kSlabBytes);
    auto* slab = static_cast<CSlab*>(memory);
    const auto blockBytes = static_cast<uint32_t>(ClassBytes(c));
    slab->blockBytes = blockBytes;
    slab->blockCount = static_cast<uint32_t>((kSlabBytes - kHeaderBytes) / blockBytes);
    slab->reciprocal = static_cast<uint32_t>(((uint64_t{1} << 32) + blockBytes - 1) / blockBytes);
    if (!RegisterSlab(reinterpret_cast<uintptr_t>(memory))) {
        std::free(memory);
        return nullptr;
    }
    char* first = static_cast<char*>(memory) + kHeaderBytes;
    CFreeBlock* list = nullptr;
    for (uint32_t i = slab->blockCount; i-- > 0;) {
        auto* block = reinterpret_cast<CFreeBlock*>(first + size_t{i} * blockBytes);
        block->next = list;
        list = block;
    }
    *count = slab->blockCount;
    return list;
}

// The calling thread's cache, made on its first use. Initial-exec keeps the read one
// instruction; the cache itself lives on the heap so the static TLS stays one pointer.
thread_local CBlockCache* threadCache __attribute__((tls_model("initial-exec"))) = nullptr;

// Marks a thread whose cache was released as it ends: its last frees go to the depot one
// block at a time.
CBlockCache endedCache;

// Hands the thread's cached lists to the depot when the thread ends.
struct CCacheRelease {
    ~CCacheRelease() {
        CBlockCache* cache = threadCache;
        threadCache = &endedCache;
        if (cache == nullptr || cache == &endedCache) return;
        for (size_t c = 0; c < kClasses; ++c) DepositList(c, cache->heads[c], cache->counts[c]);
        std::free(cache);
    }
};

// The calling thread's cache, made on first use; null when there is none to be had.
CBlockCache* ThreadCache() noexcept {
    if (threadCache != nullptr) return threadCache;
    auto* cache = static_cast<CBlockCache*>(std::calloc(1, sizeof(CBlockCache)));
    if (cache == nullptr) return nullptr;
    static thread_local CCacheRelease release;
    (void)release;
    threadCache = cache;
    return cache;
}

// Puts a freed block at the head of the cache's list of class c.
void Push(CBlockCache& cache, size_t c, CFreeBlock* block) noexcept {
    block->next = cache.heads[c];
    cache.heads[c] = block;
    ++cache.counts[c];
}

// How many blocks of each class a cache keeps before it hands its list to the depot.
constexpr auto kClassLimits = [] {
    std::array<uint32_t, kClasses> limits{};
    for (size_t c = 0; c < kClasses; ++c) limits[c] = static_cast<uint32_t>(kBytesPerClass / ClassBytes(c));
    return limits;
}();

// The slow paths, kept out of line so that the common case stays a few instructions.

// Gives the thread's cache a list of class c from the depot or a new slab. A thread without
// a cache gets one block of such a list and deposits the rest. Null when nothing can be had.
__attribute__((noinline)) void* AllocateSlowly(size_t c) noexcept {
    uint32_t count = 0;
    CFreeBlock* list = WithdrawList(c, &count);
    if (list == nullptr) list = NewSlab(c, &count);
    if (list == nullptr) return nullptr;
    CBlockCache* cache = ThreadCache();
    if (cache == nullptr || cache == &endedCache) {
        if (list->next != nullptr) DepositList(c, list->next, count - 1);
        return list;
    }
    cache->heads[c] = list->next;
    cache->counts[c] = count - 1;
    return list;
}

// Frees a block that the thread's cache cannot take as it is: makes the cache, or moves the
// full list to the depot first.
__attribute__((noinline)) void FreeSlowly(void* block, size_t c) noexcept {
    auto* link = static_cast<CFreeBlock*>(block);
    CBlockCache* cache = ThreadCache();
    if (cache == nullptr || cache == &endedCache) {
        link->next = nullptr;
        return DepositList(c, link, 1);
    }
    if (cache->counts[c] >= kClassLimits[c]) {
        DepositList(c, cache->heads[c], cache->counts[c]);
        cache->heads[c] = nullptr;
        cache->counts[c] = 0;
    }
    Push(*cache, c, link);
}

}  // namespace

void* AllocateObjectMemory(size_t size) noexcept {
    if (size > kLargestCached) return std::malloc(size);
    const size_t c = ClassOf(size);
    CBlockCache* cache = threadCache;
    if (cache == nullptr || cache->heads[c] == nullptr) return AllocateSlowly(c);
    CFreeBlock* block = cache->heads[c];
    cache->heads[c] = block->next;
    --cache->counts[c];
    return block;
}

void FreeObjectMemory(void* block, size_t size) noexcept {
    if (block == nullptr) return;
    if (size > kLargestCached) return std::free(block);
    const size_t c = ClassOf(size);
    CBlockCache* cache = threadCache;
    if (cache == nullptr || cache == &endedCache || cache->counts[c] >= kClassLimits[c]) {
        return FreeSlowly(block, c);
    }
    Push(*cache, c, static_cast<CFreeBlock*>(block));
}

void FreeObjectMemoryUnsized(void* block) noexcept {
    const CSlab* slab = SlabOf(reinterpret_cast<uintptr_t>(block));
    if (slab == nullptr) return std::free(block);
    FreeObjectMemory(block, slab->blockBytes);
}

size_t ObjectBlockBytes(const void* address) noexcept {
    const auto at = reinterpret_cast<uintptr_t>(address);
    const CSlab* slab = SlabOf(at);
    if (slab == nullptr) return 0;
    const uintptr_t offset = at - reinterpret_cast<uintptr_t>(slab);
    if (offset < kHeaderBytes) return 0;
    const auto inBlocks = static_cast<uint32_t>(offset - kHeaderBytes);
    const auto index = static_cast<uint32_t>((uint64_t{inBlocks} * slab->reciprocal) >> 32);
    return index < slab->blockCount && index * slab->blockBytes == inBlocks ? slab->blockBytes : 0;
}

void VisitObjectBlocks(void (*visit)(const void* block, size_t bytes, void* context), void* context) {
    for (std::atomic<CSlabLeaf*>& slot : slabRoot) {
        const CSlabLeaf* leaf = slot.load(std::memory_order_acquire);
        if (leaf == nullptr) continue;
        for (size_t w = 0; w < kLeafUnits / 64; ++w) {
            for (uint64_t bits = leaf->words[w].load(std::memory_order_acquire); bits != 0; bits &= bits - 1) {
                const uintptr_t unit = (uintptr_t{w} * 64 + static_cast<unsigned>(__builtin_ctzll(bits)));
                const uintptr_t base = ((&slot - slabRoot) << kLeafShift) | (unit << kSlabShift);
                const auto* slab = reinterpret_cast<const CSlab*>(base);
                const char* first = reinterpret_cast<const char*>(base) + kHeaderBytes;
                for (uint32_t i = 0; i < slab->blockCount; ++i)
                    visit(first + size_t{i} * slab->blockBytes, slab->blockBytes, context);
            }
        }
    }
}

#endif
