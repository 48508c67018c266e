// Lists, maps, comparison, storage and text through the exported functions: positions, keys,
// reference counts of items passed in, handed out and replaced.
#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <mbus/mbus.h>

#include "api/item_api_support.h"
#include "items/item.h"

using namespace std::string_literals;

// Positions used by appends and inserts (the low 16 bits of a position count), one reference per
// place; GetAt adds one, SetAt and RemoveAt release the element they replace or remove.
TEST_F(ItemApi, PositionsCountReferences) {
    MbItem list = MbListNew(), element = MbAtomNewInt(1), replacement = MbAtomNewInt(30);
    uint16_t index = 7;
    EXPECT_EQ(MbListInsert(list, 0, element, &index), 1u) << "position 0 of an empty list";
    EXPECT_EQ(index, MbAppendIndex);
    EXPECT_EQ(MbListAppend(list, element, &index), 0u);
    EXPECT_EQ(index, 0u);
    EXPECT_EQ(MbListAppend(list, element, &index), 0u);
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(MbListInsert(list, 0x10001, replacement, &index), 0u) << "low 16 bits: position 1";
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(Refs(element), 3u) << "the list holds one reference per place";
    MbItem found = nullptr;
    ASSERT_EQ(MbItemGetAt(list, 2, &found), 0u);
    EXPECT_EQ(found, element);
    EXPECT_EQ(Refs(element), 4u) << "GetAt adds one";
    MbHandleRelease(found);
    EXPECT_EQ(MbItemSetAt(list, 0, replacement), 0u);
    EXPECT_EQ(Refs(element), 2u) << "SetAt released the old element";
    EXPECT_EQ(Refs(replacement), 3u);
    EXPECT_EQ(MbItemRemoveAt(list, 1), 0u);
    EXPECT_EQ(Refs(replacement), 2u);
    EXPECT_EQ(TextOf(list), "[30, 1]");
    MbHandleRelease(list);
    EXPECT_EQ(Refs(element), 1u);
    EXPECT_EQ(Refs(replacement), 1u);
    MbHandleRelease(element);
    MbHandleRelease(replacement);
}

// On a map, positions are Unsigned keys; on a list, Bool (true is 1), Int and Unsigned keys
// name positions.
TEST_F(ItemApi, PositionsAndKeysAcrossContainerKinds) {
    MbItem map = MbBuild("{s:i s:i u:i}", "a", 1, "b", 2, 2u, 42), value = MbAtomNewInt(7), key = nullptr;
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(IntAt(map, 2), 42) << "the Unsigned key 2, not the third entry";
    EXPECT_EQ(IntAt(map, 0), -999);
    EXPECT_EQ(MbItemSetAt(map, 0, value), 0u);
    EXPECT_EQ(Refs(value), 2u);
    ASSERT_EQ(MbMapGetKeyAt(map, 0, &key), 0u);
    EXPECT_EQ(TypeOf(key), MbTypeUnsigned) << "numbers sort before strings";
    EXPECT_EQ(TextOf(map), "{0:7, 2:42, \"a\":1, \"b\":2}");
    EXPECT_EQ(MbItemRemoveAt(map, 0), 0u);
    EXPECT_EQ(Refs(value), 1u);

    MbItem list = ListOfInts({10, 20, 30}), yes = MbAtomNewBool(5), two = MbAtomNewUnsigned(2), found = nullptr;
    EXPECT_EQ(MbItemSet(list, yes, value), 0u);
    EXPECT_EQ(MbItemGet(list, two, &found), 0u);
    EXPECT_EQ(Refs(found), 2u);
    MbHandleRelease(found);
    EXPECT_EQ(MbItemRemove(list, two), 0u);
    EXPECT_EQ(MbItemRemove(list, two), 4u);
    EXPECT_EQ(TextOf(list), "[10, 7]");
    for (MbItem item : {map, value, key, list, yes, two}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

// A map keeps the key item's own atom; Get and GetKeyAt add a reference; Set with an equivalent
// key releases the old value and the old key atom.
TEST_F(ItemApi, MapKeysAreTheKeyItemsAtoms) {
    MbItem map = MbMapNew(), key = MbAtomNewInt(5), value = MbAtomNewString("five");
    ASSERT_EQ(MbItemSet(map, key, value), 0u);
    CAtom* keyAtom = static_cast<CItem*>(key)->GetAtom();
    EXPECT_EQ(keyAtom->RefCount(), 2u) << "the map holds the key item's own atom";
    EXPECT_EQ(Refs(value), 2u);

    MbItem sameKey = MbAtomNewUnsigned(5), found = nullptr;
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
    EXPECT_EQ(MbItemClear(map), 0u);
    EXPECT_EQ(Refs(other), 1u);
    for (MbItem item : {map, key, value, sameKey, other, keyAt}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

// Named keys order by bytes; no text and empty text are different keys; Clear releases values.
TEST_F(ItemApi, NamedKeysCompareByBytes) {
    MbItem map = MbMapNew(), value = MbAtomNewInt(1), found = nullptr;
    for (const char* name : {"b", "a", "B"}) ASSERT_EQ(MbMapSetNamed(map, name, value), 0u);
    EXPECT_EQ(MbMapSetNamed(map, nullptr, value), 0u) << "a String key without text";
    EXPECT_EQ(Refs(value), 5u);
    EXPECT_EQ(TextOf(map), "{\"\":1, \"B\":1, \"a\":1, \"b\":1}");
    EXPECT_EQ(MbMapHasNamed(map, nullptr), 0u);
    EXPECT_EQ(MbMapHasNamed(map, ""), 4u) << "no text and empty text are different keys";
    EXPECT_EQ(MbMapHasNamed(map, "A"), 4u);
    ASSERT_EQ(MbMapGetNamed(map, "B", &found), 0u);
    EXPECT_EQ(found, value);
    MbHandleRelease(found);
    EXPECT_EQ(MbMapRemoveNamed(map, "a"), 0u);
    EXPECT_EQ(Refs(value), 4u);
    EXPECT_EQ(MbItemClear(map), 0u);
    EXPECT_EQ(Refs(value), 1u);
    MbHandleRelease(map);
    MbHandleRelease(value);
}

TEST_F(ItemApi, EqualityLooksAtAtomsOnly) {
    MbItem listA = ListOfInts({1}), listB = MbListNew(), intOne = MbAtomNewInt(1), unsignedOne = MbAtomNewUnsigned(1);
    MbItem intFive = MbAtomNewInt(5), boolOne = MbAtomNewBool(1);
    EXPECT_EQ(MbItemEqual(listA, listB), 1) << "neither holds an atom";
    EXPECT_EQ(MbItemEqual(nullptr, listB), 1);
    EXPECT_EQ(MbItemEqual(listA, intOne), 0);
    EXPECT_EQ(MbItemEqual(intOne, nullptr), 0);
    EXPECT_EQ(MbItemEqual(intOne, unsignedOne), 1);
    EXPECT_EQ(MbItemEqual(boolOne, intFive), 1) << "Int 5 converts to true";
    EXPECT_EQ(MbItemEqual(intFive, boolOne), 0) << "true converts to Int 1";
    for (MbItem item : {listA, listB, intOne, unsignedOne, intFive, boolOne}) MbHandleRelease(item);
}

// A tree of every type stores to a Blob that loads back and stores again to the same bytes; its
// text keeps bytes unescaped and ends in a NUL; bare text has no bytes.
TEST_F(ItemApi, TreesSurviveBytesAndText) {
    const char eight[] = "\x00\x01\xFE\xFF\"[]}";
    MbItem tree = MbBuild("{s:[i u r N b] s:{c:B} s:[g t s s]}", "list", -3, 4000000000u, 0.25, 1, "map",
                          uint64_t{0x0102030405060708}, eight, 8, "times", int64_t{1}, int64_t{-2}, "", nullptr);
    ASSERT_NE(tree, nullptr);
    MbItem bytes = MbItemToBytes(tree);
    EXPECT_EQ(BlobText(bytes).substr(0, 3), "Kvb");
    MbItem loaded = MbItemFromBytes(bytes);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(Refs(bytes), 1u);
    MbItem again = MbItemToBytes(loaded), text = MbItemToText(loaded, 0), bare = MbItemToText(loaded, 1);
    EXPECT_EQ(BlobText(again), BlobText(bytes)) << "the stored form is stable";
    EXPECT_EQ(BlobText(text), "{\"list\":[-3, 4000000000, 0.25, None, True], \"map\":{01020304-05060708:\"\x00\x01\xFE\xFF\"[]}\"}, "
                              "\"times\":[01-01-1601 00:00:00.0001 UTC, 00-00-0000 00:00:00.0000 local, \"\", \"\"]}\0"s)
        << "bytes unescaped; a time without calendar form renders zero fields";
    ASSERT_NE(bare, nullptr);
    EXPECT_EQ(BlobText(bare), "<no bytes>") << "bare: no braces, no atoms";
    for (MbItem item : {tree, bytes, loaded, again, text, bare}) MbHandleRelease(item);
}

// Only a Blob with a whole valid header loads; a tree that ends early loads as far as it goes.
TEST_F(ItemApi, LoadingRefusesWhatIsNoStoredTree) {
    MbItem text = MbAtomNewString("Kvb"), emptyBlob = MbAtomNewBlob(nullptr, 0), list = MbListNew();
    EXPECT_EQ(MbItemFromBytes(text), nullptr);
    EXPECT_EQ(MbItemFromBytes(emptyBlob), nullptr);
    EXPECT_EQ(MbItemFromBytes(list), nullptr);
    MbItem bytes = MbItemToBytes(list);
    const std::string good = BlobText(bytes);
    for (size_t at : {size_t{0}, size_t{2}, size_t{6}}) {
        std::string bad = good;
        bad[at] ^= 0x20;
        MbItem damaged = MbAtomNewBlob(bad.data(), static_cast<uint32_t>(bad.size()));
        EXPECT_EQ(MbItemFromBytes(damaged), nullptr) << "header byte " << at;
        MbHandleRelease(damaged);
    }
    MbItem headerOnly = MbAtomNewBlob(good.data(), 16), cut = MbAtomNewBlob(good.data(), 18);
    MbItem empty = MbItemFromBytes(headerOnly), partial = MbItemFromBytes(cut);
    ASSERT_NE(empty, nullptr) << "a tree that ends early is no failure";
    EXPECT_EQ(TypeOf(empty), MbTypeItem);
    ASSERT_NE(partial, nullptr);
    EXPECT_EQ(TypeOf(partial), MbTypeList);
    for (MbItem item : {text, emptyBlob, list, bytes, headerOnly, empty, cut, partial}) MbHandleRelease(item);
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

// A container never ends up inside itself, however deep; shared subtrees are no cycle, and the
// check visits each of them once.
TEST_F(ItemApi, ContainersAreNeverNestedInsideThemselves) {
    MbItem outer = MbListNew(), middle = MbMapNew(), inner = MbListNew(), atom = MbAtomNewInt(1);
    ASSERT_EQ(MbMapSetNamed(middle, "inner", inner), 0u);
    ASSERT_EQ(MbListAppend(outer, middle, nullptr), 0u);
    ASSERT_EQ(MbListAppend(inner, atom, nullptr), 0u);
    trace_capture::Clear();
    EXPECT_EQ(MbListAppend(inner, outer, nullptr), 1u);
    EXPECT_EQ(MbItemSetAt(inner, 0, outer), 1u);
    EXPECT_EQ(MbItemSet(inner, atom, middle), 4u) << "Int 1 is beyond the end of a list of one";
    EXPECT_EQ(MbMapSetNamed(middle, "again", outer), 1u);
    EXPECT_EQ(MbItemSetAt(middle, 3, middle), 1u);
    EXPECT_EQ(trace_capture::CountContaining("attempt to nest a container inside itself at"), 4u);
    EXPECT_EQ(Refs(outer), 1u);
    EXPECT_EQ(Refs(middle), 2u);

    MbItem shared = MbListNew();
    for (int level = 0; level < 40; ++level) {
        MbItem parent = MbListNew();
        ASSERT_EQ(MbListAppend(parent, shared, nullptr), 0u);
        ASSERT_EQ(MbListAppend(parent, shared, nullptr), 0u) << "the same list twice is no cycle";
        MbHandleRelease(shared);
        shared = parent;
    }
    EXPECT_EQ(MbListAppend(inner, shared, nullptr), 0u);
    EXPECT_EQ(MbListAppend(shared, outer, nullptr), 1u) << "outer holds shared through inner";
    for (MbItem item : {outer, middle, inner, atom, shared}) MbHandleRelease(item);
}
