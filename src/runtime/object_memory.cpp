#include "runtime/object_memory.h"

#include <array>
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
// A thread keeps at most this many bytes of each class, so a thread that frees a large
// tree built elsewhere holds on to a bounded amount of memory.
constexpr size_t kBytesPerClass = 256 * 1024;

struct CFreeBlock {
    CFreeBlock* next;
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

// The calling thread's cache, made on its first free. Initial-exec keeps the read one
// instruction; the cache itself lives on the heap so the static TLS stays one pointer.
thread_local CBlockCache* threadCache __attribute__((tls_model("initial-exec"))) = nullptr;

// The cache of a thread whose own cache was released as it ends: always empty and always full,
// so the thread's last frees go straight back to the allocator.
CBlockCache endedCache = [] {
    CBlockCache cache{};
    for (uint32_t& count : cache.counts) count = UINT32_MAX;
    return cache;
}();

void ReleaseCache(CBlockCache* cache) noexcept {
    Unlink(cache);
    for (size_t c = 0; c < kClasses; ++c) {
        for (CFreeBlock* block = cache->heads[c]; block != nullptr;) {
            ASAN_UNPOISON_MEMORY_REGION(block, sizeof(CFreeBlock));
            CFreeBlock* next = block->next;
            std::free(block);
            block = next;
        }
    }
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

// How many blocks of each class a cache keeps.
constexpr auto kClassLimits = [] {
    std::array<uint32_t, kClasses> limits{};
    for (size_t c = 0; c < kClasses; ++c) limits[c] = static_cast<uint32_t>(kBytesPerClass / ((c + 1) * kGranule));
    return limits;
}();

}  // namespace

void* AllocateObjectMemory(size_t size) noexcept {
    if (size == 0 || size > kLargestCached) return std::malloc(size == 0 ? 1 : size);
    const size_t c = ClassOf(size);
    CBlockCache* cache = threadCache;
    if (cache != nullptr && cache->heads[c] != nullptr) {
        CFreeBlock* block = cache->heads[c];
        ASAN_UNPOISON_MEMORY_REGION(block, (c + 1) * kGranule);
        cache->heads[c] = block->next;
        --cache->counts[c];
        return block;
    }
    return std::malloc((c + 1) * kGranule);
}

void FreeObjectMemory(void* block, size_t size) noexcept {
    if (block == nullptr) return;
    CBlockCache* cache = size == 0 || size > kLargestCached ? nullptr : ThreadCache();
    const size_t c = cache == nullptr ? 0 : ClassOf(size);
    if (cache == nullptr || cache->counts[c] >= kClassLimits[c]) {
        std::free(block);
        return;
    }
    auto* link = static_cast<CFreeBlock*>(block);
    link->next = cache->heads[c];
    cache->heads[c] = link;
    ++cache->counts[c];
    ASAN_POISON_MEMORY_REGION(block, (c + 1) * kGranule);
}

void FreeObjectMemoryUnsized(void* block) noexcept {
    std::free(block);
}
