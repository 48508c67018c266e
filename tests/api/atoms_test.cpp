// Item creators, atom getters and setters through the exported functions.
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <mbus/mbus.h>

#include "api/item_api_support.h"
#include "items/item.h"

TEST_F(ItemApi, EachCreatorGivesItsTypeAndOneReference) {
    const struct {
        MbItem item;
        uint32_t type;
    } cases[] = {
        {MbAtomNewNone(), MbTypeNone},       {MbAtomNewBlob("ab", 2), MbTypeBlob},   {MbAtomNewBool(7), MbTypeBool},
        {MbAtomNewCookie(1, 2), MbTypeCookie}, {MbAtomNewInt(-4), MbTypeInt},      {MbAtomNewTime(0, 5), MbTypeLocalTime},
        {MbAtomNewReal(0.5), MbTypeReal},    {MbAtomNewTime(5, 5), MbTypeUtcTime}, {MbAtomNewString("x"), MbTypeString},
        {MbAtomNewUnsigned(3), MbTypeUnsigned}, {MbListNew(), MbTypeList},        {MbMapNew(), MbTypeMap},
        {MbAtomNewSystemTime(0, nullptr), MbTypeLocalTime},
    };
    const size_t live = LiveObjects();
    for (const auto& entry : cases) {
        ASSERT_NE(entry.item, nullptr);
        EXPECT_EQ(TypeOf(entry.item), entry.type);
        EXPECT_EQ(Refs(entry.item), 1u);
        EXPECT_EQ(MbHandleRelease(entry.item), 0u);
    }
    EXPECT_LT(LiveObjects(), live);
    EXPECT_EQ(UnknownHandleWarnings(), 0u);
}

TEST_F(ItemApi, ItemsMadeBeforeInitAreRefused) {
    MbLibraryTerm();
    EXPECT_EQ(MbAtomNewInt(1), nullptr);
    EXPECT_EQ(MbAtomNewNone(), nullptr);
    EXPECT_EQ(MbListNew(), nullptr);
    EXPECT_EQ(MbBuild("[i]", 1), nullptr);
    ASSERT_EQ(MbLibraryInit(), 1);
}

// Blob lengths use their low 16 bits; copies never pass the caller's size and say when they cut
// (5); duplicates are the caller's own memory.
TEST_F(ItemApi, BytesOutOfStringsAndBlobs) {
    const char bytes[] = "a\0cdef";
    MbItem blob = MbAtomNewBlob(bytes, 0x30003), text = MbAtomNewString("abcdef");
    const void* data = nullptr;
    uint16_t length = 0;
    ASSERT_EQ(MbAtomGetBlob(blob, &data, &length), 0u);
    EXPECT_EQ(std::string(static_cast<const char*>(data), length), std::string(bytes, 3));
    EXPECT_EQ(MbAtomSetBlob(blob, bytes, 0x10006), 0u);
    EXPECT_EQ(BlobText(blob), std::string(bytes, 6));

    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(MbAtomCopyString(text, buffer, &length, 4), 5u);
    EXPECT_EQ(std::string(buffer, 5), std::string("abc\0#", 5));
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(MbAtomCopyString(text, buffer, &length, 6), 5u) << "no room for the NUL";
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(MbAtomCopyString(text, buffer, nullptr, 7), 0u);
    EXPECT_STREQ(buffer, "abcdef");
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(MbAtomCopyBlob(blob, buffer, &length, 4), 5u);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::string(buffer, 5), std::string("a\0cd#", 5));
    EXPECT_EQ(MbAtomCopyBlob(blob, buffer, &length, 6), 0u);
    EXPECT_EQ(length, 6u);

    char* copy = nullptr;
    ASSERT_EQ(MbAtomDupString(text, &copy, &length), 0u);
    EXPECT_STREQ(copy, "abcdef");
    const char* own = nullptr;
    ASSERT_EQ(MbAtomGetString(text, &own, nullptr), 0u);
    EXPECT_NE(own, copy);
    EXPECT_EQ(MbMemoryFree(copy), 0u);
    void* duplicate = nullptr;
    ASSERT_EQ(MbAtomDupBlob(blob, &duplicate, &length), 0u);
    EXPECT_EQ(std::string(static_cast<char*>(duplicate), length), std::string(bytes, 6));
    EXPECT_EQ(MbMemoryFree(duplicate), 0u);
    EXPECT_EQ(Refs(blob), 1u) << "getters add no reference";
    MbHandleRelease(text);
    MbHandleRelease(blob);
}

// A String made from a text longer than 65,535 bytes is kept whole; 16-bit lengths saturate
// rather than wrap, and storing it is refused rather than cut.
TEST_F(ItemApi, TextsBeyond16BitLengths) {
    const std::string longText(70000, 'q');
    MbItem item = MbAtomNewString(longText.c_str());
    const char* text = nullptr;
    uint16_t length = 0;
    ASSERT_EQ(MbAtomGetString(item, &text, &length), 0u);
    EXPECT_EQ(length, 65535u);
    EXPECT_EQ(std::strlen(text), longText.size());
    char buffer[8];
    EXPECT_EQ(MbAtomCopyString(item, buffer, &length, sizeof buffer), 5u);
    EXPECT_EQ(length, 65535u);
    char* copy = nullptr;
    ASSERT_EQ(MbAtomDupString(item, &copy, &length), 0u);
    EXPECT_EQ(std::strlen(copy), longText.size());
    MbMemoryFree(copy);
    EXPECT_EQ(MbItemToBytes(item), nullptr);
    MbHandleRelease(item);
}

TEST_F(ItemApi, GettersConvertAndTellTheTimeKind) {
    MbItem real = MbAtomNewReal(2.5), boolean = MbAtomNewBool(5), cookie = MbAtomNewCookie(2, 1);
    MbItem utc = MbAtomNewTime(5, 123456789), local = MbAtomNewTime(0, -5);
    int32_t value = 0, flag = 7;
    double number = 0;
    uint64_t bits = 0;
    int64_t milliseconds = 0;
    EXPECT_EQ(MbAtomGetInt(real, &value), 0u);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(MbAtomGetBool(boolean, &value), 0u);
    EXPECT_EQ(value, 5) << "stored unchanged";
    EXPECT_EQ(MbAtomGetReal(boolean, &number), 0u);
    EXPECT_EQ(number, 1.0);
    EXPECT_EQ(MbAtomGetCookie(cookie, &bits), 0u);
    EXPECT_EQ(bits, 0x0000000100000002u);
    ASSERT_EQ(MbAtomGetTime(utc, &flag, &milliseconds), 0u);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(milliseconds, 123456789);
    ASSERT_EQ(MbAtomGetTime(local, &flag, &milliseconds), 0u);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(milliseconds, -5);
    for (MbItem item : {real, boolean, cookie, utc, local}) MbHandleRelease(item);
}

// Calendar times both ways; an all-zero or null time is time 0; an invalid one changes nothing.
TEST_F(ItemApi, SystemTimes) {
    const MbSystemTime leapDay{2024, 2, 0, 29, 12, 34, 56, 789}, zero{};
    MbItem item = MbAtomNewSystemTime(1, &leapDay);
    ASSERT_NE(item, nullptr);
    MbSystemTime back;
    int32_t flag = 0;
    int64_t milliseconds = 0;
    ASSERT_EQ(MbAtomGetSystemTime(item, &flag, &back), 0u);
    EXPECT_EQ(flag, 1);
    const MbSystemTime thursday{2024, 2, 4, 29, 12, 34, 56, 789};
    EXPECT_EQ(std::memcmp(&back, &thursday, sizeof back), 0);
    ASSERT_EQ(MbAtomGetTime(item, nullptr, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, 13353683696789) << "milliseconds since 1601";

    ASSERT_EQ(MbAtomSetTime(item, 0, 0), 0u);
    ASSERT_EQ(MbAtomGetSystemTime(item, &flag, &back), 0u);
    const MbSystemTime epoch{1601, 1, 1, 1, 0, 0, 0, 0};
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(std::memcmp(&back, &epoch, sizeof back), 0);

    const MbSystemTime february30{2023, 2, 0, 30, 0, 0, 0, 0};
    ASSERT_EQ(MbAtomSetTime(item, 1, 42), 0u);
    EXPECT_EQ(MbAtomSetSystemTime(item, 0, &february30), 1u);
    ASSERT_EQ(MbAtomGetTime(item, &flag, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, 42) << "an invalid time changes nothing";
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(MbAtomSetSystemTime(item, 0, &zero), 0u);
    ASSERT_EQ(MbAtomGetTime(item, &flag, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(MbAtomSetTime(item, 1, 42), 0u);
    EXPECT_EQ(MbAtomSetSystemTime(item, 1, nullptr), 0u);
    ASSERT_EQ(MbAtomGetTime(item, &flag, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, 0);
    MbHandleRelease(item);
}

// Setters replace any type; on a List or Map item they drop the container, which releases its
// elements; on an empty wrapper they give it an atom.
TEST_F(ItemApi, SettersReplaceAnyTypeAndTurnContainersIntoAtoms) {
    MbItem item = MbAtomNewString("text");
    EXPECT_EQ(MbAtomSetInt(item, 4), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeInt);
    EXPECT_EQ(MbAtomSetBlob(item, nullptr, 3), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeBlob);
    EXPECT_EQ(MbAtomSetString(item, nullptr), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeString);
    EXPECT_EQ(MbAtomSetUnsigned(item, 9), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeUnsigned);

    MbItem list = ListOfInts({1});
    MbItem element = nullptr;
    ASSERT_EQ(MbItemGetAt(list, 0, &element), 0u);
    CList* held = static_cast<CItem*>(list)->GetList();
    held->AddRef();
    EXPECT_EQ(MbAtomSetInt(list, 8), 0u);
    EXPECT_EQ(TypeOf(list), MbTypeInt);
    EXPECT_EQ(held->RefCount(), 1u) << "the item dropped its list";
    held->Release();
    EXPECT_EQ(Refs(element), 1u) << "the list released its element";
    MbItem map = MbMapNew();
    EXPECT_EQ(MbAtomSetString(map, "now an atom"), 0u);
    EXPECT_EQ(TypeOf(map), MbTypeString);
    CItem* empty = new CItem;
    EXPECT_EQ(TypeOf(empty), MbTypeItem);
    EXPECT_EQ(MbAtomSetInt(empty, 6), 0u);
    EXPECT_EQ(TypeOf(empty), MbTypeInt);
    empty->Release();
    for (MbItem handle : {item, list, element, map}) EXPECT_EQ(MbHandleRelease(handle), 0u);
}
