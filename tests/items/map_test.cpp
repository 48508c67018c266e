#include <gtest/gtest.h>

#include "items/item_testing.h"

class MapTest : public ItemTest {};

// Setting an equivalent key replaces both key and value and releases the old ones; a null
// value removes; a null key fails.
TEST_F(MapTest, SetReplacesRemovesAndReleases) {
    CMap map;
    CRef<CAtom> blobKey = MakeAtom(Blob("k")), stringKey = MakeAtom(String("k"));
    CRef<CItem> first = IntItem(1), second = IntItem(2);
    EXPECT_TRUE(map.Set(blobKey.Get(), nullptr));
    EXPECT_FALSE(map.Set(nullptr, first.Get()));
    EXPECT_TRUE(map.Set(blobKey.Get(), first.Get()));
    EXPECT_TRUE(map.Set(stringKey.Get(), second.Get()));
    EXPECT_EQ(map.Count(), 1);
    EXPECT_EQ(map.KeyAt(0), stringKey.Get());
    EXPECT_EQ(blobKey->RefCount(), 1);
    EXPECT_EQ(first->RefCount(), 1);
    EXPECT_EQ(map.Get(blobKey.Get()), second.Get());
    EXPECT_EQ(map.Get(nullptr), nullptr);
    EXPECT_TRUE(map.Set(MakeAtom(String("k")).Get(), nullptr));
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(stringKey->RefCount(), 1);
    EXPECT_EQ(second->RefCount(), 1);
}

// Stored entries come out sorted, a repeated key keeps its first value, and entries announced
// but missing collapse into one None key of an empty wrapper.
TEST_F(MapTest, ReadingSortsKeepsFirstDuplicatesAndFillsAnnouncedEntries) {
    CRef<CStorage> stream = ReadingStream(FromHex("03 00 73 01 00 62 41 69 01 00 00 00 73 01 00 61 41 69 02 00 00 00"
                                                  " 73 01 00 62 41 69 03 00 00 00 04 00 73 01 00 6B 41 69 07 00 00 00"));
    CMap map;
    map.Read(*stream.Get());
    EXPECT_EQ(Rendered(map), "{\"a\":2, \"b\":1}");
    EXPECT_EQ(map.Read(*stream.Get()), 12);
    EXPECT_EQ(Rendered(map), "{None:(unknown item type 0x0B), \"k\":7}");
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 6u);
}
