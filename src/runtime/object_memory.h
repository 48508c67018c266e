// Memory of counted objects. Every library object is a counted object and items come and go
// by the dozen per message, so freed blocks are kept in small per-thread caches by size class
// and reused without a trip through the general allocator.
#pragma once

#include <cstddef>

// A block of at least size bytes, or null when none can be had.
void* AllocateObjectMemory(size_t size) noexcept;
// Gives back a block from AllocateObjectMemory with the same size. Any thread may free a block
// that another thread allocated: the block joins the freeing thread's cache or goes back to
// the general allocator when that cache is full.
void FreeObjectMemory(void* block, size_t size) noexcept;
// Gives back a block whose size is not known (the nothrow delete after a failed constructor).
void FreeObjectMemoryUnsized(void* block) noexcept;
