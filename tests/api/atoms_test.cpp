// Library start and end, item creators, and atom getters and setters through the C interface.
#include <cstring>

#include "runtime/reports.h"
#include "support/item_handles.h"

// Term without Init is harmless and periods repeat. Objects of another period are refused, also
// once no period runs; a tracer set outside a period has no effect.
TEST(Lifetime, PeriodsRepeatAndKeepTheirObjectsAndTracersApart) {
    EXPECT_EQ(MbVersionGet(), 82u) << "answered without init";
    MbLibraryTerm();
    MbLibraryTerm();
    EXPECT_FALSE(process::Initialised());
    EXPECT_EQ(MbHandleRelease(reinterpret_cast<void*>(0x1000)), 3u);
    trace_capture::Clear();
    MbTracerSet(&trace_capture::Callback);
    CCountable* early = new CCountable;  // made before Init: never tracked
    CCountable* first = nullptr;
    for (int period = 0; period < 3; ++period) {
        ASSERT_EQ(MbLibraryInit(), 1);
        EXPECT_TRUE(process::Initialised());
        if (period == 0) {
            ReportError("not delivered");
            EXPECT_TRUE(trace_capture::Records().empty()) << "a tracer set before Init";
            first = new CCountable;
        }
        if (period == 1) {
            MbTracerSet(&trace_capture::Callback);
            EXPECT_EQ(MbHandleAddRef(early), 3u);
            EXPECT_EQ(MbHandleRelease(first), 3u);
            EXPECT_EQ(UnknownHandleWarnings(), 2u);
            MbTracerSet(nullptr);
        }
        MbLibraryTerm();
        EXPECT_FALSE(process::Initialised());
    }
    trace_capture::Clear();
    MbTracerSet(&trace_capture::Callback);  // after Term: no user tracer, no effect, no crash
    ReportError("dropped");
    EXPECT_TRUE(trace_capture::Records().empty());
    early->Release();
    first->Release();
    EXPECT_EQ(MbHandleRelease(first), 3u) << "no tracker after Term: refused, no crash";
}

// A second init keeps the handles and the installed callback; items are refused once terminated.
TEST_F(ItemApi, SecondInitSucceedsWithoutEffectAndTermRefusesNewItems) {
    CCountable* object = new CCountable;
    EXPECT_EQ(MbLibraryInit(), 1);
    EXPECT_EQ(MbHandleAddRef(object), 0u) << "handles stay valid";
    EXPECT_EQ(MbHandleRelease(reinterpret_cast<void*>(0x20)), 3u);
    EXPECT_EQ(trace_capture::Records().size(), 1u) << "the callback stays installed";
    EXPECT_EQ(object->RefCount(), 2u);
    EXPECT_EQ(MbHandleRelease(object), 0u);
    EXPECT_EQ(MbHandleRelease(object), 0u);
    EXPECT_EQ(MbHandleRelease(object), 3u) << "the second release destroyed it";
    EXPECT_EQ(trace_capture::CountContaining("attempt to reference an unknown object at"), 2u);
    EXPECT_EQ(trace_capture::Records().size(), 2u) << "the releases themselves report nothing";
    MbLibraryTerm();
    const MbItem made[] = {MbAtomNewInt(1), MbAtomNewNone(), MbListNew(), MbBuild("[i]", 1)};
    for (const MbItem& item : made) EXPECT_EQ(item, nullptr) << &item - made;
    ASSERT_EQ(MbLibraryInit(), 1);
}

TEST_F(ItemApi, EachCreatorGivesItsTypeAndOneReference) {
    const std::pair<MbItem, uint32_t> cases[] = {
        {MbAtomNewNone(), MbTypeNone},         {MbAtomNewBlob("ab", 2), MbTypeBlob}, {MbAtomNewBool(7), MbTypeBool},
        {MbAtomNewCookie(1, 2), MbTypeCookie}, {MbAtomNewInt(-4), MbTypeInt},        {MbAtomNewReal(0.5), MbTypeReal},
        {MbAtomNewTime(0, 5), MbTypeLocalTime}, {MbAtomNewTime(5, 5), MbTypeUtcTime}, {MbListNew(), MbTypeList},
        {MbAtomNewString("x"), MbTypeString}, {MbAtomNewUnsigned(3), MbTypeUnsigned}, {MbMapNew(), MbTypeMap},
        {MbAtomNewSystemTime(0, nullptr), MbTypeLocalTime},
    };
    const size_t live = LiveObjects();
    for (const auto& [item, type] : cases) {
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(TypeOf(item), type);
        EXPECT_EQ(Refs(item), 1u);
        EXPECT_EQ(MbHandleRelease(item), 0u);
    }
    EXPECT_LT(LiveObjects(), live);
    EXPECT_EQ(UnknownHandleWarnings(), 0u);
}

// Blob lengths use their low 16 bits; copies never pass the caller's size and return 5 when cut.
// A String longer than 65,535 bytes is kept whole; 16-bit lengths saturate; storing is refused.
TEST_F(ItemApi, BytesOutOfStringsAndBlobs) {
    const char bytes[] = "a\0cdef";
    const std::string longText(70000, 'q');
    Held blob(MbAtomNewBlob(bytes, 0x30003)), text(MbAtomNewString("abcdef")), item(MbAtomNewString(longText.c_str()));
    Outs o;
    const auto junk = [&] { return static_cast<char*>(std::memset(o.buffer, '#', sizeof o.buffer)); };
    const auto is = [&](const char* expected, size_t length) { return std::string(o.buffer, length) == std::string(expected, length); };
    ExpectResults({
        {"GetBlob", MbAtomGetBlob(blob, &o.p, &o.n), 0, std::string(static_cast<const char*>(o.p), o.n) == std::string(bytes, 3)},
        {"SetBlob", MbAtomSetBlob(blob, bytes, 0x10006), 0, BlobText(blob) == std::string(bytes, 6)},
        {"CopyString cut", MbAtomCopyString(text, junk(), &o.n, 4), 5, is("abc\0#", 5) && o.n == 6},
        {"CopyString no room for the NUL", MbAtomCopyString(text, o.buffer, &o.n, 6), 5, is("abcde", 6)},
        {"CopyString fits", MbAtomCopyString(text, o.buffer, nullptr, 7), 0, is("abcdef", 7)},
        {"CopyBlob cut", MbAtomCopyBlob(blob, junk(), &o.n, 4), 5, o.n == 4 && is("a\0cd#", 5)},
        {"CopyBlob fits", MbAtomCopyBlob(blob, o.buffer, &o.n, 6), 0, o.n == 6},
        {"DupString", MbAtomDupString(text, &o.copy, &o.n), 0, std::string(o.copy) == "abcdef" && o.n == 6},
        {"GetString", MbAtomGetString(text, &o.s, nullptr), 0, o.s != o.copy},
        {"DupBlob", MbAtomDupBlob(blob, &o.owned, &o.n), 0, std::string(static_cast<char*>(o.owned), o.n) == std::string(bytes, 6)},
        {"free the copy", MbMemoryFree(o.copy), 0, true},
        {"free the duplicate", MbMemoryFree(o.owned), 0, Refs(blob) == 1u},
        {"GetString long", MbAtomGetString(item, &o.s, &o.n), 0, o.n == 65535 && std::strlen(o.s) == longText.size()},
        {"CopyString long", MbAtomCopyString(item, o.buffer, &(o.n = 0), sizeof o.buffer), 5, o.n == 65535},
        {"DupString long", MbAtomDupString(item, &o.copy, &(o.n = 0)), 0, std::strlen(o.copy) == longText.size() && o.n == 65535},
        {"free the long copy", MbMemoryFree(o.copy), 0, MbItemToBytes(item) == nullptr},
    });
}

// Calendar times both ways; an all-zero or null time is time 0; an invalid one changes nothing.
TEST_F(ItemApi, SystemTimes) {
    const MbSystemTime leapDay{2024, 2, 0, 29, 12, 34, 56, 789}, thursday{2024, 2, 4, 29, 12, 34, 56, 789};
    const MbSystemTime epoch{1601, 1, 1, 1, 0, 0, 0, 0}, february30{2023, 2, 0, 30, 0, 0, 0, 0}, zero{};
    Held item(MbAtomNewSystemTime(1, &leapDay));
    ASSERT_NE(item.handle, nullptr);
    MbSystemTime back;
    int32_t flag = 7;
    int64_t ms = 0;
    const auto calendarIs = [&](const MbSystemTime& time) { return std::memcmp(&back, &time, sizeof back) == 0; };
    ExpectResults({
        {"GetSystemTime", MbAtomGetSystemTime(item, &flag, &back), 0, flag == 1 && calendarIs(thursday)},
        {"milliseconds since 1601", MbAtomGetTime(item, nullptr, &ms), 0, ms == 13353683696789},
        {"SetTime 0", MbAtomSetTime(item, 0, 0), 0, true},
        {"GetSystemTime of 0", MbAtomGetSystemTime(item, &flag, &back), 0, flag == 0 && calendarIs(epoch)},
        {"SetTime", MbAtomSetTime(item, 1, 42), 0, true},
        {"SetSystemTime invalid", MbAtomSetSystemTime(item, 0, &february30), 1, true},
        {"unchanged", MbAtomGetTime(item, &flag, &ms), 0, ms == 42 && flag == 1},
        {"SetSystemTime zero", MbAtomSetSystemTime(item, 0, &zero), 0, true},
        {"zero is time 0", MbAtomGetTime(item, &flag, &ms), 0, ms == 0 && flag == 0},
        {"SetTime again", MbAtomSetTime(item, 1, 42), 0, true},
        {"SetSystemTime null", MbAtomSetSystemTime(item, 1, nullptr), 0, true},
        {"null is time 0", MbAtomGetTime(item, &flag, &ms), 0, ms == 0},
    });
}

// Setters replace any type; a List or Map item drops its container, releasing its elements.
TEST_F(ItemApi, SettersReplaceAnyTypeAndTurnContainersIntoAtoms) {
    Held item(MbAtomNewString("text")), list(ListOfInts({1})), map(MbMapNew()), element, empty(new CItem);
    ASSERT_EQ(MbItemGetAt(list, 0, element.Out()), 0u);
    CList* held = list.Item()->GetList();
    held->AddRef();
    EXPECT_EQ(TypeOf(empty), MbTypeItem);
    ExpectResults({
        {"SetInt", MbAtomSetInt(item, 4), 0, TypeOf(item) == MbTypeInt},
        {"SetBlob", MbAtomSetBlob(item, nullptr, 3), 0, TypeOf(item) == MbTypeBlob},
        {"SetString", MbAtomSetString(item, nullptr), 0, TypeOf(item) == MbTypeString},
        {"SetUnsigned", MbAtomSetUnsigned(item, 9), 0, TypeOf(item) == MbTypeUnsigned},
        {"SetInt of a List", MbAtomSetInt(list, 8), 0, TypeOf(list) == MbTypeInt && held->RefCount() == 1},
        {"SetString of a Map", MbAtomSetString(map, "now an atom"), 0, TypeOf(map) == MbTypeString},
        {"SetInt of a wrapper", MbAtomSetInt(empty, 6), 0, TypeOf(empty) == MbTypeInt},
    });
    held->Release();
    EXPECT_EQ(Refs(element), 1u) << "the list released its element";
}
