// The tracker's set and the handle checks of the exported functions.
#include <unistd.h>

#include <deque>
#include <random>
#include <set>

#include "support/item_handles.h"
#include "support/thread_probe.h"

using Handles = LibraryTest;

TEST(Tracker, AgreesWithAnOrderedSetUnderRandomInsertAndErase) {
    CTracker tracker;
    std::set<uintptr_t> model;
    std::mt19937_64 random(12345);
    // A small pool of nearby, aligned addresses forces long probe chains and wrap-around.
    for (int step = 0; step < 200000; ++step) {
        const uintptr_t key = 0x10000 + 16 * (random() % 3000);
        const bool add = random() % 2 == 0;
        ASSERT_EQ(tracker.Track(reinterpret_cast<void*>(key), add), add ? model.insert(key).second : model.erase(key) == 1)
            << "step " << step;
        if (step % 1000 == 0) {
            for (uintptr_t k = 0x10000; k < 0x10000 + 16 * 3000; k += 16) {
                ASSERT_EQ(tracker.IsKnown(reinterpret_cast<void*>(k)), model.count(k) == 1);
            }
        }
    }
    EXPECT_EQ(tracker.Count(), model.size());
    EXPECT_FALSE(tracker.Track(nullptr, true));
    EXPECT_FALSE(tracker.IsKnown(nullptr));
}

TEST_F(Handles, ObjectsComeAndGoFromTwoThreads) {
    const size_t before = LiveObjects();
    auto churn = [] {
        std::deque<CRef<CCountable>> live;
        for (int i = 0; i < 20000; ++i) {
            live.push_back(CRef<CCountable>::Adopt(new CCountable));
            if (i % 3 == 0) live.pop_front();
            if (live.size() > 64) live.clear();
        }
    };
    std::thread other(churn);
    churn();
    other.join();
    EXPECT_EQ(LiveObjects(), before);
}

TEST_F(Handles, NullIsInvalidWithoutWarningAndUnknownWarnsOnceAndFreeRefusesNull) {
    void* foreign = reinterpret_cast<void*>(0x10);  // never dereferenced: the address is not mapped
    for (auto function : {MbHandleAddRef, MbHandleRelease, MbHandleLock, MbHandleUnlock}) {
        trace_capture::Clear();
        EXPECT_EQ(function(nullptr), 3u);
        EXPECT_EQ(function(foreign), 3u);
        EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Warning: attempt to reference an unknown object at 0x10.\n", 17}}));
    }
    EXPECT_EQ(MbMemoryFree(nullptr), 3u);
    EXPECT_EQ(MbMemoryFree(std::malloc(8)), 0u);
}

TEST_F(Handles, CountWrapMakesCheckedAddRefFail) {
    CCountable object;  // storage owned here: never released to zero
    for (int i = 1; i < 65535; ++i) ASSERT_TRUE(CheckedAddRef(&object));
    EXPECT_EQ(object.RefCount(), 65535u);
    EXPECT_FALSE(CheckedAddRef(&object));
    EXPECT_EQ(object.RefCount(), 0u);
    EXPECT_FALSE(CheckedRelease(&object)) << "a count at zero stays zero";
    EXPECT_EQ(object.Release(), 0u);
}

TEST_F(Handles, LockOnOneThreadBlocksAnotherUntilUnlock) {
    CRef<CCountable> object = CRef<CCountable>::Adopt(new CCountable);
    ASSERT_EQ(MbHandleLock(object.Get()), 0u);
    EXPECT_EQ(object->RefCount(), 2u) << "the lock holds a reference";
    EXPECT_EQ(MbHandleLock(object.Get()), 0u) << "recursive on the holding thread";
    EXPECT_EQ(MbHandleUnlock(object.Get()), 0u);

    std::atomic<bool> locked{false};
    std::atomic<pid_t> otherId{0};
    std::thread other([&] {
        otherId = gettid();
        EXPECT_EQ(MbHandleLock(object.Get()), 0u);
        locked = true;
        EXPECT_EQ(MbHandleUnlock(object.Get()), 0u);
    });
    ASSERT_TRUE(WaitsIn(otherId, SYS_futex)) << "the other thread waits for the lock";
    EXPECT_FALSE(locked.load());
    EXPECT_EQ(MbHandleUnlock(object.Get()), 0u);
    other.join();
    EXPECT_TRUE(locked.load());
    EXPECT_EQ(object->RefCount(), 1u);
}

// Only an object's own address is its handle; the tracker forgets an object as it goes and
// knows the next object made at the same address.
TEST_F(Handles, AnObjectIsKnownAtItsOwnAddressOnly) {
    auto* object = new CCountable;
    void* inside = reinterpret_cast<char*>(object) + 16;
    EXPECT_EQ(MbHandleAddRef(inside), 3u);
    EXPECT_EQ(UnknownHandleWarnings(), 1u);
    EXPECT_EQ(object->RefCount(), 1u);
    const size_t before = LiveObjects();
    object->Release();
    EXPECT_FALSE(IsKnownObject(object));
    EXPECT_EQ(LiveObjects(), before - 1);
    auto* next = new CCountable;
    EXPECT_TRUE(IsKnownObject(next));
    EXPECT_EQ(LiveObjects(), before);
    next->Release();
}
