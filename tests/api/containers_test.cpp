// Lists, maps, comparison, storage and text through the exported functions: positions, keys,
// reference counts of items passed in, handed out and replaced, and bad input.
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <mbus/mbus.h>

#include "api/item_api_support.h"
#include "items/item.h"
#include "items/item_tree.h"

using namespace std::string_literals;

namespace {

MbItem ListOfInts(std::initializer_list<int32_t> values) {
    MbItem list = MbListNew();
    for (int32_t value : values) {
        MbItem element = MbAtomNewInt(value);
        EXPECT_EQ(MbListAppend(list, element, nullptr), 0u);
        MbHandleRelease(element);
    }
    return list;
}

int32_t IntAt(MbItem container, uint16_t position) {
    MbItem element = nullptr;
    int32_t value = -999;
    if (MbItemGetAt(container, position, &element) == 0) {
        EXPECT_EQ(MbAtomGetInt(element, &value), 0u);
        MbHandleRelease(element);
    }
    return value;
}

std::string BlobText(MbItem blob) {
    const void* data = nullptr;
    uint16_t length = 0;
    if (MbAtomGetBlob(blob, &data, &length) != 0) return "<no bytes>";
    return std::string(static_cast<const char*>(data), length);
}

}  // namespace

TEST_F(ItemApi, AppendAndInsertReportThePositionUsed) {
    MbItem list = MbListNew();
    MbItem element = MbAtomNewInt(1);
    uint16_t index = 7;
    EXPECT_EQ(MbListInsert(list, 0, element, &index), 1u) << "position 0 of an empty list";
    EXPECT_EQ(index, MbAppendIndex);
    EXPECT_EQ(MbListAppend(list, element, &index), 0u);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(MbListAppend(list, element, &index), 0u);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(MbListInsert(list, 2, element, &index), 1u) << "the count is no position";
    EXPECT_EQ(index, MbAppendIndex);
    EXPECT_EQ(MbListInsert(list, 0x10001, element, &index), 0u) << "low 16 bits: position 1";
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(Refs(element), 4u) << "the list holds one reference per place";
    EXPECT_EQ(MbListAppend(list, nullptr, &index), 3u);
    EXPECT_EQ(index, MbAppendIndex);
    EXPECT_EQ(MbListAppend(element, element, &index), 3u) << "not a list";
    EXPECT_EQ(MbListAppend(list, element, nullptr), 0u);
    MbHandleRelease(list);
    EXPECT_EQ(Refs(element), 1u);
    MbHandleRelease(element);
}

TEST_F(ItemApi, PositionAccessCountsReferences) {
    MbItem list = ListOfInts({10, 20});
    MbItem element = nullptr;
    ASSERT_EQ(MbItemGetAt(list, 1, &element), 0u);
    EXPECT_EQ(Refs(element), 2u) << "GetAt adds one";
    EXPECT_EQ(IntAt(list, 1), 20);

    MbItem replacement = MbAtomNewInt(30);
    EXPECT_EQ(MbItemSetAt(list, 1, replacement), 0u);
    EXPECT_EQ(Refs(element), 1u) << "SetAt released the old element";
    EXPECT_EQ(Refs(replacement), 2u);
    EXPECT_EQ(MbItemSetAt(list, 2, replacement), 1u) << "beyond the end";
    EXPECT_EQ(MbItemSetAt(list, 0, nullptr), 3u);

    MbItem found = &found;
    EXPECT_EQ(MbItemGetAt(list, 2, &found), 4u);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(MbItemGetAt(list, 0, nullptr), 3u);

    EXPECT_EQ(MbItemRemoveAt(list, 5), 0u) << "beyond the end: nothing happens";
    uint16_t count = 0;
    ASSERT_EQ(MbItemGetCount(list, &count), 0u);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(MbItemRemoveAt(list, 1), 0u);
    EXPECT_EQ(Refs(replacement), 1u);
    EXPECT_EQ(IntAt(list, 0), 10);

    count = 9;
    EXPECT_EQ(MbItemGetCount(replacement, &count), 3u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(MbItemRemoveAt(replacement, 0), 3u);
    for (MbItem item : {list, element, replacement}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

TEST_F(ItemApi, PositionsOnAMapAreUnsignedKeys) {
    MbItem map = MbBuild("{s:i s:i s:i u:i}", "a", 1, "b", 2, "c", 3, 2u, 42);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(IntAt(map, 2), 42) << "the Unsigned key 2, not the third entry";
    EXPECT_EQ(IntAt(map, 0), -999);
    MbItem value = MbAtomNewInt(7);
    EXPECT_EQ(MbItemSetAt(map, 0, value), 0u);
    EXPECT_EQ(IntAt(map, 0), 7);
    EXPECT_EQ(Refs(value), 2u);
    MbItem key = nullptr;
    ASSERT_EQ(MbMapGetKeyAt(map, 0, &key), 0u);
    uint32_t type = 0;
    EXPECT_EQ(MbItemGetType(key, &type), 0u);
    EXPECT_EQ(type, MbTypeUnsigned) << "numbers sort before strings";
    EXPECT_EQ(MbItemRemoveAt(map, 0), 0u);
    EXPECT_EQ(Refs(value), 1u);
    EXPECT_EQ(MbItemRemoveAt(map, 9), 0u);
    uint16_t count = 0;
    ASSERT_EQ(MbItemGetCount(map, &count), 0u);
    EXPECT_EQ(count, 4u);
    for (MbItem item : {map, value, key}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

TEST_F(ItemApi, ListKeysNamePositions) {
    MbItem list = ListOfInts({10, 20, 30});
    MbItem minusOne = MbAtomNewInt(-1);
    MbItem yes = MbAtomNewBool(5);
    MbItem two = MbAtomNewUnsigned(2);
    MbItem text = MbAtomNewString("1");
    MbItem real = MbAtomNewReal(1.0);
    MbItem value = MbAtomNewInt(99);
    MbItem found = nullptr;

    EXPECT_EQ(MbItemSet(list, minusOne, value), 4u);
    EXPECT_EQ(MbItemSet(list, yes, value), 0u) << "true names position 1";
    EXPECT_EQ(IntAt(list, 1), 99);
    EXPECT_EQ(MbItemGet(list, two, &found), 0u);
    EXPECT_EQ(MbAtomGetInt(found, nullptr), 3u);
    MbHandleRelease(found);
    EXPECT_EQ(MbItemGet(list, text, &found), 4u);
    EXPECT_EQ(MbItemGet(list, real, &found), 4u) << "only Bool, Int and Unsigned name positions";
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(MbItemRemove(list, minusOne), 4u);
    EXPECT_EQ(MbItemRemove(list, two), 0u);
    EXPECT_EQ(MbItemRemove(list, two), 4u);
    EXPECT_EQ(MbItemGet(list, list, &found), 3u) << "a key must hold an atom";
    EXPECT_EQ(MbItemSet(list, yes, nullptr), 3u);

    EXPECT_EQ(MbMapHasNamed(list, "0"), 4u) << "text keys name no position";
    EXPECT_EQ(MbMapSetNamed(list, "0", value), 4u);
    EXPECT_EQ(MbMapRemoveNamed(list, "0"), 4u);
    EXPECT_EQ(MbMapGetNamed(list, "0", &found), 4u);
    for (MbItem item : {list, minusOne, yes, two, text, real, value}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

TEST_F(ItemApi, MapKeysAreTheKeyItemsAtoms) {
    MbItem map = MbMapNew();
    MbItem key = MbAtomNewInt(5);
    MbItem value = MbAtomNewString("five");
    ASSERT_EQ(MbItemSet(map, key, value), 0u);
    CAtom* keyAtom = static_cast<CItem*>(key)->GetAtom();
    EXPECT_EQ(keyAtom->RefCount(), 2u) << "the map holds the key item's own atom";
    EXPECT_EQ(Refs(value), 2u);

    MbItem sameKey = MbAtomNewUnsigned(5);
    MbItem found = nullptr;
    ASSERT_EQ(MbItemGet(map, sameKey, &found), 0u) << "Int 5 and Unsigned 5 are one key";
    EXPECT_EQ(found, value);
    EXPECT_EQ(Refs(value), 3u) << "Get adds one";
    MbHandleRelease(found);

    MbItem other = MbAtomNewString("other");
    ASSERT_EQ(MbItemSet(map, sameKey, other), 0u);
    EXPECT_EQ(Refs(value), 1u) << "Set released the old value";
    EXPECT_EQ(keyAtom->RefCount(), 1u) << "and the old key atom";

    MbItem keyAt = nullptr;
    ASSERT_EQ(MbMapGetKeyAt(map, 0, &keyAt), 0u);
    EXPECT_EQ(static_cast<CItem*>(keyAt)->GetAtom(), static_cast<CItem*>(sameKey)->GetAtom());
    EXPECT_EQ(MbItemEqual(keyAt, sameKey), 1);
    EXPECT_EQ(static_cast<CItem*>(sameKey)->GetAtom()->RefCount(), 3u) << "item, map and the new wrapper";

    EXPECT_EQ(MbItemRemove(map, key), 0u);
    EXPECT_EQ(MbItemRemove(map, key), 0u) << "an absent key is no error";
    uint16_t count = 9;
    ASSERT_EQ(MbItemGetCount(map, &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(Refs(other), 1u);
    for (MbItem item : {map, key, value, sameKey, other, keyAt}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

TEST_F(ItemApi, NamedKeysCompareByBytes) {
    MbItem map = MbMapNew();
    MbItem value = MbAtomNewInt(1);
    for (const char* name : {"b", "a", "B"}) ASSERT_EQ(MbMapSetNamed(map, name, value), 0u);
    EXPECT_EQ(Refs(value), 4u);
    EXPECT_EQ(MbMapHasNamed(map, "a"), 0u);
    EXPECT_EQ(MbMapHasNamed(map, "A"), 4u);
    EXPECT_EQ(MbMapHasNamed(nullptr, "a"), 3u);
    const char* expected[] = {"B", "a", "b"};
    for (uint32_t position = 0; position < 3; ++position) {
        MbItem key = nullptr;
        ASSERT_EQ(MbMapGetKeyAt(map, position, &key), 0u);
        const char* text = nullptr;
        ASSERT_EQ(MbAtomGetString(key, &text, nullptr), 0u);
        EXPECT_STREQ(text, expected[position]);
        MbHandleRelease(key);
    }
    MbItem key = &key;
    EXPECT_EQ(MbMapGetKeyAt(map, 3, &key), 4u);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(MbMapGetKeyAt(map, 0x10000, &key), 4u) << "not cut to position 0";
    EXPECT_EQ(MbMapGetKeyAt(value, 0, &key), 3u);
    EXPECT_EQ(MbMapGetKeyAt(map, 0, nullptr), 3u);

    MbItem found = nullptr;
    ASSERT_EQ(MbMapGetNamed(map, "B", &found), 0u);
    EXPECT_EQ(found, value);
    MbHandleRelease(found);
    EXPECT_EQ(MbMapGetNamed(map, "B", nullptr), 3u);
    EXPECT_EQ(MbMapRemoveNamed(map, "zz"), 0u);
    EXPECT_EQ(MbMapRemoveNamed(map, "a"), 0u);
    EXPECT_EQ(Refs(value), 3u);
    EXPECT_EQ(MbMapSetNamed(map, nullptr, value), 0u) << "a String key without text";
    EXPECT_EQ(MbMapHasNamed(map, nullptr), 0u);
    EXPECT_EQ(MbMapHasNamed(map, ""), 4u) << "no text and empty text are different keys";
    EXPECT_EQ(MbMapSetNamed(map, "x", nullptr), 3u);
    EXPECT_EQ(MbItemClear(map), 0u);
    EXPECT_EQ(Refs(value), 1u);
    EXPECT_EQ(MbItemClear(value), 3u);
    MbHandleRelease(map);
    MbHandleRelease(value);
}

TEST_F(ItemApi, EqualityLooksAtAtomsOnly) {
    MbItem listA = ListOfInts({1});
    MbItem listB = MbListNew();
    MbItem intOne = MbAtomNewInt(1);
    MbItem unsignedOne = MbAtomNewUnsigned(1);
    MbItem intFive = MbAtomNewInt(5);
    MbItem boolOne = MbAtomNewBool(1);
    EXPECT_EQ(MbItemEqual(listA, listB), 1) << "neither holds an atom";
    EXPECT_EQ(MbItemEqual(nullptr, listB), 1);
    EXPECT_EQ(MbItemEqual(listA, intOne), 0);
    EXPECT_EQ(MbItemEqual(intOne, nullptr), 0);
    EXPECT_EQ(MbItemEqual(intOne, unsignedOne), 1);
    EXPECT_EQ(MbItemEqual(boolOne, intFive), 1) << "Int 5 converts to true";
    EXPECT_EQ(MbItemEqual(intFive, boolOne), 0) << "true converts to Int 1";
    EXPECT_EQ(MbItemEqual(intOne, intOne), 1);
    for (MbItem item : {listA, listB, intOne, unsignedOne, intFive, boolOne}) MbHandleRelease(item);
}

TEST_F(ItemApi, BytesOfAnIntAndBack) {
    MbItem seven = MbAtomNewInt(7);
    MbItem bytes = MbItemToBytes(seven);
    ASSERT_NE(bytes, nullptr);
    const std::string stored = BlobText(bytes);
    ASSERT_EQ(stored.size(), 22u);
    EXPECT_EQ(stored.substr(0, 3), "Kvb");
    EXPECT_EQ(stored.substr(16), std::string("\x41\x69\x07\x00\x00\x00", 6));
    MbItem loaded = MbItemFromBytes(bytes);
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(SameTree(*static_cast<CItem*>(loaded), *static_cast<CItem*>(seven)));
    EXPECT_EQ(Refs(bytes), 1u);
    for (MbItem item : {seven, bytes, loaded}) MbHandleRelease(item);
}

TEST_F(ItemApi, TreesSurviveBytes) {
    const char eight[] = "\x00\x01\xFE\xFF\"[]}";
    MbItem tree = MbBuild("{s:[i u r N b] s:{c:B} s:[g t s s]}", "list", -3, 4000000000u, 0.25, 1, "map",
                          uint64_t{0x0102030405060708}, eight, 8, "times", int64_t{1}, int64_t{-2}, "", nullptr);
    ASSERT_NE(tree, nullptr);
    MbItem bytes = MbItemToBytes(tree);
    MbItem loaded = MbItemFromBytes(bytes);
    ASSERT_NE(loaded, nullptr);
    MbItem again = MbItemToBytes(loaded);
    EXPECT_EQ(BlobText(again), BlobText(bytes)) << "the stored form is stable";
    MbItem text = MbItemToText(loaded, 0);
    EXPECT_EQ(BlobText(text), "{\"list\":[-3, 4000000000, 0.25, None, True], \"map\":{01020304-05060708:\"\x00\x01\xFE\xFF\"[]}\"}, "
                              "\"times\":[01-01-1601 00:00:00.0001 UTC, 00-00-0000 00:00:00.0000 local, \"\", \"\"]}\0"s)
        << "bytes unescaped; a time without calendar form renders zero fields";
    for (MbItem item : {tree, bytes, loaded, again, text}) MbHandleRelease(item);
}

TEST_F(ItemApi, LoadingRefusesWhatIsNoStoredTree) {
    MbItem text = MbAtomNewString("Kvb");
    MbItem emptyBlob = MbAtomNewBlob(nullptr, 0);
    MbItem list = MbListNew();
    EXPECT_EQ(MbItemFromBytes(text), nullptr);
    EXPECT_EQ(MbItemFromBytes(emptyBlob), nullptr);
    EXPECT_EQ(MbItemFromBytes(list), nullptr);
    EXPECT_EQ(MbItemFromBytes(nullptr), nullptr);

    MbItem bytes = MbItemToBytes(list);
    const std::string good = BlobText(bytes);
    for (size_t at : {size_t{0}, size_t{2}, size_t{6}}) {
        std::string bad = good;
        bad[at] ^= 0x20;
        MbItem damaged = MbAtomNewBlob(bad.data(), static_cast<uint32_t>(bad.size()));
        EXPECT_EQ(MbItemFromBytes(damaged), nullptr) << "header byte " << at;
        MbHandleRelease(damaged);
    }
    MbItem headerOnly = MbAtomNewBlob(good.data(), 16);
    MbItem empty = MbItemFromBytes(headerOnly);
    ASSERT_NE(empty, nullptr) << "a tree that ends early is no failure";
    uint32_t type = 0;
    EXPECT_EQ(MbItemGetType(empty, &type), 0u);
    EXPECT_EQ(type, MbTypeItem);
    MbItem cut = MbAtomNewBlob(good.data(), static_cast<uint32_t>(good.size() - 1));
    MbItem partial = MbItemFromBytes(cut);
    ASSERT_NE(partial, nullptr);
    EXPECT_EQ(MbItemGetType(partial, &type), 0u);
    EXPECT_EQ(type, MbTypeList);
    for (MbItem item : {text, emptyBlob, list, bytes, headerOnly, empty, cut, partial}) MbHandleRelease(item);
}

TEST_F(ItemApi, TextBareAndNotBare) {
    MbItem three = MbAtomNewInt(3);
    MbItem text = MbItemToText(three, 0);
    EXPECT_EQ(BlobText(text), std::string("3\0", 2));
    MbItem bare = MbItemToText(three, 4);
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(BlobText(bare), "<no bytes>");
    MbItem map = MbBuild("{s:i}", "proc", 3);
    MbItem mapText = MbItemToText(map, 0);
    EXPECT_EQ(BlobText(mapText), std::string("{\"proc\":3}\0", 11));
    MbItem mapBare = MbItemToText(map, 1);
    EXPECT_EQ(BlobText(mapBare), "<no bytes>") << "bare: no braces, no atoms";
    MbItem list = MbBuild("[s [i] s]", "a", 1, "b");
    MbItem listBare = MbItemToText(list, 1);
    EXPECT_EQ(BlobText(listBare), "<no bytes>");
    EXPECT_EQ(MbItemToText(nullptr, 0), nullptr);
    EXPECT_EQ(MbItemToBytes(nullptr), nullptr);
    for (MbItem item : {three, text, bare, map, mapText, mapBare, list, listBare}) MbHandleRelease(item);
}

// Every container function refuses a foreign handle in any handle position with exactly one
// warning, writes nothing but its cleared outs, and changes nothing.
TEST_F(ItemApi, ContainerFunctionsRefuseBadHandles) {
    MbItem list = ListOfInts({1});
    MbItem map = MbBuild("{s:i}", "k", 1);
    MbItem key = MbAtomNewString("k");
    MbItem value = MbAtomNewInt(2);
    const MbItem bad = ForeignHandle();
    MbItem out = &out;
    uint16_t index = 0;
    uint16_t count = 5;
    const struct {
        const char* what;
        MbResult result;
    } calls[] = {
        {"Append list", MbListAppend(bad, value, &index)},
        {"Append element", MbListAppend(list, bad, &index)},
        {"Insert", MbListInsert(bad, 0, value, nullptr)},
        {"GetCount", MbItemGetCount(bad, &count)},
        {"GetAt", MbItemGetAt(bad, 0, &out)},
        {"SetAt container", MbItemSetAt(bad, 0, value)},
        {"SetAt value", MbItemSetAt(list, 0, bad)},
        {"RemoveAt", MbItemRemoveAt(bad, 0)},
        {"GetKeyAt", MbMapGetKeyAt(bad, 0, &out)},
        {"Get container", MbItemGet(bad, key, &out)},
        {"Get key", MbItemGet(map, bad, &out)},
        {"Set key", MbItemSet(map, bad, value)},
        {"Set value", MbItemSet(map, key, bad)},
        {"Remove key", MbItemRemove(map, bad)},
        {"GetNamed", MbMapGetNamed(bad, "k", &out)},
        {"HasNamed", MbMapHasNamed(bad, "k")},
        {"SetNamed value", MbMapSetNamed(map, "k", bad)},
        {"RemoveNamed", MbMapRemoveNamed(bad, "k")},
        {"Clear", MbItemClear(bad)},
    };
    for (const auto& call : calls) EXPECT_EQ(call.result, 3u) << call.what;
    EXPECT_EQ(UnknownHandleWarnings(), std::size(calls));
    EXPECT_EQ(index, MbAppendIndex);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(IntAt(list, 0), 1);
    EXPECT_EQ(IntAt(map, 0), -999);
    EXPECT_EQ(MbMapHasNamed(map, "k"), 0u);
    EXPECT_EQ(Refs(value), 1u);

    trace_capture::Clear();
    EXPECT_EQ(MbItemToBytes(bad), nullptr);
    EXPECT_EQ(MbItemFromBytes(bad), nullptr);
    EXPECT_EQ(MbItemToText(bad, 0), nullptr);
    EXPECT_EQ(MbItemEqual(bad, nullptr), 1);
    EXPECT_EQ(UnknownHandleWarnings(), 4u);
    for (MbItem item : {list, map, key, value}) MbHandleRelease(item);
}

// Elements handed out carry their own reference, so they outlive a removal on another thread.
TEST_F(ItemApi, ElementsHandedOutSurviveConcurrentRemoval) {
    MbItem list = MbListNew();
    std::atomic<bool> stop{false};
    std::thread remover([&] {
        while (!stop.load()) {
            MbItem element = MbAtomNewString("short-lived");
            MbListAppend(list, element, nullptr);
            MbHandleRelease(element);
            MbItemRemoveAt(list, 0);
        }
    });
    for (int round = 0; round < 20000; ++round) {
        MbItem element = nullptr;
        if (MbItemGetAt(list, 0, &element) != 0) continue;
        const char* text = nullptr;
        EXPECT_EQ(MbAtomGetString(element, &text, nullptr), 0u);
        EXPECT_STREQ(text, "short-lived");
        EXPECT_EQ(MbHandleRelease(element), 0u);
    }
    stop = true;
    remover.join();
    EXPECT_EQ(UnknownHandleWarnings(), 0u);
    MbHandleRelease(list);
}
