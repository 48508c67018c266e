#include "runtime/object_memory.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include <sanitizer/asan_interface.h>

namespace {

// Size classes of 16 bytes up to kLargestCached; larger objects go straight to malloc.
constexpr size_t kGranule = 16;
constexpr size_t kLargestCached = 256;
constexpr size_t kClasses = kLargestCached / kGranule;
// A thread keeps at most this many bytes of each class. A thread whose cache of a class is
// full hands the whole list over to the depot, where a thread whose cache ran empty takes it:
// blocks freed by one thread (a receiver dropping messages) serve another (the thread that
// decodes them) without the general allocator. The depot keeps at most kDepotBytesPerClass.
constexpr size_t kBytesPerClass = 32 * 1024;
constexpr size_t kDepotBytesPerClass = 2 * 1024 * 1024;

// Blocks of at least 16 bytes: the next block of a list, and in the depot, the first block of
// a list also links the next list. Under AddressSanitizer the rest of a cached block is
// poisoned; the links stay readable so that the leak checker still sees every cached block.
struct CFreeBlock {
    CFreeBlock* next;
    CFreeBlock* nextList;
};

// One thread's cached blocks: a free list and its length per size class. Every block came
// from malloc with its class's full size, so any block can also go back to free directly.
struct CBlockCache {
    CFreeBlock* heads[kClasses];
    uint32_t counts[kClasses];
    // Neighbours in the list of every thread's cache.
    CBlockCache* previous;
    CBlockCache* next;
};

// Every live cache is linked here, so cached blocks stay reachable for leak checkers while
// their thread is ending or after it was cut off by the process exit.
std::mutex cachesLock;
CBlockCache* caches = nullptr;

void Link(CBlockCache* cache) {
    std::lock_guard<std::mutex> hold(cachesLock);
    cache->next = caches;
    if (caches != nullptr) caches->previous = cache;
    caches = cache;
}

void Unlink(CBlockCache* cache) {
    std::lock_guard<std::mutex> hold(cachesLock);
    if (cache->previous != nullptr) cache->previous->next = cache->next;
    if (cache->next != nullptr) cache->next->previous = cache->previous;
    if (caches == cache) caches = cache->next;
}

// Whole cache lists by class, guarded by depotLock. The counts are also read without the lock,
// so that an allocation that finds the depot empty does not take the lock to learn it.
struct CDepot {
    CFreeBlock* lists[kClasses];
    std::atomic<uint32_t> counts[kClasses];
};

std::mutex depotLock;
CDepot depot;

constexpr size_t ClassBytes(size_t c) noexcept {
    return (c + 1) * kGranule;
}

// How many blocks of each class a cache keeps, and how many full lists the depot keeps.
constexpr auto kClassLimits = [] {
    std::array<uint32_t, kClasses> limits{};
    for (size_t c = 0; c < kClasses; ++c) limits[c] = static_cast<uint32_t>(kBytesPerClass / ClassBytes(c));
    return limits;
}();
constexpr uint32_t kDepotLists = kDepotBytesPerClass / kBytesPerClass;

// Hands a full list of class c to the depot; false when the depot is full.
bool DepositList(size_t c, CFreeBlock* list) noexcept {
    std::lock_guard<std::mutex> hold(depotLock);
    const uint32_t count = depot.counts[c].load(std::memory_order_relaxed);
    if (count >= kDepotLists) return false;
    list->nextList = depot.lists[c];
    depot.lists[c] = list;
    depot.counts[c].store(count + 1, std::memory_order_relaxed);
    return true;
}

// A full list of class c from the depot, or null.
CFreeBlock* WithdrawList(size_t c) noexcept {
    if (depot.counts[c].load(std::memory_order_relaxed) == 0) return nullptr;
    std::lock_guard<std::mutex> hold(depotLock);
    CFreeBlock* list = depot.lists[c];
    if (list == nullptr) return nullptr;
    depot.lists[c] = list->nextList;
    depot.counts[c].store(depot.counts[c].load(std::memory_order_relaxed) - 1, std::memory_order_relaxed);
    return list;
}

// The calling thread's cache, made on its first free. Initial-exec keeps the read one
// instruction; the cache itself lives on the heap so the static TLS stays one pointer.
thread_local CBlockCache* threadCache __attribute__((tls_model("initial-exec"))) = nullptr;

// Marks a thread whose cache was released as it ends: its last frees go straight back to
// the allocator.
CBlockCache endedCache;

void FreeList(CFreeBlock* list) noexcept {
    while (list != nullptr) {
        CFreeBlock* next = list->next;
        std::free(list);
        list = next;
    }
}

void ReleaseCache(CBlockCache* cache) noexcept {
    Unlink(cache);
    for (CFreeBlock* list : cache->heads) FreeList(list);
    std::free(cache);
}

// Gives the thread's cache back when the thread ends.
struct CCacheRelease {
    ~CCacheRelease() {
        if (threadCache != nullptr && threadCache != &endedCache) ReleaseCache(threadCache);
        threadCache = &endedCache;
    }
};

// The calling thread's cache, made on first use; null when there is none to be had.
CBlockCache* ThreadCache() noexcept {
    if (threadCache != nullptr) return threadCache;
    auto* cache = static_cast<CBlockCache*>(std::calloc(1, sizeof(CBlockCache)));
    if (cache == nullptr) return nullptr;
    static thread_local CCacheRelease release;
    (void)release;
    Link(cache);
    threadCache = cache;
    return cache;
}

size_t ClassOf(size_t size) noexcept {
    return (size - 1) / kGranule;
}

}  // namespace

// The slow paths, kept out of line so that the common case stays a few instructions.
namespace {

// Gives the thread's cache a list of class c from the depot; false when there is none.
__attribute__((noinline)) bool Refill(size_t c) noexcept {
    CBlockCache* cache = ThreadCache();
    if (cache == nullptr || cache == &endedCache) return false;
    cache->heads[c] = WithdrawList(c);
    if (cache->heads[c] == nullptr) return false;
    cache->counts[c] = kClassLimits[c];
    return true;
}

// Frees a block that the thread's cache cannot take as it is: makes the cache, or moves the
// full list to the depot first.
__attribute__((noinline)) void FreeSlowly(void* block, size_t size) noexcept {
    CBlockCache* cache = size == 0 || size > kLargestCached ? nullptr : ThreadCache();
    if (cache == nullptr || cache == &endedCache) return std::free(block);
    const size_t c = ClassOf(size);
    if (cache->counts[c] >= kClassLimits[c]) {
        // A full depot takes nothing: the list goes back to the allocator at once, so that
        // the next frees of this class find room again instead of each trying the depot.
        if (!DepositList(c, cache->heads[c])) FreeList(cache->heads[c]);
        cache->heads[c] = nullptr;
        cache->counts[c] = 0;
    }
    FreeObjectMemory(block, size);
}

}  // namespace

void* AllocateObjectMemory(size_t size) noexcept {
    if (size == 0 || size > kLargestCached) return std::malloc(size == 0 ? 1 : size);
    const size_t c = ClassOf(size);
    CBlockCache* cache = threadCache;
    if (cache == nullptr || cache->heads[c] == nullptr) {
        if (!Refill(c)) return std::malloc(ClassBytes(c));
        cache = threadCache;
    }
    CFreeBlock* block = cache->heads[c];
    ASAN_UNPOISON_MEMORY_REGION(block, ClassBytes(c));
    cache->heads[c] = block->next;
    --cache->counts[c];
    return block;
}

void FreeObjectMemory(void* block, size_t size) noexcept {
    if (block == nullptr) return;
    CBlockCache* cache = threadCache;
    const size_t c = ClassOf(size);
    if (cache == nullptr || cache == &endedCache || size == 0 || size > kLargestCached ||
        cache->counts[c] >= kClassLimits[c]) {
        return FreeSlowly(block, size);
    }
    auto* link = static_cast<CFreeBlock*>(block);
    link->next = cache->heads[c];
    cache->heads[c] = link;
    ++cache->counts[c];
    ASAN_POISON_MEMORY_REGION(link + 1, ClassBytes(c) - sizeof(CFreeBlock));
}

void FreeObjectMemoryUnsized(void* block) noexcept {
    std::free(block);
}
