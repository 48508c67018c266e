// The build format: codes, separators, nesting limits, H references, argument widths, cleanup.
#include <cstdarg>
#include <functional>
#include <thread>

#include "support/item_handles.h"

using Build = ItemTest;

static MbItem BuildV(const char* format, ...) {
    va_list args;
    va_start(args, format);
    MbItem item = MbBuildV(format, args);
    va_end(args);
    return item;
}

// A null text where the build must fail, keeping the H items' references; the fixture checks
// that nothing leaked.
TEST_F(Build, FormatsAndTheirResults) {
    const MbSystemTime zero{}, month13{2020, 13, 0, 1, 0, 0, 0, 0};
    const std::string sixteen = std::string(16, '[') + std::string(16, ']');
    const std::string seventeen = std::string(17, '[') + std::string(17, ']');
    const std::string mixed = std::string(8, '[') + std::string(8, '{') + "s:i" + std::string(8, '}');
    Held held(MbAtomNewInt(1));
    const CRef<CCountable> notAnItem = CRef<CCountable>::Adopt(new CCountable);
    const struct {
        const char* what;
        std::function<MbItem()> build;
        const char* text;
    } cases[] = {
        {"map", [] { return MbBuild("{s:b}", "connected", 1); }, "{\"connected\":True}"},
        {"commas", [] { return MbBuild("[i, i ,i]", 1, 2, 3); }, "[1, 2, 3]"},
        {"blanks", [] { return MbBuild(" [\ti\ni\r\v\fi] ", 1, 2, 3); }, "[1, 2, 3]"},
        {"colons", [] { return MbBuild("{:s,:,s:}", "key", "value"); }, "{\"key\":\"value\"}"},
        {"keys by position, repeated key replaces",
         [] { return MbBuild("{u:s i:s s:i s:i}", 7u, "seven", -1, "minus one", "dup", 1, "dup", 2); },
         "{-1:\"minus one\", 7:\"seven\", \"dup\":2}"},
        {"nested", [] { return MbBuild("{s:{s:[i{}]} s:[]}", "outer", "inner", 1, "empty"); },
         "{\"empty\":[], \"outer\":{\"inner\":[1, {}]}}"},
        {"16 lists deep", [&] { return MbBuild(sixteen.c_str()); }, "[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]"},
        {"zero and null times", [&] { return MbBuild("[T G]", &zero, nullptr); }, "[nil, nil]"},
        {"blob length 0x10000", [] { return MbBuild("B", "abc", 0x10000u); }, "\"\""},
        {"17 lists deep", [&] { return MbBuild(seventeen.c_str()); }, nullptr},
        {"maps as values without keys", [&] { return MbBuild(mixed.c_str(), "k", 1); }, nullptr},
        {"[}", [] { return MbBuild("[}"); }, nullptr},
        {"a close beyond the top", [] { return MbBuild("[i]}", 1); }, nullptr},
        {"key without value", [] { return MbBuild("{s}", "key"); }, nullptr},
        {"List key", [] { return MbBuild("{[i]:s}", 1, "value"); }, nullptr},
        {"function pointer as H", [] { return MbBuild("{H:s}", MbListNew, "value"); }, nullptr},
        {"two top-level items", [] { return MbBuild("i i", 1, 2); }, nullptr},
        {"null H after a good one", [&] { return MbBuild("[H H]", held.handle, nullptr); }, nullptr},
        {"byte 0x80", [] { return MbBuild("[i\x80]", 1); }, nullptr},
        {"null format", [] { return MbBuild(nullptr); }, nullptr},
        {"only separators", [] { return MbBuild(" \t,:"); }, nullptr},
        {"invalid LocalTime", [&] { return MbBuild("[i T]", 1, &month13); }, nullptr},
        {"H of a non-item", [&] { return MbBuild("[H]", notAnItem.Get()); }, nullptr},
        {"foreign H", [] { return MbBuild("[H]", ForeignHandle()); }, nullptr},
    };
    for (const auto& c : cases) {
        Held item(c.build());
        if (c.text == nullptr) {
            EXPECT_EQ(item.handle, nullptr) << c.what;
            continue;
        }
        ASSERT_NE(item.handle, nullptr) << c.what;
        EXPECT_EQ(TextOf(item), c.text) << c.what;
        EXPECT_EQ(Refs(item), 1u);
    }
    EXPECT_EQ(UnknownHandleWarnings(), 2u) << "the function pointer and the foreign handle";
    EXPECT_EQ(Refs(held), 1u);
    EXPECT_EQ(notAnItem->RefCount(), 1u);
}

// 64-bit integers and doubles between 32-bit values, past the registers, keep their order.
TEST_F(Build, EveryValueCodeAndMixedArgumentWidths) {
    const MbSystemTime local{2001, 2, 0, 3, 4, 5, 6, 7};
    Held list(MbBuild("[N B b c i u r s t g T G B s]", "xyz", 3u, 7, uint64_t{0x100000002}, -5, 4000000000u,
                          1.5, "text", int64_t{1}, int64_t{1}, &local, &local, nullptr, 5u, nullptr));
    ASSERT_NE(list.handle, nullptr);
    EXPECT_EQ(TextOf(list),
              "[None, \"xyz\", True, 00000001-00000002, -5, 4000000000, 1.5, \"text\", 01-01-1601 00:00:00.0001 local, "
              "01-01-1601 00:00:00.0001 UTC, 02-03-2001 04:05:06.0007 local, 02-03-2001 04:05:06.0007 UTC, \"\", \"\"]");
    CList* elements = list.Item()->GetList();  // Blob and String render alike
    for (uint16_t at : {1, 12}) EXPECT_EQ(TypeOf(elements->Get(at)), MbTypeBlob) << at;
    for (uint16_t at : {7, 13}) EXPECT_EQ(TypeOf(elements->Get(at)), MbTypeString) << at;
    int32_t value = 0;
    EXPECT_EQ(MbAtomGetBool(elements->Get(2), &value), 0u);
    EXPECT_EQ(value, 7);

    Held mixed(BuildV("[i c r i t r u g b r c i r i r i r i r]", 1, uint64_t{0xAAAABBBBCCCCDDDD}, 2.5, -2, int64_t{-7},
                  3.25, 3u, int64_t{1} << 40, 4, 4.5, uint64_t{5}, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8.5));
    ASSERT_NE(mixed.handle, nullptr);
    EXPECT_EQ(TextOf(mixed),
              "[1, AAAABBBB-CCCCDDDD, 2.5, -2, 00-00-0000 00:00:00.0000 local, 3.25, 3, 11-04-1635 19:53:47.0776 "
              "UTC, True, 4.5, 00000000-00000005, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8.5]");
    int64_t milliseconds = 0;
    EXPECT_EQ(MbAtomGetTime(mixed.Item()->GetList()->Get(4), nullptr, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, -7);
}

// Alone, H returns the handle itself; a map keeps the key item's atom, not the key item.
TEST_F(Build, HandlesKeepTheirReferences) {
    Held element(MbAtomNewString("shared")), key(MbAtomNewInt(5));
    {
        Held whole(MbBuild("H", element.handle)), list(MbBuild("[H s H]", element.handle, "x", element.handle));
        EXPECT_EQ(whole.handle, element.handle);
        ASSERT_NE(list.handle, nullptr);
        EXPECT_EQ(Refs(element), 4u) << "one for the handle itself, two the list holds, none the builder's";
    }
    Held map(MbBuild("{H:H}", key.handle, element.handle));
    ASSERT_NE(map.handle, nullptr);
    EXPECT_EQ(Refs(key), 1u);
    EXPECT_EQ(key.Item()->GetAtom()->RefCount(), 2u);
    EXPECT_EQ(Refs(element), 2u);
}

// A format broken at each position, by a bad code or by ending there.
TEST_F(Build, FailureAtEveryPositionLeaksNothing) {
    const std::string format = "{s:[i r {u:B} H] s:{s:H c:[T G]} s:[[s] {}] s:b}";
    const MbSystemTime time{2020, 1, 0, 1, 0, 0, 0, 0};
    Held shared(MbAtomNewReal(0.5)), sharedMap(MbBuild("{s:i}", "k", 1));
    const auto build = [&](const std::string& text) {
        return MbBuild(text.c_str(), "a", 1, 2.0, 3u, "blob", 4u, shared.handle, "b", "c", sharedMap.handle, uint64_t{5}, &time,
                       &time, "d", "e", "f", 1);
    };
    MbItem whole = build(format);
    ASSERT_NE(whole, nullptr);
    EXPECT_EQ(Refs(shared), 2u);
    EXPECT_EQ(Refs(sharedMap), 2u);
    MbHandleRelease(whole);
    const size_t live = LiveObjects();
    for (size_t at = 0; at < format.size(); ++at) {
        std::string broken = format;
        broken[at] = 'x';
        EXPECT_EQ(build(broken), nullptr) << broken;
        EXPECT_EQ(build(format.substr(0, at)), nullptr) << format.substr(0, at);
        ASSERT_EQ(LiveObjects(), live) << "at " << at;
        ASSERT_EQ(Refs(shared), 1u) << "at " << at;
        ASSERT_EQ(Refs(sharedMap), 1u) << "at " << at;
    }
}

// A built tree is shared before MbBuild returns: threads that change its containers at once
// lose nothing.
TEST_F(Build, BuiltTreesLockForEveryThread) {
    Held tree(MbBuild("{s:[i] s:{s:[]}}", "a", 1, "b", "c"));
    Held a, b, c;
    ASSERT_EQ(MbMapGetNamed(tree, "a", a.Out()), 0u);
    ASSERT_EQ(MbMapGetNamed(tree, "b", b.Out()), 0u);
    ASSERT_EQ(MbMapGetNamed(b, "c", c.Out()), 0u);
    constexpr int kAppends = 5000;
    const auto append = [&] {
        for (int i = 0; i < kAppends; ++i) {
            MbListAppend(a, Held(MbAtomNewInt(i)), nullptr);
            MbListAppend(c, Held(MbAtomNewInt(i)), nullptr);
            MbMapSetNamed(b, i % 2 == 0 ? "even" : "odd", Held(MbAtomNewInt(i)));
        }
    };
    std::thread other(append);
    append();
    other.join();
    uint16_t count = 0;
    EXPECT_EQ(MbItemGetCount(a, &count), 0u);
    EXPECT_EQ(count, 2 * kAppends + 1);
    EXPECT_EQ(MbItemGetCount(c, &count), 0u);
    EXPECT_EQ(count, 2 * kAppends);
    EXPECT_EQ(MbItemGetCount(b, &count), 0u);
    EXPECT_EQ(count, 3);
}
