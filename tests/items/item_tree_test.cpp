// Lists, maps and whole trees: stored and text forms, loading of odd input, and size limits.
#include <random>

#include "items/item_testing.h"

namespace {

// The small message tree: proc, source, cookie and an arg map of int, real, string, list, time.
CRef<CItem> MessageTree() {
    return CRef<CItem>::Adopt(
        static_cast<CItem*>(MbBuild("{s:s s:s s:c s:{s:i s:r s:s s:[s s s s s] s:g}}", "proc", "Deliver", "source",
                                    "client-7", "cookie", uint64_t{0x0123456789ABCDEF}, "arg", "i", -42, "r", 2.5, "s",
                                    "x", "l", "alpha", "beta", "gamma", "delta", "eps", "t", int64_t{13300000000000})));
}

// A plain recursive reader with the library's rules: the oracle for partial and mutated input.
void ReferenceItem(CStorage& stream, CItem& item) {
    uint8_t letter = 0, field[2] = {0, 0};
    if (!stream.ReadByte(&letter)) return;
    if (letter == 'A') {
        CRef<CAtom> atom = CRef<CAtom>::Adopt(new CAtom);
        item.SetAtom(atom.Get());
        atom->Read(stream);
        return;
    }
    if (letter == 'L') item.SetList(CRef<CList>::Adopt(new CList).Get());
    if (letter == 'M') item.SetMap(CRef<CMap>::Adopt(new CMap).Get());
    if ((letter != 'L' && letter != 'M') || stream.ReadBytes(field, 2) != 2) return;
    for (uint32_t i = 0, count = field[0] | field[1] << 8; i < count; ++i) {
        CRef<CAtom> key = CRef<CAtom>::Adopt(new CAtom);
        if (letter == 'M') key->Read(stream);
        CRef<CItem> value = CRef<CItem>::Adopt(new CItem);
        ReferenceItem(stream, *value.Get());
        if (letter == 'L') {
            item.GetList()->Append(value.Get());
        } else if (item.GetMap()->Get(key.Get()) == nullptr) {
            item.GetMap()->Set(key.Get(), value.Get());
        }
    }
}

CRef<CItem> ReferenceLoad(const Bytes& bytes) {
    CRef<CStorage> stream = ReadingStream(Bytes(bytes.begin() + 16, bytes.end()));
    CRef<CItem> item = CRef<CItem>::Adopt(new CItem);
    ReferenceItem(*stream.Get(), *item.Get());
    return item;
}

// Runs the body on a thread with a 64 KiB stack and waits for it.
void OnSmallStack(std::function<void()> body) {
    auto run = [](void* parameter) -> DWORD {
        (*static_cast<std::function<void()>*>(parameter))();
        return 0;
    };
    HANDLE thread = CreateNamedThread(run, &body, 64 * 1024, "small stack", nullptr);
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(WaitForSingleObject(thread, 120000), WAIT_OBJECT_0);
    CloseHandle(thread);
}

}  // namespace

class ItemTreeTest : public ItemTest {};

// Stored and text forms of atoms, containers and an empty wrapper (an error both ways).
TEST_F(ItemTreeTest, StoredAndTextFormsOfTrees) {
    const std::pair<const char*, const char*> cases[] = {
        {"41 69 07 00 00 00", "7"},
        {"4C 00 00", "[]"},
        {"4D 00 00", "{}"},
        {"4C 02 00 41 69 01 00 00 00 41 73 01 00 78", "[1, \"x\"]"},
        {"4D 01 00 73 01 00 6B 41 69 07 00 00 00", "{\"k\":7}"},
        {"4C 02 00 4C 00 00 4D 01 00 73 01 00 6B 4C 01 00 4D 00 00", "[[], {\"k\":[{}]}]"},
        {"49", "(unknown item type 0x0B)"},
    };
    for (const auto& [hex, text] : cases) {
        const Bytes stored = WithHeader(FromHex(hex));
        CRef<CItem> loaded = Load(stored);
        ASSERT_TRUE(loaded) << hex;
        EXPECT_EQ(Hex(StoreBytes(*loaded.Get())), Hex(stored));
        EXPECT_EQ(TextOf(*loaded.Get()), std::string(text) + '\0');
        CRef<CItem> bare = RenderItem(*loaded.Get(), true);
        ASSERT_TRUE(bare);
        EXPECT_EQ(bare->GetAtom()->GetType(), static_cast<uint32_t>(MbTypeBlob));
        EXPECT_EQ(bare->GetAtom()->GetBlob(), nullptr) << hex;
    }
    EXPECT_EQ(trace_capture::Records().size(), 2u);
    EXPECT_EQ(Reported("**Error: unknown item type read from storage (0x49).\n"), 1u);
    EXPECT_EQ(Reported("**Error: unknown item type written to storage (0x49).\n"), 1u);
}

// Every prefix of its stored form loads as the reference reader reads it: the header alone as an
// empty wrapper; no bytes, or more than a stream holds, as nothing.
TEST_F(ItemTreeTest, MessageTreeStoresRendersAndLoadsEveryPrefixExactly) {
    CRef<CItem> root = MessageTree();
    const Bytes stored = StoreBytes(*root.Get());
    EXPECT_EQ(Hex(stored),
              Hex(HeaderBytes()) +
                  " 4D 04 00"
                  " 73 03 00 61 72 67 4D 05 00"     // "arg": {
                  " 73 01 00 69 41 69 D6 FF FF FF"  // "i": -42
                  " 73 01 00 6C 4C 05 00"           // "l": [
                  " 41 73 05 00 61 6C 70 68 61 41 73 04 00 62 65 74 61 41 73 05 00 67 61 6D 6D 61"
                  " 41 73 05 00 64 65 6C 74 61 41 73 03 00 65 70 73"
                  " 73 01 00 72 41 72 00 00 00 00 00 00 04 40"  // "r": 2.5
                  " 73 01 00 73 41 73 01 00 78"                 // "s": "x"
                  " 73 01 00 74 41 74 00 88 C6 A5 18 0C 00 00"  // "t": time
                  " 73 06 00 63 6F 6F 6B 69 65 41 63 EF CD AB 89 67 45 23 01"
                  " 73 04 00 70 72 6F 63 41 73 07 00 44 65 6C 69 76 65 72"
                  " 73 06 00 73 6F 75 72 63 65 41 73 08 00 63 6C 69 65 6E 74 2D 37");
    EXPECT_EQ(TextOf(*root.Get()),
              std::string("{\"arg\":{\"i\":-42, \"l\":[\"alpha\", \"beta\", \"gamma\", \"delta\", \"eps\"], \"r\":2.5, "
                          "\"s\":\"x\", \"t\":06-18-2022 04:26:40.0000 UTC}, \"cookie\":01234567-89ABCDEF, "
                          "\"proc\":\"Deliver\", \"source\":\"client-7\"}") +
                  '\0');
    EXPECT_TRUE(SameTree(*Load(stored).Get(), *root.Get()));
    for (size_t length = 0; length <= stored.size(); ++length) {
        const Bytes prefix(stored.begin(), stored.begin() + length);
        CRef<CItem> loaded = Load(prefix);
        if (length < 16) {
            EXPECT_FALSE(loaded);
            continue;
        }
        ASSERT_TRUE(loaded);
        CRef<CItem> expected = ReferenceLoad(prefix);
        EXPECT_TRUE(SameTree(*loaded.Get(), *expected.Get())) << "prefix of " << length << " bytes";
    }
    EXPECT_FALSE(LoadItem(nullptr, 5));
    EXPECT_FALSE(LoadItem(stored.data(), 65536));
}

// A tree whose forms pass 65,535 bytes, or that contains itself, is refused whole.
TEST_F(ItemTreeTest, TreesTooLargeOrContainingThemselvesAreRefused) {
    CRef<CItem> list = CItem::NewList(), text = CItem::NewAtom();
    text->GetAtom()->SetString(std::string(1000, 'z').c_str());
    for (int i = 0; i < 66; ++i) list->GetList()->Append(text.Get());
    EXPECT_FALSE(StoreItem(*list.Get()));
    EXPECT_FALSE(RenderItem(*list.Get(), false));
    EXPECT_EQ(Reported("storage full"), 2u);
    list->GetList()->Remove(0);
    list->GetList()->Remove(0);
    EXPECT_EQ(StoreBytes(*list.Get()).size(), 16u + 3 + 64 * (4 + 1000));
    list->GetList()->Append(list.Get());
    EXPECT_FALSE(StoreItem(*list.Get()));
    EXPECT_FALSE(RenderItem(*list.Get(), false));
    list->GetList()->Clear();
}

// 21,838 lists (65,533 bytes with the header), as many maps, and deeper lists built in memory,
// all handled on a 64 KiB stack.
TEST_F(ItemTreeTest, DeepestTreesOnASmallStack) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's lock-order checker follows at most 64 held locks; each level holds one";
#endif
    for (const char* level : {"4C 01 00", "4D 01 00 6E"}) {
        const Bytes step = FromHex(level);
        Bytes stored = HeaderBytes();
        const size_t depth = (65535 - 16 - 3) / step.size();
        for (size_t i = 0; i < depth; ++i) stored.insert(stored.end(), step.begin(), step.end());
        stored.insert(stored.end(), {step[0], 0, 0});
        OnSmallStack([&] {
            CRef<CItem> loaded = Load(stored), again = Load(stored);
            ASSERT_TRUE(loaded);
            EXPECT_EQ(StoreBytes(*loaded.Get()), stored);
            EXPECT_TRUE(SameTree(*loaded.Get(), *again.Get()));
            EXPECT_TRUE(RenderItem(*loaded.Get(), true));
            // "[" and "]" per list fit; "{None:" and "}" per map do not, and are refused.
            EXPECT_EQ(TextOf(*loaded.Get()).size(), step[0] == 'L' ? 2 * (depth + 1) + 1 : 0);
        });
    }
    // Under load a store of the whole tree may also hold the outer lock long enough for a
    // slow-lock line; errors are the one refused map render only.
    EXPECT_EQ(Reported("**Error:"), 1u);
    EXPECT_EQ(Reported("storage full"), 1u);
    OnSmallStack([] {
        CRef<CItem> root = CItem::NewList();
        CItem* inner = root.Get();
        for (int i = 0; i < 100000; ++i) {
            CRef<CItem> next = CItem::NewList();
            inner->GetList()->Append(next.Get());
            inner = next.Get();
        }
        EXPECT_FALSE(StoreItem(*root.Get()));
        EXPECT_FALSE(RenderItem(*root.Get(), false));
    });
}

// Bytes that announce far more elements than they hold make at most 65,535 empty elements.
TEST_F(ItemTreeTest, AnnouncedButMissingElementsAreBounded) {
    Bytes stored = HeaderBytes();
    for (int i = 0; i < 1000; ++i) stored.insert(stored.end(), {0x4C, 0xFF, 0xFF});
    CRef<CItem> loaded = Load(stored);
    ASSERT_TRUE(loaded);
    size_t elements = 0;
    CItem* at = loaded.Get();
    while (at != nullptr && at->GetList() != nullptr) {
        elements += at->GetList()->Count();
        at = at->GetList()->Get(0);
    }
    // The 999 outer lists hold the next one; the innermost gets the 65,535 missing elements.
    EXPECT_EQ(elements, 999u + 65535u);
    EXPECT_EQ(Reported("**Error: stored items announce more elements than they hold.\n"), 1u);
#if !defined(__SANITIZE_THREAD__)  // a walk holds a lock per level: more than the checker follows
    // Their letters fill the stream to its last byte; one more fails it. Their text fills it to
    // 13 bytes short of its end; the next text is 24 bytes.
    EXPECT_FALSE(StoreItem(*loaded.Get()));
    EXPECT_EQ(Reported("**Error: storage full: cannot hold 1 more byte(s).\n"), 1u);
    EXPECT_FALSE(RenderItem(*loaded.Get(), false));
    EXPECT_EQ(Reported("**Error: storage full: cannot hold 24 more byte(s).\n"), 1u);
#endif
}

TEST_F(ItemTreeTest, RandomMutationsNeverBreakTheLoader) {
    CRef<CItem> root = MessageTree();
    const Bytes original = StoreBytes(*root.Get());
    std::mt19937 random(20240607);
    MbTracerSet(nullptr);
    for (int round = 0; round < 300; ++round) {
        Bytes bytes = original;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = 16 + random() % (bytes.size() - 16);
            switch (random() % 5) {
                case 0: bytes[at] = static_cast<uint8_t>(random()); break;
                case 1: bytes[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
                case 2: bytes.erase(bytes.begin() + static_cast<ptrdiff_t>(at)); break;
                case 3: bytes.insert(bytes.begin() + static_cast<ptrdiff_t>(at), static_cast<uint8_t>(random())); break;
                default: bytes.resize(at); break;
            }
            if (bytes.size() <= 16) bytes = original;
        }
        CRef<CItem> loaded = Load(bytes);
        ASSERT_TRUE(loaded);
        CRef<CItem> expected = ReferenceLoad(bytes);
        ASSERT_TRUE(SameTree(*loaded.Get(), *expected.Get())) << "round " << round << ": " << Hex(bytes);
        const Bytes again = StoreBytes(*loaded.Get());
        if (again.empty()) continue;
        CRef<CItem> reloaded = Load(again);
        ASSERT_TRUE(SameTree(*loaded.Get(), *reloaded.Get())) << "round " << round << ": " << Hex(bytes);
        RenderItem(*loaded.Get(), round % 2 == 0);
    }
    MbTracerSet(&trace_capture::Callback);
}

// A load's nodes are tracked as any others: a loaded element is a valid handle until it goes,
// then a stale one. An element released once too often leaves its list a warning, not freed
// memory, when the list lets go of it.
TEST_F(ItemTreeTest, LoadedNodesValidateAndAnOverReleasedElementWarns) {
    Held loaded(MbItemFromBytes(Held(MbItemToBytes(Held(MbBuild("[i,i]", 1, 2))))));
    MbItem element = nullptr;
    ASSERT_EQ(MbItemGetAt(loaded, 0, &element), 0u);
    EXPECT_EQ(Refs(element), 2u);
    EXPECT_EQ(MbHandleRelease(element), 0u);
    EXPECT_EQ(MbHandleRelease(element), 0u);
    EXPECT_EQ(MbHandleAddRef(element), 3u);
    loaded.Out();
    EXPECT_EQ(trace_capture::CountContaining("attempt to release an unknown object at"), 1u);
}

class ListTest : public ItemTest {};

// Reading replaces the elements; elements announced but missing become empty wrappers (the
// short stream reported once). Those behind the first stay unmade until a change at or behind
// them needs them.
TEST_F(ListTest, ReadingReplacesAndFillsAnnouncedElements) {
    CList list;
    CRef<CItem> one = IntItem(1), two = IntItem(2);
    list.Append(one.Get());
    CRef<CStorage> stream = ReadingStream(FromHex("00 00 03 00 41 69 05 00 00 00"));
    EXPECT_EQ(list.Read(*stream.Get()), 2);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(one->RefCount(), 1);
    EXPECT_EQ(list.Read(*stream.Get()), 8);
    EXPECT_EQ(Rendered(list), "[5, (unknown item type 0x0B), (unknown item type 0x0B)]");
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 1u);

    EXPECT_EQ(list.Read(*ReadingStream(FromHex("06 00 41 69 05 00 00 00")).Get()), 8);
    EXPECT_EQ(list.Count(), 6);
    EXPECT_EQ(list.MadeCount(), 2);
    list.Remove(5);
    EXPECT_EQ(list.Count(), 5);
    EXPECT_EQ(list.MadeCount(), 2);
    uint16_t used = 0;
    EXPECT_TRUE(list.Insert(4, two.Get(), &used));
    EXPECT_EQ(used, 4);
    EXPECT_EQ(list.MadeCount(), 5);
    EXPECT_EQ(Hex(Stored(list)), "06 00 41 69 05 00 00 00 49 49 49 41 69 02 00 00 00 49");
    EXPECT_TRUE(list.Set(5, one.Get()));
    EXPECT_EQ(list.MadeCount(), 6);
    EXPECT_EQ(Hex(Stored(list)), "06 00 41 69 05 00 00 00 49 49 49 41 69 02 00 00 00 41 69 01 00 00 00");
    EXPECT_EQ(one->RefCount(), 2);
    EXPECT_EQ(two->RefCount(), 2);
    std::string forty = "[(unknown item type 0x0B)";
    for (int i = 1; i < 40; ++i) forty += ", (unknown item type 0x0B)";
    EXPECT_EQ(list.Read(*ReadingStream(FromHex("28 00")).Get()), 2);
    EXPECT_EQ(Rendered(list), forty + "]");
    EXPECT_EQ(Rendered(list, true), "");
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
    EXPECT_FALSE(list.Append(IntItem(2))) << "a refused taken element is released (the leak check sees it)";
    EXPECT_EQ(list.Count(), 65535);
    list.Clear();
    EXPECT_EQ(even->RefCount(), 1);
    EXPECT_EQ(odd->RefCount(), 1);
}

class MapTest : public ItemTest {};

// An equivalent key replaces key and value; a null value removes; a null key fails.
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
    // The taking forms hold the caller's reference instead of adding one; an empty one fails.
    CRef<CItem> third = IntItem(3);
    CItem* const taken = third.Get();
    EXPECT_TRUE(map.SetNamed("t", std::move(third)));
    EXPECT_TRUE(map.Set(stringKey.Get(), IntItem(4)));
    EXPECT_EQ(taken->RefCount(), 1);
    EXPECT_FALSE(map.SetNamed("u", CRef<CItem>()));
    EXPECT_FALSE(map.Set(nullptr, IntItem(5)));
    EXPECT_EQ(Rendered(map), "{\"k\":4, \"t\":3}");
}

// Short String keys that a map makes itself are kept as their bytes, without an atom, until
// KeyAt asks: every form is still that of the key atom, which is then made once. Read keys are
// checked against an atom reading the same bytes, SetNamed keys against Set with a String atom.
TEST_F(MapTest, KeysKeptAsBytesActAsTheirAtoms) {
    const std::string fifteen(15, 'k'), sixteen(16, 'k');
    const Bytes value = FromHex("41 69 07 00 00 00");
    struct Case {
        const char* what;
        Bytes key;
        size_t atoms;  // key atoms made by the read
    };
    const Case reads[] = {
        {"one byte", FromHex("73 01 00 61"), 0},
        {"fifteen bytes", FromHex("73 0F 00 " + Hex(Bytes(fifteen.begin(), fifteen.end()))), 0},
        {"a NUL inside", FromHex("73 03 00 61 00 62"), 0},
        {"sixteen bytes", FromHex("73 10 00 " + Hex(Bytes(sixteen.begin(), sixteen.end()))), 1},
        {"String holding nothing", FromHex("73 00 00"), 1},
        {"Blob", FromHex("64 01 00 61"), 1},
        {"Int", FromHex("69 07 00 00 00"), 1},
    };
    for (const Case& c : reads) {
        CRef<CAtom> atom = MakeAtom([&](CAtom& a) { a.Read(*ReadingStream(c.key).Get()); });
        Bytes stored = FromHex("01 00");
        stored.insert(stored.end(), c.key.begin(), c.key.end());
        stored.insert(stored.end(), value.begin(), value.end());
        const size_t live = LiveObjects();
        CMap map;
        map.Read(*ReadingStream(stored).Get());
        EXPECT_EQ(LiveObjects() - live, 3 + c.atoms) << c.what << ": map, value wrapper and Int";
        EXPECT_EQ(Hex(Stored(map)), Hex(stored)) << c.what;
        EXPECT_EQ(Rendered(map), std::string("{").append(Rendered(*atom.Get())).append(":7}")) << c.what;
        ASSERT_NE(map.Get(atom.Get()), nullptr) << c.what;
        CAtom* key = map.KeyAt(0);
        ASSERT_NE(key, nullptr) << c.what;
        EXPECT_EQ(map.KeyAt(0), key) << c.what << ": made once";
        EXPECT_EQ(LiveObjects() - live, 4u) << c.what;
        EXPECT_EQ(key->GetType(), atom->GetType()) << c.what;
        EXPECT_EQ(Hex(Stored(*key)), Hex(Stored(*atom.Get()))) << c.what;
        EXPECT_EQ(Hex(Stored(map)), Hex(stored)) << c.what << ": unchanged by KeyAt";
    }
    for (const char* text : {"", static_cast<const char*>(nullptr), "k", fifteen.c_str(), sixteen.c_str()}) {
        const std::string what = text == nullptr ? std::string("null") : std::string(text) + " (text)";
        CMap named, keyed;
        ASSERT_TRUE(named.SetNamed(text, IntItem(7)));
        ASSERT_TRUE(keyed.Set(MakeAtom(String(text)).Get(), IntItem(7)));
        EXPECT_EQ(Hex(Stored(named)), Hex(Stored(keyed))) << what;
        EXPECT_EQ(Rendered(named), Rendered(keyed)) << what;
        EXPECT_NE(named.GetNamed(text), nullptr) << what;
        CAtom* key = nullptr;
        CItem* found = nullptr;
        ASSERT_TRUE(named.EntryAt(0, &key, &found)) << what;
        EXPECT_EQ(named.KeyAt(0), key) << what;
        EXPECT_EQ(Hex(Stored(*key)), Hex(Stored(*keyed.KeyAt(0)))) << what;
    }
    // Trees alike but for the form of their keys are the same tree; one byte apart they are not.
    CRef<CItem> named = CItem::NewMap(), keyed = CItem::NewMap(), other = CItem::NewMap();
    named->GetMap()->SetNamed("key", IntItem(1));
    keyed->GetMap()->Set(MakeAtom(String("key")).Get(), IntItem(1));
    other->GetMap()->SetNamed("kez", IntItem(1));
    EXPECT_TRUE(SameTree(*named.Get(), *keyed.Get()));
    EXPECT_FALSE(SameTree(*named.Get(), *other.Get()));
}

// Announced but missing entries collapse into one None key of an empty wrapper.
TEST_F(MapTest, ReadingSortsKeepsFirstDuplicatesAndFillsAnnouncedEntries) {
    CRef<CStorage> stream =
        ReadingStream(FromHex("03 00 73 01 00 62 41 69 01 00 00 00 73 01 00 61 41 69 02 00 00 00"
                              " 73 01 00 62 41 69 03 00 00 00 04 00 73 01 00 6B 41 69 07 00 00 00"));
    CMap map;
    map.Read(*stream.Get());
    EXPECT_EQ(Rendered(map), "{\"a\":2, \"b\":1}");
    EXPECT_EQ(map.Read(*stream.Get()), 12);
    EXPECT_EQ(Rendered(map), "{None:(unknown item type 0x0B), \"k\":7}");
    EXPECT_EQ(Reported("failed to read 1 byte(s) from storage (read 0)"), 1u);
    // Keys kept as bytes sort among key atoms: an Int, a String too long to keep as bytes.
    const std::string sixteen = Hex(Bytes(16, 'a'));
    map.Read(
        *ReadingStream(FromHex("04 00 73 01 00 62 41 69 01 00 00 00 73 10 00 " + sixteen +
                               " 41 69 02 00 00 00 69 05 00 00 00 41 69 03 00 00 00 73 01 00 62 41 69 04 00 00 00"))
             .Get());
    EXPECT_EQ(Rendered(map), "{5:3, \"aaaaaaaaaaaaaaaa\":2, \"b\":1}");
}
