// The build format: every code, nesting limits, keys and values by position, H references,
// argument order across 32-bit, 64-bit and floating-point values, and cleanup on failure.
#include <cstdarg>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <mbus/mbus.h>

#include "api/item_api_support.h"
#include "items/item.h"
#include "items/item_tree.h"

using Build = LibraryTest;

namespace {

MbItem BuildV(const char* format, ...) {
    va_list args;
    va_start(args, format);
    MbItem item = MbBuildV(format, args);
    va_end(args);
    return item;
}

uint32_t TypeOf(MbItem item) {
    uint32_t type = 0;
    EXPECT_EQ(MbItemGetType(item, &type), 0u);
    return type;
}

uint16_t CountOf(MbItem item) {
    uint16_t count = 0;
    EXPECT_EQ(MbItemGetCount(item, &count), 0u);
    return count;
}

// The element at a position; the reference GetAt added is dropped at once (the container still
// holds one), so the result is a view for reading.
MbItem At(MbItem container, uint16_t position) {
    MbItem element = nullptr;
    EXPECT_EQ(MbItemGetAt(container, position, &element), 0u);
    MbHandleRelease(element);
    return element;
}

MbItem Named(MbItem map, const char* key) {
    MbItem element = nullptr;
    EXPECT_EQ(MbMapGetNamed(map, key, &element), 0u);
    MbHandleRelease(element);
    return element;
}

bool Same(MbItem a, MbItem b) {
    return SameTree(*static_cast<CItem*>(a), *static_cast<CItem*>(b));
}

std::string Text(MbItem item) {
    MbItem text = MbItemToText(item, 0);
    const void* data = nullptr;
    uint16_t length = 0;
    std::string result;
    if (MbAtomGetBlob(text, &data, &length) == 0) result.assign(static_cast<const char*>(data), length - 1u);
    MbHandleRelease(text);
    return result;
}

}  // namespace

TEST_F(Build, MapOfStringAndBool) {
    MbItem map = MbBuild("{s:b}", "connected", 1);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(CountOf(map), 1u);
    int32_t value = 0;
    EXPECT_EQ(MbAtomGetBool(Named(map, "connected"), &value), 0u);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(Refs(map), 1u);
    MbHandleRelease(map);
}

TEST_F(Build, SeparatorsAndBlanksAreOptional) {
    MbItem commas = MbBuild("[i, i ,i]", 1, 2, 3);
    MbItem blanks = MbBuild(" [\ti\ni\r\v\fi] ", 1, 2, 3);
    MbItem packed = MbBuild("[iii]", 1, 2, 3);
    ASSERT_NE(commas, nullptr);
    EXPECT_EQ(Text(commas), "[1, 2, 3]");
    EXPECT_TRUE(Same(commas, blanks));
    EXPECT_TRUE(Same(commas, packed));
    MbItem pairs = MbBuild("{s s}", "key", "value");
    ASSERT_NE(pairs, nullptr);
    EXPECT_EQ(Text(pairs), "{\"key\":\"value\"}");
    MbItem colons = MbBuild("{:s,:,s:}", "key", "value");
    EXPECT_TRUE(Same(pairs, colons));
    for (MbItem item : {commas, blanks, packed, pairs, colons}) MbHandleRelease(item);
}

TEST_F(Build, EveryValueCode) {
    const MbSystemTime local{2001, 2, 0, 3, 4, 5, 6, 7};
    MbItem list = MbBuild("[N B b c i u r s t g T G B s]", "xyz", 3u, 7, uint64_t{0x100000002}, -5, 4000000000u,
                          1.5, "text", int64_t{1}, int64_t{1}, &local, &local, nullptr, 5u, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Text(list),
              "[None, \"xyz\", True, 00000001-00000002, -5, 4000000000, 1.5, \"text\", 01-01-1601 00:00:00.0001 local, "
              "01-01-1601 00:00:00.0001 UTC, 02-03-2001 04:05:06.0007 local, 02-03-2001 04:05:06.0007 UTC, \"\", \"\"]");
    const uint32_t types[] = {MbTypeNone,   MbTypeBlob,      MbTypeBool,      MbTypeCookie, MbTypeInt,
                              MbTypeUnsigned, MbTypeReal,    MbTypeString,    MbTypeLocalTime, MbTypeUtcTime,
                              MbTypeLocalTime, MbTypeUtcTime, MbTypeBlob,      MbTypeString};
    ASSERT_EQ(CountOf(list), std::size(types));
    for (uint16_t position = 0; position < std::size(types); ++position) {
        EXPECT_EQ(TypeOf(At(list, position)), types[position]) << "position " << position;
    }
    int32_t flag = 0;
    int64_t milliseconds = 0;
    EXPECT_EQ(MbAtomGetTime(At(list, 8), &flag, &milliseconds), 0u);
    EXPECT_EQ(flag, 0) << "t is LocalTime";
    EXPECT_EQ(MbAtomGetTime(At(list, 9), &flag, &milliseconds), 0u);
    EXPECT_EQ(flag, 1) << "g is UtcTime";
    int32_t value = 0;
    EXPECT_EQ(MbAtomGetBool(At(list, 2), &value), 0u);
    EXPECT_EQ(value, 7);
    const void* data = &data;
    uint16_t length = 0;
    EXPECT_EQ(MbAtomGetBlob(At(list, 12), &data, &length), 3u) << "B with a null pointer: no bytes";
    MbHandleRelease(list);

    MbItem zeroLength = MbBuild("B", "abc", 0x10000u);
    EXPECT_EQ(MbAtomGetBlob(zeroLength, &data, &length), 3u) << "length 0x10000 is 0 in its low 16 bits";
    MbHandleRelease(zeroLength);
}

// 64-bit integers and doubles between 32-bit values, past the registers, keep their order.
TEST_F(Build, MixedArgumentWidthsKeepTheirOrder) {
    MbItem list = BuildV("[i c r i t r u g b r c i r i r i r i r]", 1, uint64_t{0xAAAABBBBCCCCDDDD}, 2.5, -2,
                         int64_t{-7}, 3.25, 3u, int64_t{1} << 40, 4, 4.5, uint64_t{5}, 5, 5.5, 6, 6.5, 7, 7.5, 8,
                         8.5);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Text(list),
              "[1, AAAABBBB-CCCCDDDD, 2.5, -2, 00-00-0000 00:00:00.0000 local, 3.25, 3, 11-04-1635 19:53:47.0776 "
              "UTC, True, 4.5, 00000000-00000005, 5, 5.5, 6, 6.5, 7, 7.5, 8, 8.5]");
    int64_t milliseconds = 0;
    EXPECT_EQ(MbAtomGetTime(At(list, 4), nullptr, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, -7);
    EXPECT_EQ(MbAtomGetTime(At(list, 7), nullptr, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, int64_t{1} << 40);
    uint64_t cookie = 0;
    EXPECT_EQ(MbAtomGetCookie(At(list, 1), &cookie), 0u);
    EXPECT_EQ(cookie, 0xAAAABBBBCCCCDDDDu);
    MbHandleRelease(list);
}

TEST_F(Build, NestingStopsAtSixteen) {
    const std::string sixteen = std::string(16, '[') + std::string(16, ']');
    MbItem nested = MbBuild(sixteen.c_str());
    ASSERT_NE(nested, nullptr);
    MbHandleRelease(nested);
    const std::string mixed = std::string(8, '[') + std::string(8, '{') + "s:i" + std::string(8, '}');
    EXPECT_EQ(MbBuild(mixed.c_str(), "k", 1), nullptr) << "the maps are values without keys";
    const size_t live = LiveObjects();
    const std::string seventeen = std::string(17, '[') + std::string(17, ']');
    EXPECT_EQ(MbBuild(seventeen.c_str()), nullptr);
    EXPECT_EQ(LiveObjects(), live);
}

TEST_F(Build, MalformedFormatsFailWithoutLeaks) {
    const size_t live = LiveObjects();
    MbItem held = MbAtomNewInt(1);
    const std::string highBytes[] = {"[i\x80]", "\xC3\xA9", "{i:\xFF}"};
    EXPECT_EQ(MbBuild("[}"), nullptr);
    EXPECT_EQ(MbBuild("{]"), nullptr);
    EXPECT_EQ(MbBuild("]"), nullptr);
    EXPECT_EQ(MbBuild("}"), nullptr);
    EXPECT_EQ(MbBuild("[i"), nullptr) << "left open";
    EXPECT_EQ(MbBuild("{s}", "key"), nullptr) << "a key without value";
    EXPECT_EQ(MbBuild("{s:i s}", "a", 1, "b"), nullptr);
    EXPECT_EQ(MbBuild("{[i]:s}", 1, "value"), nullptr) << "a List cannot be a key";
    EXPECT_EQ(MbBuild("{{}:s}", "value"), nullptr);
    EXPECT_EQ(MbBuild("{H:s}", MbListNew, "value"), nullptr) << "a function pointer is no handle";
    EXPECT_EQ(MbBuild("i i", 1, 2), nullptr) << "two top-level items";
    EXPECT_EQ(MbBuild("gt", int64_t{1}, int64_t{2}), nullptr);
    EXPECT_EQ(MbBuild("[i x]", 1), nullptr);
    EXPECT_EQ(MbBuild("[H H]", held, nullptr), nullptr);
    for (const std::string& format : highBytes) EXPECT_EQ(MbBuild(format.c_str(), 1), nullptr);
    EXPECT_EQ(MbBuild(nullptr), nullptr);
    EXPECT_EQ(MbBuild(""), nullptr);
    EXPECT_EQ(MbBuild(" \t,:"), nullptr);
    EXPECT_EQ(Refs(held), 1u);
    MbHandleRelease(held);
    EXPECT_EQ(LiveObjects(), live);
}

TEST_F(Build, MapKeysAlternateByPositionAndAnyAtomIsAKey) {
    MbItem map = MbBuild("{u:s i:s s:i s:i}", 7u, "seven", -1, "minus one", "dup", 1, "dup", 2);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(CountOf(map), 3u) << "a repeated key replaces the earlier value";
    const char* text = nullptr;
    EXPECT_EQ(MbAtomGetString(At(map, 7), &text, nullptr), 0u);
    EXPECT_STREQ(text, "seven");
    int32_t value = 0;
    EXPECT_EQ(MbAtomGetInt(Named(map, "dup"), &value), 0u);
    EXPECT_EQ(value, 2);
    MbHandleRelease(map);

    MbItem nested = MbBuild("{s:{s:[i{}]} s:[]}", "outer", "inner", 1, "empty");
    ASSERT_NE(nested, nullptr);
    EXPECT_EQ(Text(nested), "{\"empty\":[], \"outer\":{\"inner\":[1, {}]}}");
    MbHandleRelease(nested);
}

TEST_F(Build, HandlesKeepTheirReferences) {
    MbItem element = MbAtomNewString("shared");
    MbItem whole = MbBuild("H", element);
    EXPECT_EQ(whole, element) << "H alone returns the handle itself";
    EXPECT_EQ(Refs(element), 2u);
    MbHandleRelease(whole);

    MbItem list = MbBuild("[H s H]", element, "x", element);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Refs(element), 3u) << "the list holds two, the builder none";
    MbHandleRelease(list);
    EXPECT_EQ(Refs(element), 1u);

    MbItem key = MbAtomNewInt(5);
    MbItem map = MbBuild("{H:H}", key, element);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(Refs(key), 1u) << "the map keeps the key's atom, not the key item";
    EXPECT_EQ(static_cast<CItem*>(key)->GetAtom()->RefCount(), 2u);
    EXPECT_EQ(Refs(element), 2u);
    MbHandleRelease(map);

    CCountable* notAnItem = new CCountable;
    trace_capture::Clear();
    EXPECT_EQ(MbBuild("[H]", notAnItem), nullptr);
    EXPECT_EQ(MbBuild("[H]", ForeignHandle()), nullptr);
    EXPECT_EQ(MbBuild("H", nullptr), nullptr);
    EXPECT_EQ(UnknownHandleWarnings(), 1u) << "only the foreign handle is unknown";
    EXPECT_EQ(notAnItem->RefCount(), 1u);
    notAnItem->Release();
    EXPECT_EQ(Refs(element), 1u);
    EXPECT_EQ(Refs(key), 1u);
    MbHandleRelease(element);
    MbHandleRelease(key);
}

// A longer format broken at each position, by a bad code or by ending there, leaks nothing
// and leaves the H items with exactly the references they had.
TEST_F(Build, FailureAtEveryPositionLeaksNothing) {
    const std::string format = "{s:[i r {u:B} H] s:{s:H c:[T G]} s:[[s] {}] s:b}";
    const MbSystemTime time{2020, 1, 0, 1, 0, 0, 0, 0};
    MbItem shared = MbAtomNewReal(0.5);
    MbItem sharedMap = MbBuild("{s:i}", "k", 1);
    const auto build = [&](const std::string& text) {
        return MbBuild(text.c_str(), "a", 1, 2.0, 3u, "blob", 4u, shared, "b", "c", sharedMap, uint64_t{5}, &time,
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
    MbHandleRelease(shared);
    MbHandleRelease(sharedMap);
}

TEST_F(Build, InvalidSystemTimeFailsTheBuild) {
    const MbSystemTime bad{2020, 13, 0, 1, 0, 0, 0, 0};
    const MbSystemTime zero{};
    const size_t live = LiveObjects();
    EXPECT_EQ(MbBuild("[i T]", 1, &bad), nullptr);
    EXPECT_EQ(MbBuild("[G]", &bad), nullptr);
    EXPECT_EQ(LiveObjects(), live);
    MbItem zeros = MbBuild("[T G]", &zero, nullptr);
    ASSERT_NE(zeros, nullptr);
    EXPECT_EQ(Text(zeros), "[nil, nil]");
    MbHandleRelease(zeros);
}
