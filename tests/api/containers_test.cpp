// Lists, maps, comparison, storage and text through the C interface, with reference counts.

#include "support/item_handles.h"

using namespace std::string_literals;

// Positions use their low 16 bits; GetAt adds a reference, SetAt and RemoveAt release one.
TEST_F(ItemApi, PositionsCountReferences) {
    MbItem list = MbListNew(), found = nullptr;
    Held element(MbAtomNewInt(1)), replacement(MbAtomNewInt(30));
    uint16_t index = 7;
    ExpectResults({
        {"Insert at 0 of an empty list", MbListInsert(list, 0, element, &index), 1, index == MbAppendIndex},
        {"Append", MbListAppend(list, element, &index), 0, index == 0},
        {"Append again", MbListAppend(list, element, &index), 0, index == 1},
        {"Insert at 0x10001 is at 1", MbListInsert(list, 0x10001, replacement, &index), 0, index == 1},
        {"one reference per place", MbItemGetAt(list, 2, &found), 0, found == element && Refs(element) == 4},
        {"GetAt added one", MbHandleRelease(found), 0, Refs(element) == 3},
        {"SetAt releases the old element", MbItemSetAt(list, 0, replacement), 0, Refs(element) == 2 && Refs(replacement) == 3},
        {"RemoveAt releases", MbItemRemoveAt(list, 1), 0, Refs(replacement) == 2 && TextOf(list) == "[30, 1]"},
        {"the list releases all", MbHandleRelease(list), 0, Refs(element) == 1 && Refs(replacement) == 1},
    });
}

// On a map, positions are Unsigned keys; on a list, Bool (true is 1), Int and Unsigned keys are.
TEST_F(ItemApi, PositionsAndKeysAcrossContainerKinds) {
    Held map(MbBuild("{s:i s:i u:i}", "a", 1, "b", 2, 2u, 42)), value(MbAtomNewInt(7)), key, found;
    Held list(ListOfInts({10, 20, 30})), yes(MbAtomNewBool(5)), two(MbAtomNewUnsigned(2));
    ASSERT_NE(map.handle, nullptr);
    EXPECT_EQ(IntAt(map, 2), 42) << "the Unsigned key 2, not the third entry";
    EXPECT_EQ(IntAt(map, 0), -999);
    ExpectResults({
        {"SetAt of a map", MbItemSetAt(map, 0, value), 0, Refs(value) == 2},
        {"numbers sort before strings", MbMapGetKeyAt(map, 0, key.Out()), 0,
         TypeOf(key) == MbTypeUnsigned && TextOf(map) == "{0:7, 2:42, \"a\":1, \"b\":2}"},
        {"RemoveAt of a map", MbItemRemoveAt(map, 0), 0, Refs(value) == 1},
        {"Set at true", MbItemSet(list, yes, value), 0, true},
        {"Get at Unsigned 2", MbItemGet(list, two, found.Out()), 0, Refs(found) == 2},
        {"Remove at Unsigned 2", MbItemRemove(list, two), 0, true},
        {"Remove beyond the end", MbItemRemove(list, two), 4, TextOf(list) == "[10, 7]"},
    });
}

// Set with an equivalent key releases the old value and the old key atom.
TEST_F(ItemApi, MapKeysAreTheKeyItemsAtoms) {
    MbItem map = MbMapNew(), key = MbAtomNewInt(5), value = MbAtomNewString("five"), other = MbAtomNewString("other");
    MbItem sameKey = MbAtomNewUnsigned(5), found = nullptr, keyAt = nullptr;
    CAtom* keyAtom = static_cast<CItem*>(key)->GetAtom();
    CAtom* sameAtom = static_cast<CItem*>(sameKey)->GetAtom();
    ExpectResults({
        {"the map holds the key item's own atom", MbItemSet(map, key, value), 0, keyAtom->RefCount() == 2 && Refs(value) == 2},
        {"Int 5 and Unsigned 5 are one key", MbItemGet(map, sameKey, &found), 0, found == value && Refs(value) == 3},
        {"Get added one", MbHandleRelease(found), 0, true},
        {"Set releases old value and key atom", MbItemSet(map, sameKey, other), 0, Refs(value) == 1 && keyAtom->RefCount() == 1},
        {"GetKeyAt", MbMapGetKeyAt(map, 0, &keyAt), 0, static_cast<CItem*>(keyAt)->GetAtom() == sameAtom},
        {"item, map and the new wrapper", static_cast<MbResult>(MbItemEqual(keyAt, sameKey)), 1, sameAtom->RefCount() == 3},
        {"Remove", MbItemRemove(map, key), 0, true},
        {"Clear", MbItemClear(map), 0, Refs(other) == 1},
    });
    for (MbItem item : {map, key, value, sameKey, other, keyAt}) EXPECT_EQ(MbHandleRelease(item), 0u);
}

// Named keys order by bytes; no text and empty text are different keys; Clear releases values.
TEST_F(ItemApi, NamedKeysCompareByBytes) {
    Held map(MbMapNew()), value(MbAtomNewInt(1));
    MbItem found = nullptr;
    for (const char* name : {"b", "a", "B"}) ASSERT_EQ(MbMapSetNamed(map, name, value), 0u);
    ExpectResults({
        {"a String key without text", MbMapSetNamed(map, nullptr, value), 0, Refs(value) == 5},
        {"HasNamed null", MbMapHasNamed(map, nullptr), 0, TextOf(map) == "{\"\":1, \"B\":1, \"a\":1, \"b\":1}"},
        {"no text and empty text are different keys", MbMapHasNamed(map, ""), 4, true},
        {"HasNamed by bytes", MbMapHasNamed(map, "A"), 4, true},
        {"GetNamed", MbMapGetNamed(map, "B", &found), 0, found == value && MbHandleRelease(found) == 0},
        {"RemoveNamed", MbMapRemoveNamed(map, "a"), 0, Refs(value) == 4},
        {"Clear", MbItemClear(map), 0, Refs(value) == 1},
    });
}

// Only atoms compare, converted to the first item's type.
TEST_F(ItemApi, EqualityLooksAtAtomsOnly) {
    Held listA(ListOfInts({1})), listB(MbListNew()), intOne(MbAtomNewInt(1)), intFive(MbAtomNewInt(5));
    Held boolOne(MbAtomNewBool(1));
    ExpectResults({
        {"neither holds an atom", static_cast<MbResult>(MbItemEqual(listA, listB)), 1, true},
        {"null and a list", static_cast<MbResult>(MbItemEqual(nullptr, listB)), 1, true},
        {"list and atom", static_cast<MbResult>(MbItemEqual(listA, intOne)), 0, true},
        {"atom and null", static_cast<MbResult>(MbItemEqual(intOne, nullptr)), 0, true},
        {"Int 5 converts to true", static_cast<MbResult>(MbItemEqual(boolOne, intFive)), 1, true},
    });
}

// The stored form is stable; text keeps bytes unescaped and ends in a NUL; bare text has none.
TEST_F(ItemApi, TreesSurviveBytesAndText) {
    const char eight[] = "\x00\x01\xFE\xFF\"[]}";
    Held tree(MbBuild("{s:[i N] s:{c:B}}", "list", -3, "map", uint64_t{0x0102030405060708}, eight, 8));
    ASSERT_NE(tree.handle, nullptr);
    Held bytes(MbItemToBytes(tree));
    EXPECT_EQ(BlobText(bytes).substr(0, 3), "Kvb");
    Held loaded(MbItemFromBytes(bytes));
    ASSERT_NE(loaded.handle, nullptr);
    EXPECT_EQ(Refs(bytes), 1u);
    Held again(MbItemToBytes(loaded)), text(MbItemToText(loaded, 0)), bare(MbItemToText(loaded, 1));
    EXPECT_EQ(BlobText(again), BlobText(bytes)) << "the stored form is stable";
    EXPECT_EQ(BlobText(text), "{\"list\":[-3, None], \"map\":{01020304-05060708:\"\x00\x01\xFE\xFF\"[]}\"}}\0"s);
    ASSERT_NE(bare.handle, nullptr);
    EXPECT_EQ(BlobText(bare), "<no bytes>") << "bare: no braces, no atoms";
}

// Only a Blob loads; a tree that ends early loads as far as it goes.
TEST_F(ItemApi, LoadingRefusesWhatIsNoStoredTree) {
    Held text(MbAtomNewString("Kvb")), emptyBlob(MbAtomNewBlob(nullptr, 0)), list(MbListNew());
    for (MbItem bytes : {text.handle, emptyBlob.handle, list.handle}) EXPECT_EQ(MbItemFromBytes(bytes), nullptr) << TextOf(bytes);
    const std::string bytes = BlobText(Held(MbItemToBytes(list)));
    Held headerOnly(MbAtomNewBlob(bytes.data(), 16)), cut(MbAtomNewBlob(bytes.data(), 18));
    Held empty(MbItemFromBytes(headerOnly)), partial(MbItemFromBytes(cut));
    ASSERT_NE(empty.handle, nullptr) << "a tree that ends early is no failure";
    EXPECT_EQ(TypeOf(empty), MbTypeItem);
    ASSERT_NE(partial.handle, nullptr);
    EXPECT_EQ(TypeOf(partial), MbTypeList);
}

// Hostile payloads load as the stored form defines (announced but missing elements and unknown
// letters are empty wrappers, missing map entries one None key; a bad header loads nothing) and
// trace a line or two each, not one per element.
TEST_F(ItemApi, HostilePayloadsLoadWithALineOrTwoOfTrace) {
    Held emptyList(MbListNew()), stored(MbItemToBytes(emptyList));
    const std::string header = BlobText(stored).substr(0, 16);
    std::string deep;
    for (int i = 0; i < 1000; ++i) deep += "L\xFF\xFF"s;
    const std::string unknown = "(unknown item type 0x0B)";
    const struct {
        const char* what;
        std::string bytes;
        uint32_t type;  // 0: nothing loads
        uint16_t count;
        size_t lines;
    } cases[] = {
        {"a list announcing 65,535 elements, none there", header + "L\xFF\xFF"s, MbTypeList, 65535, 1},
        {"a map announcing 65,535 entries, none there", header + "M\xFF\xFF"s, MbTypeMap, 1, 1},
        {"maps nested with bogus counts", header + "M\x09\x00s\x01\x00" "aM\xFF\xFFs\x01\x00" "bM\x40\x00"s, MbTypeMap, 1, 2},
        {"a list of 4,000 unknown letters", header + "L\xA0\x0F"s + std::string(4000, 'Z'), MbTypeList, 4000, 1},
        {"unknown letters around an atom", header + "L\x05\x00ZZAi\x01\x00\x00\x00Z"s, MbTypeList, 5, 1},
        {"1,000 nested lists announcing 65,535 elements each", header + deep, MbTypeList, 1, 2},
        {"a bad header", "Kvc" + header.substr(3) + "L\xFF\xFF"s, 0, 0, 1},
    };
    for (const auto& [what, bytes, type, count, lines] : cases) {
        trace_capture::Clear();
        Held blob(MbAtomNewBlob(bytes.data(), static_cast<uint32_t>(bytes.size())));
        Held loaded(MbItemFromBytes(blob));
        EXPECT_EQ(trace_capture::Records().size(), lines) << what;
        if (type == 0) {
            EXPECT_EQ(loaded.handle, nullptr) << what;
            continue;
        }
        ASSERT_NE(loaded.handle, nullptr) << what;
        uint16_t counted = 0;
        EXPECT_EQ(MbItemGetCount(loaded, &counted), 0u);
        EXPECT_EQ(TypeOf(loaded), type) << what;
        EXPECT_EQ(counted, count) << what;
    }
    EXPECT_EQ(trace_capture::Records(), (TraceRecords{{"**Error: failed to open storage for reading.\n", 18}}));
    Held missing(MbItemFromBytes(Held(MbAtomNewBlob((header + "L\xFF\xFF"s).data(), 19)))), box(MbListNew());
    CList& elements = *static_cast<CItem*>(missing.handle)->GetList();
    EXPECT_EQ(MbListAppend(box, missing, nullptr), 0u);
    EXPECT_EQ(elements.MadeCount(), 1) << "the nesting check makes no element";
    Held last;
    ASSERT_EQ(MbItemGetAt(missing, 65534, last.Out()), 0u);
    EXPECT_EQ(TypeOf(last), MbTypeItem);
    EXPECT_EQ(elements.MadeCount(), 65535);
    Held mixed(MbItemFromBytes(Held(MbAtomNewBlob(cases[4].bytes.data(), static_cast<uint32_t>(cases[4].bytes.size())))));
    EXPECT_EQ(TextOf(mixed), "[" + unknown + ", " + unknown + ", 1, " + unknown + ", " + unknown + "]");
}

// Elements handed out carry their own reference, so they outlive a removal on another thread.
TEST_F(ItemApi, ElementsHandedOutSurviveConcurrentRemoval) {
    Held list(MbListNew());
    std::atomic<bool> stop{false};
    std::thread remover([&] {
        while (!stop.load()) {
            MbListAppend(list, Held(MbAtomNewString("short-lived")), nullptr);
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
}

// However deep; shared subtrees are no cycle, and the check visits each of them once.
TEST_F(ItemApi, ContainersAreNeverNestedInsideThemselves) {
    Held outer(MbListNew()), middle(MbMapNew()), inner(MbListNew()), atom(MbAtomNewInt(1)), shared(MbListNew());
    ASSERT_EQ(MbMapSetNamed(middle, "inner", inner), 0u);
    ASSERT_EQ(MbListAppend(outer, middle, nullptr), 0u);
    ASSERT_EQ(MbListAppend(inner, atom, nullptr), 0u);
    trace_capture::Clear();
    ExpectResults({
        {"Append outer to inner", MbListAppend(inner, outer, nullptr), 1, true},
        {"SetAt outer in inner", MbItemSetAt(inner, 0, outer), 1, true},
        {"Set beyond the end of a list of one", MbItemSet(inner, atom, middle), 4, true},
        {"SetNamed outer in middle", MbMapSetNamed(middle, "again", outer), 1, true},
        {"SetAt middle in itself", MbItemSetAt(middle, 3, middle), 1, Refs(outer) == 1 && Refs(middle) == 2},
    });
    EXPECT_EQ(trace_capture::CountContaining("attempt to nest a container inside itself at"), 4u);
    for (int level = 0; level < 40; ++level) {
        MbItem parent = MbListNew();
        ASSERT_EQ(MbListAppend(parent, shared, nullptr), 0u);
        ASSERT_EQ(MbListAppend(parent, shared, nullptr), 0u) << "the same list twice is no cycle";
        MbHandleRelease(std::exchange(shared.handle, parent));
    }
    EXPECT_EQ(MbListAppend(inner, shared, nullptr), 0u);
    EXPECT_EQ(MbListAppend(shared, outer, nullptr), 1u) << "outer holds shared through inner";
}
