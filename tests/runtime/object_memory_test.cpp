#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "runtime/object_memory.h"
#include "runtime/ref_count.h"

// Every size gets a block it can fill, also when the block was cached by an earlier free of a
// neighbouring size (ASan reports a block smaller than asked for).
TEST(ObjectMemoryTest, EverySizeGetsAWholeBlock) {
    for (int round = 0; round < 2; ++round) {
        std::vector<std::pair<void*, size_t>> blocks;
        for (size_t size = 1; size <= 300; ++size) {
            void* block = AllocateObjectMemory(size);
            ASSERT_NE(block, nullptr);
            std::memset(block, 0xA5, size);
            blocks.emplace_back(block, size);
        }
        for (auto [block, size] : blocks) FreeObjectMemory(block, size);
    }
}

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
    void* large = AllocateObjectMemory(4096);
    ASSERT_NE(large, nullptr);
    std::memset(large, 0, 4096);
    FreeObjectMemory(large, 4096);
}
