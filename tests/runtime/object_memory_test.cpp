#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "runtime/object_memory.h"
#include "runtime/ref_count.h"

// Objects made on one thread and destroyed on another land in the second thread's cache, are
// reused there, and go back to the allocator when that thread ends (LSan reports what stays).
TEST(ObjectMemoryTest, BlocksMoveBetweenThreadsAndLeaveWithThem) {
    constexpr int kObjects = 5000;
    std::vector<CCountable*> made(kObjects);
    for (CCountable*& object : made) object = new CCountable;
    std::thread other([&made] {
        for (CCountable* object : made) EXPECT_EQ(object->Release(), 1);
        std::vector<CCountable*> again(kObjects);
        for (CCountable*& object : again) object = new CCountable;
        for (CCountable* object : again) EXPECT_EQ(object->RefCount(), 1);
        for (CCountable* object : again) object->Release();
    });
    other.join();
}

// Every size gets a block it can fill, also when the block was cached by an earlier free of a
// neighbouring size (ASan reports a block smaller than asked for). Only the first byte of a slab
// block is one; any other address, mapped or not, is none and is never followed. Sanitized
// builds have no slabs at all.
TEST(ObjectMemoryTest, EverySizeGetsAWholeBlockKnownByItsFirstByteOnly) {
    std::vector<std::pair<void*, size_t>> blocks;
    for (int round = 0; round < 2; ++round) {
        for (auto [block, size] : blocks) FreeObjectMemory(block, size);
        blocks.clear();
        for (size_t size = 1; size <= kLargestSlabBlock + 44; ++size) {
            void* block = AllocateObjectMemory(size);
            ASSERT_NE(block, nullptr);
            std::memset(block, 0xA5, size);
            blocks.emplace_back(block, size);
            const size_t bytes = ObjectBlockBytes(block);
            if (!kObjectSlabs || size > kLargestSlabBlock) {
                EXPECT_EQ(bytes, 0u) << size;
                continue;
            }
            EXPECT_GE(bytes, size);
            EXPECT_LT(bytes, std::max<size_t>(size, 32) + 16);
            EXPECT_EQ(bytes % 16, 0u);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
            for (size_t inside : {size_t{1}, size_t{8}, bytes - 8}) {
                EXPECT_EQ(ObjectBlockBytes(static_cast<char*>(block) + inside), 0u) << size << "+" << inside;
            }
            EXPECT_EQ(ObjectBlockBytes(reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(block) & ~uintptr_t{0x7FFF})), 0u)
                << "the slab's own header";
        }
    }
    int local = 0;
    void* large = AllocateObjectMemory(4096);
    ASSERT_NE(large, nullptr);
    std::memset(large, 0, 4096);
    for (const void* none : {static_cast<const void*>(&local), static_cast<const void*>(large), static_cast<const void*>(nullptr),
                             reinterpret_cast<const void*>(0xFFFF800000000000ull), reinterpret_cast<const void*>(0x10)}) {
        EXPECT_EQ(ObjectBlockBytes(none), 0u) << none;
    }
    FreeObjectMemory(large, 4096);
    for (auto [block, size] : blocks) FreeObjectMemory(block, size);
}

// A block given back without its size finds its way home from the block itself.
TEST(ObjectMemoryTest, UnsizedFreeReturnsBlocksOfEveryKind) {
    for (size_t size : {40, 200, 1000}) {
        void* block = AllocateObjectMemory(size);
        ASSERT_NE(block, nullptr);
        FreeObjectMemoryUnsized(block);
        void* again = AllocateObjectMemory(size);
        if (kObjectSlabs && size <= 256) {
            EXPECT_EQ(again, block) << "the cache hands the freed block out first";
        }
        FreeObjectMemory(again, size);
    }
}

// Blocks cached by a thread that ends go to the depot and serve the next threads: thread after
// thread making and dropping objects does not make new slabs.
TEST(ObjectMemoryTest, EndingThreadsHandTheirBlocksOn) {
    if (!kObjectSlabs) GTEST_SKIP() << "sanitized builds have no slabs";
    const auto churn = [] {
        std::vector<CCountable*> objects(20000);
        for (CCountable*& object : objects) object = new CCountable;
        for (CCountable* object : objects) object->Release();
    };
    const auto blocks = [] {
        size_t count = 0;
        VisitObjectBlocks([](const void*, size_t, void* total) { ++*static_cast<size_t*>(total); }, &count);
        return count;
    };
    std::thread(churn).join();
    const size_t afterFirst = blocks();
    for (int round = 0; round < 10; ++round) std::thread(churn).join();
    EXPECT_EQ(blocks(), afterFirst);
}
