#include <gtest/gtest.h>

#include "items/item_testing.h"

class MapTest : public ItemTest {};

TEST_F(MapTest, StringKeysSortByBytes) {
    CMap map;
    CRef<CItem> value = IntItem(1);
    for (const char* text : {"b", "a", "B"}) map.Set(StringKey(text).Get(), value.Get());
    EXPECT_EQ(map.Count(), 3);
    EXPECT_STREQ(map.KeyAt(0)->GetString()->GetString(), "B");
    EXPECT_EQ(Rendered(map), "{\"B\":1, \"a\":1, \"b\":1}");
    EXPECT_EQ(map.KeyAt(3), nullptr);
    EXPECT_EQ(map.GetNamed("a"), value.Get());
    EXPECT_EQ(map.GetNamed("A"), nullptr);
}

TEST_F(MapTest, SetReplacesKeyAndValueOfAnEquivalentKey) {
    CMap map;
    CRef<CAtom> blobKey = CRef<CAtom>::Adopt(new CAtom);
    blobKey->SetBlob("k", 1);
    CRef<CAtom> stringKey = StringKey("k");
    CRef<CItem> first = IntItem(1), second = IntItem(2);
    EXPECT_TRUE(map.Set(blobKey.Get(), first.Get()));
    EXPECT_TRUE(map.Set(stringKey.Get(), second.Get()));
    EXPECT_EQ(map.Count(), 1);
    EXPECT_EQ(map.KeyAt(0), stringKey.Get());
    EXPECT_EQ(blobKey->RefCount(), 1);
    EXPECT_EQ(first->RefCount(), 1);
    EXPECT_EQ(map.Get(blobKey.Get()), second.Get());
}

TEST_F(MapTest, NullValueRemovesAndNullKeyFails) {
    CMap map;
    CRef<CItem> value = IntItem(1);
    CRef<CAtom> key = StringKey("k");
    EXPECT_TRUE(map.Set(key.Get(), nullptr));
    EXPECT_FALSE(map.Set(nullptr, value.Get()));
    EXPECT_TRUE(map.Set(key.Get(), value.Get()));
    EXPECT_TRUE(map.Set(StringKey("k").Get(), nullptr));
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(key->RefCount(), 1);
    EXPECT_EQ(value->RefCount(), 1);
    EXPECT_TRUE(map.SetNamed("n", value.Get()));
    EXPECT_EQ(map.GetNamed("n"), value.Get());
    map.RemoveNamed("n");
    EXPECT_EQ(map.Count(), 0);
    EXPECT_EQ(map.Get(nullptr), nullptr);
}

TEST_F(MapTest, NamedLookupTellsNullFromEmptyText) {
    CMap map;
    CRef<CItem> a = IntItem(1), b = IntItem(2);
    map.SetNamed(nullptr, a.Get());
    map.SetNamed("", b.Get());
    EXPECT_EQ(map.Count(), 2);
    EXPECT_EQ(map.GetNamed(nullptr), a.Get());
    EXPECT_EQ(map.GetNamed(""), b.Get());
    EXPECT_EQ(map.KeyAt(0)->GetString(), nullptr);
}

TEST_F(MapTest, FormsOfEmptyAndOneEntryMaps) {
    CMap map;
    EXPECT_EQ(Hex(Stored(map)), "00 00");
    EXPECT_EQ(Rendered(map), "{}");
    CRef<CItem> seven = IntItem(7);
    map.SetNamed("k", seven.Get());
    EXPECT_EQ(Rendered(map), "{\"k\":7}");
    EXPECT_EQ(Rendered(map, true), "");
    EXPECT_EQ(Hex(Stored(map)), "01 00 73 01 00 6B 41 69 07 00 00 00");
}

TEST_F(MapTest, MixedKeysSortByClassThenValue) {
    CMap map;
    CRef<CItem> value = IntItem(0);
    std::vector<CRef<CAtom>> keys;
    auto add = [&](auto set) {
        keys.push_back(CRef<CAtom>::Adopt(new CAtom));
        set(*keys.back().Get());
        map.Set(keys.back().Get(), value.Get());
    };
    add([](CAtom& a) { a.SetString("s"); });
    add([](CAtom& a) { a.SetUtcTime(1); });
    add([](CAtom& a) { a.SetReal(2.5); });
    add([](CAtom& a) { a.SetCookie(0, 0); });
    add([](CAtom& a) { a.SetLocalTime(5); });
    add([](CAtom& a) { a.SetInt(-3); });
    add([](CAtom&) {});
    add([](CAtom& a) { a.SetUnsigned(3000000000u); });
    add([](CAtom& a) { a.SetBool(1); });
    add([](CAtom& a) { a.SetBlob("a", 1); });
    EXPECT_EQ(Rendered(map), "{None:0, -3:0, True:0, 2.5:0, 3000000000:0, 00000000-00000000:0, "
                             "01-01-1601 00:00:00.0005 local:0, 01-01-1601 00:00:00.0001 UTC:0, \"a\":0, \"s\":0}");
    // Int 1, Unsigned 1, Real 1.0 and Bool true are one key.
    CRef<CAtom> one = CRef<CAtom>::Adopt(new CAtom);
    one->SetUnsigned(1);
    CRef<CItem> other = IntItem(9);
    map.Set(one.Get(), other.Get());
    EXPECT_EQ(map.Count(), 10);
    EXPECT_EQ(map.KeyAt(2), one.Get());
}

TEST_F(MapTest, StoredDuplicatesKeepTheFirstAndEntriesAreSorted) {
    // Three entries: "b" -> 1, "a" -> 2, "b" -> 3.
    CRef<CStorage> stream = ReadingStream(
        FromHex("03 00 73 01 00 62 41 69 01 00 00 00 73 01 00 61 41 69 02 00 00 00 73 01 00 62 41 69 03 00 00 00"));
    CMap map;
    map.Read(*stream.Get());
    EXPECT_EQ(Rendered(map), "{\"a\":2, \"b\":1}");
}

TEST_F(MapTest, AnnouncedEntriesWithoutBytesCollapseIntoOneNoneKey) {
    CRef<CStorage> stream = ReadingStream(FromHex("04 00 73 01 00 6B 41 69 07 00 00 00"));
    CMap map;
    EXPECT_EQ(map.Read(*stream.Get()), 12);
    EXPECT_EQ(map.Count(), 2);
    EXPECT_EQ(Rendered(map), "{None:(unknown item type 0x0B), \"k\":7}");
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 6u);
}
