// Item creators, atom getters and setters through the exported functions.
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <mbus/mbus.h>

#include "api/item_api_support.h"
#include "items/item.h"

namespace {

uint32_t TypeOf(MbItem item) {
    uint32_t type = 99;
    EXPECT_EQ(MbItemGetType(item, &type), 0u);
    return type;
}

MbSystemTime Time(uint16_t year, uint16_t month, uint16_t day, uint16_t hour, uint16_t minute, uint16_t second,
                  uint16_t milliseconds) {
    return MbSystemTime{year, month, 0, day, hour, minute, second, milliseconds};
}

}  // namespace

TEST_F(ItemApi, EachCreatorGivesItsTypeAndOneReference) {
    const struct {
        MbItem item;
        uint32_t type;
    } cases[] = {
        {MbAtomNewNone(), MbTypeNone},
        {MbAtomNewBlob("ab", 2), MbTypeBlob},
        {MbAtomNewBool(7), MbTypeBool},
        {MbAtomNewCookie(1, 2), MbTypeCookie},
        {MbAtomNewInt(-4), MbTypeInt},
        {MbAtomNewTime(0, 5), MbTypeLocalTime},
        {MbAtomNewReal(0.5), MbTypeReal},
        {MbAtomNewTime(5, 5), MbTypeUtcTime},
        {MbAtomNewString("x"), MbTypeString},
        {MbAtomNewUnsigned(3), MbTypeUnsigned},
        {MbListNew(), MbTypeList},
        {MbMapNew(), MbTypeMap},
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

TEST_F(ItemApi, EmptyStringsAndBlobsHaveNoBytes) {
    MbItem items[] = {MbAtomNewString(""), MbAtomNewString(nullptr)};
    for (MbItem item : items) {
        const char* text = "sentinel";
        uint16_t length = 9;
        EXPECT_EQ(MbAtomGetString(item, &text, &length), 3u);
        EXPECT_EQ(text, nullptr);
        EXPECT_EQ(length, 0u);
        char buffer[4] = "zz";
        EXPECT_EQ(MbAtomCopyString(item, buffer, &length, sizeof buffer), 3u);
        EXPECT_EQ(buffer[0], '\0');
        MbHandleRelease(item);
    }
    MbItem blobs[] = {MbAtomNewBlob("abc", 0), MbAtomNewBlob(nullptr, 5), MbAtomNewBlob("abc", 0x10000)};
    for (MbItem blob : blobs) {
        EXPECT_EQ(TypeOf(blob), MbTypeBlob);
        const void* data = &data;
        uint16_t length = 9;
        EXPECT_EQ(MbAtomGetBlob(blob, &data, &length), 3u);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(length, 0u);
        char buffer[4];
        uint16_t count = 9;
        EXPECT_EQ(MbAtomCopyBlob(blob, buffer, &count, sizeof buffer), 3u);
        EXPECT_EQ(count, 0u);
        MbHandleRelease(blob);
    }
}

TEST_F(ItemApi, BlobLengthUsesItsLow16Bits) {
    const char bytes[] = "abcdef";
    MbItem blob = MbAtomNewBlob(bytes, 0x30003);
    const void* data = nullptr;
    uint16_t length = 0;
    ASSERT_EQ(MbAtomGetBlob(blob, &data, &length), 0u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(data, "abc", 3), 0);
    EXPECT_EQ(MbAtomSetBlob(blob, bytes, 0x10005), 0u);
    ASSERT_EQ(MbAtomGetBlob(blob, &data, &length), 0u);
    EXPECT_EQ(length, 5u);
    MbHandleRelease(blob);
}

TEST_F(ItemApi, CopiesNeverPassTheCallersSize) {
    MbItem text = MbAtomNewString("abcdef");
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    uint16_t length = 0;
    EXPECT_EQ(MbAtomCopyString(text, buffer, &length, 4), 5u);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(buffer[4], '#');
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(MbAtomCopyString(text, buffer, &length, 6), 5u) << "no room for the NUL";
    EXPECT_STREQ(buffer, "abcde");
    EXPECT_EQ(MbAtomCopyString(text, buffer, nullptr, 7), 0u);
    EXPECT_STREQ(buffer, "abcdef");

    MbItem blob = MbAtomNewBlob("a\0cdef", 6);
    std::memset(buffer, '#', sizeof buffer);
    uint16_t count = 0;
    EXPECT_EQ(MbAtomCopyBlob(blob, buffer, &count, 4), 5u);
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(std::memcmp(buffer, "a\0cd#", 5), 0);
    EXPECT_EQ(MbAtomCopyBlob(blob, buffer, &count, 6), 0u);
    EXPECT_EQ(count, 6u);

    EXPECT_EQ(MbAtomCopyBlob(blob, nullptr, &count, 4), 3u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(MbAtomCopyBlob(blob, buffer, &count, 0), 3u);
    EXPECT_EQ(MbAtomCopyString(text, buffer, &length, 0), 3u);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(buffer[0], 'a') << "size 0: nothing written";
    MbHandleRelease(text);
    MbHandleRelease(blob);
}

TEST_F(ItemApi, DuplicatesBelongToTheCaller) {
    MbItem text = MbAtomNewString("hello");
    char* copy = nullptr;
    uint16_t length = 0;
    ASSERT_EQ(MbAtomDupString(text, &copy, &length), 0u);
    EXPECT_STREQ(copy, "hello");
    EXPECT_EQ(length, 5u);
    const char* own = nullptr;
    ASSERT_EQ(MbAtomGetString(text, &own, nullptr), 0u);
    EXPECT_NE(own, copy);
    EXPECT_EQ(MbMemoryFree(copy), 0u);

    MbItem blob = MbAtomNewBlob("\x01\x00\x02", 3);
    void* bytes = nullptr;
    ASSERT_EQ(MbAtomDupBlob(blob, &bytes, &length), 0u);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(bytes, "\x01\x00\x02", 3), 0);
    EXPECT_EQ(MbMemoryFree(bytes), 0u);

    EXPECT_EQ(MbAtomDupBlob(blob, &bytes, nullptr), 3u);
    EXPECT_EQ(bytes, nullptr);
    EXPECT_EQ(MbAtomDupString(blob, &copy, &length), 2u);
    EXPECT_EQ(copy, nullptr);
    EXPECT_EQ(MbAtomDupBlob(text, &bytes, &length), 2u);
    MbHandleRelease(text);
    MbHandleRelease(blob);
}

TEST_F(ItemApi, ConvertingGettersFollowTheAtomConversions) {
    MbItem real = MbAtomNewReal(2.5);
    int32_t value = 99;
    EXPECT_EQ(MbAtomGetInt(real, &value), 0u);
    EXPECT_EQ(value, 3);
    uint32_t unsignedValue = 99;
    EXPECT_EQ(MbAtomSetReal(real, -0.1), 0u);
    EXPECT_EQ(MbAtomGetUnsigned(real, &unsignedValue), 2u);
    EXPECT_EQ(unsignedValue, 0u) << "cleared on failure";
    EXPECT_EQ(MbAtomSetReal(real, 2147483647.5), 0u);
    value = 99;
    EXPECT_EQ(MbAtomGetInt(real, &value), 2u);
    EXPECT_EQ(value, 0);

    MbItem boolean = MbAtomNewBool(5);
    EXPECT_EQ(MbAtomGetBool(boolean, &value), 0u);
    EXPECT_EQ(value, 5) << "stored unchanged";
    double number = 0;
    EXPECT_EQ(MbAtomGetReal(boolean, &number), 0u);
    EXPECT_EQ(number, 1.0);

    MbItem text = MbAtomNewString("3");
    MbItem list = MbListNew();
    MbItem empty = MbItemFromBytes(nullptr);
    value = 99;
    EXPECT_EQ(MbAtomGetInt(text, &value), 2u);
    EXPECT_EQ(value, 0);
    value = 99;
    EXPECT_EQ(MbAtomGetInt(list, &value), 3u);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(MbAtomGetBool(list, &value), 3u);
    EXPECT_EQ(MbAtomGetReal(list, &number), 3u);
    EXPECT_EQ(MbAtomGetInt(real, nullptr), 3u);
    EXPECT_EQ(empty, nullptr);
    for (MbItem item : {real, boolean, text, list}) MbHandleRelease(item);
}

TEST_F(ItemApi, ExactGettersRefuseOtherTypes) {
    MbItem cookie = MbAtomNewCookie(2, 1);
    uint64_t value = 7;
    ASSERT_EQ(MbAtomGetCookie(cookie, &value), 0u);
    EXPECT_EQ(value, 0x0000000100000002u);
    MbItem number = MbAtomNewInt(1);
    value = 7;
    EXPECT_EQ(MbAtomGetCookie(number, &value), 2u);
    EXPECT_EQ(value, 0u);

    const char* text = "x";
    EXPECT_EQ(MbAtomGetString(number, &text, nullptr), 2u);
    EXPECT_EQ(text, nullptr);
    const void* data = &data;
    uint16_t length = 4;
    EXPECT_EQ(MbAtomGetBlob(cookie, &data, &length), 2u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(MbAtomGetBlob(cookie, &data, nullptr), 3u);
    EXPECT_EQ(MbAtomGetBlob(cookie, nullptr, &length), 3u);
    EXPECT_EQ(Refs(cookie), 1u) << "getters add no reference";
    MbHandleRelease(cookie);
    MbHandleRelease(number);
}

TEST_F(ItemApi, TimeFlagIsReportedOnEveryPath) {
    MbItem utc = MbAtomNewTime(5, 123456789);
    int32_t flag = 7;
    int64_t milliseconds = 0;
    ASSERT_EQ(MbAtomGetTime(utc, &flag, &milliseconds), 0u);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(milliseconds, 123456789);
    MbItem local = MbAtomNewTime(0, -5);
    ASSERT_EQ(MbAtomGetTime(local, &flag, &milliseconds), 0u);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(milliseconds, -5);
    MbItem other = MbAtomNewInt(3);
    flag = 7;
    milliseconds = 7;
    EXPECT_EQ(MbAtomGetTime(other, &flag, &milliseconds), 2u);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(milliseconds, 0);
    flag = 7;
    EXPECT_EQ(MbAtomGetTime(utc, &flag, nullptr), 3u);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(MbAtomGetTime(utc, nullptr, &milliseconds), 0u);
    for (MbItem item : {utc, local, other}) MbHandleRelease(item);
}

TEST_F(ItemApi, SystemTimesConvertBothWays) {
    const MbSystemTime leapDay = Time(2024, 2, 29, 12, 34, 56, 789);
    MbItem item = MbAtomNewSystemTime(1, &leapDay);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(TypeOf(item), MbTypeUtcTime);
    MbSystemTime back;
    int32_t flag = 0;
    ASSERT_EQ(MbAtomGetSystemTime(item, &flag, &back), 0u);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(back.wYear, 2024);
    EXPECT_EQ(back.wMonth, 2);
    EXPECT_EQ(back.wDay, 29);
    EXPECT_EQ(back.wDayOfWeek, 4) << "a Thursday";
    EXPECT_EQ(back.wHour, 12);
    EXPECT_EQ(back.wMinute, 34);
    EXPECT_EQ(back.wSecond, 56);
    EXPECT_EQ(back.wMilliseconds, 789);
    int64_t milliseconds = 0;
    ASSERT_EQ(MbAtomGetTime(item, nullptr, &milliseconds), 0u);
    EXPECT_EQ(milliseconds, 13353683696789) << "milliseconds since 1601";

    ASSERT_EQ(MbAtomSetTime(item, 0, 0), 0u);
    ASSERT_EQ(MbAtomGetSystemTime(item, &flag, &back), 0u);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(back.wYear, 1601);
    EXPECT_EQ(back.wMonth, 1);
    EXPECT_EQ(back.wDay, 1);

    ASSERT_EQ(MbAtomSetTime(item, 1, -1), 0u);
    std::memset(&back, 0x55, sizeof back);
    EXPECT_EQ(MbAtomGetSystemTime(item, &flag, &back), 1u);
    const MbSystemTime zero{};
    EXPECT_EQ(std::memcmp(&back, &zero, sizeof back), 0);
    EXPECT_EQ(MbAtomGetSystemTime(item, &flag, nullptr), 3u);
    EXPECT_EQ(flag, 0);
    MbHandleRelease(item);
}

TEST_F(ItemApi, ZeroNullAndInvalidSystemTimes) {
    const MbSystemTime zero{};
    const MbSystemTime month13 = Time(2020, 13, 1, 0, 0, 0, 0);
    const MbSystemTime february30 = Time(2023, 2, 30, 0, 0, 0, 0);
    MbItem item = MbAtomNewTime(1, 42);
    int64_t milliseconds = -1;

    EXPECT_EQ(MbAtomSetSystemTime(item, 1, &month13), 1u);
    EXPECT_EQ(MbAtomSetSystemTime(item, 0, &february30), 1u);
    int32_t flag = 0;
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

    EXPECT_EQ(MbAtomNewSystemTime(0, &month13), nullptr);
    MbItem fromNull = MbAtomNewSystemTime(0, nullptr);
    ASSERT_NE(fromNull, nullptr);
    EXPECT_EQ(TypeOf(fromNull), MbTypeLocalTime);
    EXPECT_EQ(MbAtomSetSystemTime(nullptr, 0, &zero), 3u);
    EXPECT_EQ(MbAtomSetSystemTime(nullptr, 0, &month13), 3u) << "the handle is checked first";
    MbHandleRelease(item);
    MbHandleRelease(fromNull);
}

TEST_F(ItemApi, SettersReplaceAnyTypeAndTurnContainersIntoAtoms) {
    MbItem item = MbAtomNewString("text");
    EXPECT_EQ(MbAtomSetInt(item, 4), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeInt);
    EXPECT_EQ(MbAtomSetBlob(item, nullptr, 3), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeBlob);
    EXPECT_EQ(MbAtomSetString(item, nullptr), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeString);
    EXPECT_EQ(MbAtomSetCookie(item, 1, 2), 0u);
    EXPECT_EQ(MbAtomSetBool(item, 0), 0u);
    EXPECT_EQ(MbAtomSetUnsigned(item, 9), 0u);
    EXPECT_EQ(TypeOf(item), MbTypeUnsigned);

    MbItem list = MbListNew();
    MbItem element = MbAtomNewInt(1);
    ASSERT_EQ(MbListAppend(list, element, nullptr), 0u);
    CList* held = static_cast<CItem*>(list)->GetList();
    held->AddRef();
    EXPECT_EQ(Refs(element), 2u);
    EXPECT_EQ(MbAtomSetInt(list, 8), 0u);
    EXPECT_EQ(TypeOf(list), MbTypeInt);
    EXPECT_EQ(held->RefCount(), 1u) << "the item dropped its list";
    held->Release();
    EXPECT_EQ(Refs(element), 1u) << "the list released its element";
    int32_t value = 0;
    EXPECT_EQ(MbAtomGetInt(list, &value), 0u);
    EXPECT_EQ(value, 8);

    MbItem map = MbMapNew();
    EXPECT_EQ(MbAtomSetString(map, "now an atom"), 0u);
    EXPECT_EQ(TypeOf(map), MbTypeString);
    for (MbItem handle : {item, list, element, map}) EXPECT_EQ(MbHandleRelease(handle), 0u);
}

TEST_F(ItemApi, ItemTypeOfEmptyAndAtomItems) {
    uint32_t type = 99;
    EXPECT_EQ(MbItemGetType(nullptr, &type), 3u);
    EXPECT_EQ(type, 0u);
    MbItem none = MbAtomNewNone();
    EXPECT_EQ(MbItemGetType(none, nullptr), 3u);
    EXPECT_EQ(TypeOf(none), MbTypeNone);
    CItem* empty = new CItem;
    EXPECT_EQ(TypeOf(empty), MbTypeItem);
    int32_t value = 5;
    EXPECT_EQ(MbAtomGetInt(empty, &value), 3u) << "an empty item holds no atom";
    EXPECT_EQ(MbAtomSetInt(empty, 6), 0u) << "a setter gives it one";
    EXPECT_EQ(MbAtomGetInt(empty, &value), 0u);
    EXPECT_EQ(value, 6);
    empty->Release();
    MbHandleRelease(none);
}

// Every getter and setter refuses a foreign or released handle with one warning, a known
// object that is not an item without one, and never writes through a null out.
TEST_F(ItemApi, BadHandlesAreRefusedOnce) {
    CCountable* notAnItem = new CCountable;
    MbItem released = MbAtomNewInt(1);
    MbHandleRelease(released);
    for (MbItem bad : {ForeignHandle(), released}) {
        trace_capture::Clear();
        const void* data = &data;
        uint16_t length = 5;
        int32_t value = 5;
        uint32_t type = 5;
        int64_t milliseconds = 5;
        MbSystemTime time{1, 1, 1, 1, 1, 1, 1, 1};
        char buffer[4] = "xy";
        EXPECT_EQ(MbAtomGetBlob(bad, &data, &length), 3u);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(MbAtomCopyString(bad, buffer, &length, 4), 3u);
        EXPECT_EQ(buffer[0], '\0');
        EXPECT_EQ(MbAtomGetInt(bad, &value), 3u);
        EXPECT_EQ(value, 0);
        EXPECT_EQ(MbAtomGetTime(bad, &value, &milliseconds), 3u);
        EXPECT_EQ(milliseconds, 0);
        EXPECT_EQ(MbAtomGetSystemTime(bad, &value, &time), 3u);
        EXPECT_EQ(time.wYear, 0);
        EXPECT_EQ(MbItemGetType(bad, &type), 3u);
        EXPECT_EQ(type, 0u);
        EXPECT_EQ(MbAtomSetInt(bad, 1), 3u);
        EXPECT_EQ(MbAtomSetString(bad, "x"), 3u);
        EXPECT_EQ(UnknownHandleWarnings(), 8u) << "one warning per call";
    }
    trace_capture::Clear();
    int32_t value = 5;
    EXPECT_EQ(MbAtomGetInt(notAnItem, &value), 3u);
    EXPECT_EQ(MbAtomSetInt(notAnItem, 1), 3u);
    EXPECT_EQ(notAnItem->RefCount(), 1u);
    EXPECT_EQ(UnknownHandleWarnings(), 0u);
    notAnItem->Release();
}
