#include <gtest/gtest.h>

#include "items/item_testing.h"

class ListTest : public ItemTest {};

// Reading replaces the elements; elements announced but missing become empty wrappers.
TEST_F(ListTest, ReadingReplacesAndFillsAnnouncedElements) {
    CList list;
    CRef<CItem> one = IntItem(1);
    list.Append(one.Get());
    CRef<CStorage> stream = ReadingStream(FromHex("00 00 03 00 41 69 05 00 00 00"));
    EXPECT_EQ(list.Read(*stream.Get()), 2);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(one->RefCount(), 1);
    EXPECT_EQ(list.Read(*stream.Get()), 8);
    EXPECT_EQ(Rendered(list), "[5, (unknown item type 0x0B), (unknown item type 0x0B)]");
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 2u);
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
