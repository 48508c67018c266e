#include <gtest/gtest.h>

#include "items/item_testing.h"

class ListTest : public ItemTest {};

TEST_F(ListTest, InsertPositions) {
    CList list;
    CRef<CItem> a = IntItem(1), b = IntItem(2), c = IntItem(3), d = IntItem(4);
    uint16_t used = 7;
    EXPECT_FALSE(list.Insert(0, a.Get(), &used));
    EXPECT_EQ(used, CList::kAppend);
    EXPECT_TRUE(list.Insert(CList::kAppend, a.Get(), &used));
    EXPECT_EQ(used, 0);
    EXPECT_TRUE(list.Insert(CList::kAppend, b.Get(), &used));
    EXPECT_EQ(used, 1);
    EXPECT_TRUE(list.Append(c.Get()));
    EXPECT_FALSE(list.Insert(3, d.Get(), &used));
    EXPECT_EQ(used, CList::kAppend);
    EXPECT_TRUE(list.Insert(2, d.Get(), &used));
    EXPECT_EQ(used, 2);
    EXPECT_EQ(Rendered(list), "[1, 2, 4, 3]");
    EXPECT_FALSE(list.Insert(CList::kAppend, nullptr, &used));
    EXPECT_EQ(used, CList::kAppend);
    EXPECT_EQ(a->RefCount(), 2);
}

TEST_F(ListTest, GetSetRemoveAtTheEndDoNothing) {
    CList list;
    CRef<CItem> a = IntItem(1), b = IntItem(2), c = IntItem(3);
    list.Append(a.Get());
    list.Append(b.Get());
    EXPECT_EQ(list.Get(2), nullptr);
    EXPECT_FALSE(list.Set(2, c.Get()));
    list.Remove(2);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_TRUE(list.Set(0, c.Get()));
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(c->RefCount(), 2);
    EXPECT_FALSE(list.Set(0, nullptr));
    list.Remove(0);
    EXPECT_EQ(c->RefCount(), 1);
    EXPECT_EQ(list.Get(0), b.Get());
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(b->RefCount(), 1);
}

TEST_F(ListTest, FormsOfEmptyAndMixedLists) {
    CList list;
    EXPECT_EQ(Hex(Stored(list)), "00 00");
    EXPECT_EQ(Rendered(list), "[]");
    EXPECT_EQ(Rendered(list, true), "");
    CRef<CItem> one = IntItem(1), x = StringItem("x");
    list.Append(one.Get());
    list.Append(x.Get());
    EXPECT_EQ(Rendered(list), "[1, \"x\"]");
    EXPECT_EQ(Rendered(list, true), "");  // atoms render nothing when bare
    EXPECT_EQ(Hex(Stored(list)), "02 00 41 69 01 00 00 00 41 73 01 00 78");
}

TEST_F(ListTest, ReadingAnEmptyCountDropsTheElements) {
    CList list;
    CRef<CItem> one = IntItem(1);
    list.Append(one.Get());
    CRef<CStorage> stream = ReadingStream(FromHex("00 00"));
    EXPECT_EQ(list.Read(*stream.Get()), 2);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(one->RefCount(), 1);
}

TEST_F(ListTest, AnnouncedElementsWithoutBytesBecomeEmptyWrappers) {
    CList list;
    CRef<CStorage> stream = ReadingStream(FromHex("03 00 41 69 05 00 00 00"));
    EXPECT_EQ(list.Read(*stream.Get()), 8);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Get(0)->GetAtom()->GetInt(), 5);
    EXPECT_EQ(list.Get(1)->GetType(), static_cast<uint32_t>(MbTypeItem));
    EXPECT_EQ(list.Get(2)->GetType(), static_cast<uint32_t>(MbTypeItem));
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 2u);
    EXPECT_EQ(Rendered(list), "[5, (unknown item type 0x0B), (unknown item type 0x0B)]");
}

TEST_F(ListTest, AppendsBeyond65535ElementsAreRefused) {
    CList list;
    // Two elements take turns, so that no 16-bit reference count wraps.
    CRef<CItem> even = IntItem(0), odd = IntItem(1);
    for (uint32_t i = 0; i < CList::kMaxCount; ++i) ASSERT_TRUE(list.Append(i % 2 ? odd.Get() : even.Get()));
    uint16_t used = 0;
    EXPECT_FALSE(list.Insert(CList::kAppend, odd.Get(), &used));
    EXPECT_FALSE(list.Insert(0, odd.Get(), &used));
    EXPECT_EQ(used, CList::kAppend);
    EXPECT_EQ(list.Count(), 65535);
    list.Clear();
    EXPECT_EQ(even->RefCount(), 1);
    EXPECT_EQ(odd->RefCount(), 1);
}
