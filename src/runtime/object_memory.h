// Memory of counted objects. Every library object is a counted object and items come and go
// by the dozen per message, so blocks are carved from slabs of one size class each, kept in
// small per-thread caches when freed, and reused without a trip through the general allocator.
//
// Slab memory is never given back to the system: what the process once needed at its peak it
// keeps for later objects. In return, whether an address is the start of a block can be told
// safely for any address (ObjectBlockBytes), which lets the tracker mark a live object inside
// the object itself instead of in a shared table.
//
// Builds with AddressSanitizer take every block from malloc and give it back to free, so that
// the sanitizer sees each object's lifetime and the leak checker each lost object; there
// ObjectBlockBytes is always 0.
#pragma once

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define MBUS_PLAIN_OBJECT_MEMORY 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MBUS_PLAIN_OBJECT_MEMORY 1
#endif
#endif

#ifdef MBUS_PLAIN_OBJECT_MEMORY
constexpr bool kObjectSlabs = false;
#else
constexpr bool kObjectSlabs = true;
#endif

// Blocks up to this size come from slabs (when kObjectSlabs); larger ones from malloc. A sink
// fits, so that the check of its reference on every incoming message reads its stamp.
constexpr size_t kLargestSlabBlock = 320;

// A block of at least size bytes, or null when none can be had.
void* AllocateObjectMemory(size_t size) noexcept;
// Gives back a block from AllocateObjectMemory with the same size. Any thread may free a block
// that another thread allocated: the block joins the freeing thread's cache.
void FreeObjectMemory(void* block, size_t size) noexcept;
// Gives back a block whose size is not known (the nothrow delete after a failed constructor).
void FreeObjectMemoryUnsized(void* block) noexcept;

// The size of the slab block that starts at address, live or free; 0 when address starts
// none. Reads nothing but the allocator's own bookkeeping, whatever the address.
size_t ObjectBlockBytes(const void* address) noexcept;
// An allocator of standard containers drawing on object memory: the element arrays of small
// lists and maps come from the same per-thread caches as the nodes they hold. The tracker reads
// a stamp inside blocks of an object's size (CRefCount::StampOffset), and bytes that a caller
// chooses must never lie where one could be forged: for arrays of object addresses, or of
// elements whose bytes at that place, counted from the array's start, are such an address.
template <class T>
struct CObjectAllocator {
    using value_type = T;
    CObjectAllocator() = default;
    template <class U>
    CObjectAllocator(const CObjectAllocator<U>&) noexcept {}
    T* allocate(size_t count) {
        void* block = AllocateObjectMemory(count * sizeof(T));
        if (block == nullptr) throw std::bad_alloc();
        return static_cast<T*>(block);
    }
    void deallocate(T* array, size_t count) noexcept { FreeObjectMemory(array, count * sizeof(T)); }
    friend bool operator==(const CObjectAllocator&, const CObjectAllocator&) { return true; }
};

// Calls visit with every slab block, live or free, its size and context.
void VisitObjectBlocks(void (*visit)(const void* block, size_t bytes, void* context), void* context);
