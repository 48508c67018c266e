// Result codes of every item function for each kind of bad argument, and the outs they clear.
#include <cstring>

#include "support/item_handles.h"

const MbSystemTime kMonth13{2020, 13, 0, 1, 0, 0, 0, 0};

// Each row sets its outs to junk, calls, and checks them: conversions, time kinds and refusals.
TEST_F(ItemApi, AtomFunctionResults) {
    Held real(MbAtomNewReal(2147483647.5)), text(MbAtomNewString("3")), half(MbAtomNewReal(2.5));
    Held cookie(MbAtomNewCookie(2, 1)), list(MbListNew()), utc(MbAtomNewTime(5, -1)), local(MbAtomNewTime(0, -5));
    Held empty(MbAtomNewString("")), emptyBlob(MbAtomNewBlob("abc", 0x10000)), blob(MbAtomNewBlob("ab", 2));
    Held wrapper(new CItem);
    Outs o;
    auto& [outItem, i, flag, u, c, ms, n, s, p, owned, copy, buffer, time] = o;
    const MbSystemTime zero{};
    ExpectResults({
        {"Int of Real 2.5", MbAtomGetInt(half, &(i = 9)), 0, i == 3},
        {"Cookie", MbAtomGetCookie(cookie, &(c = 9)), 0, c == 0x0000000100000002u},
        {"Time of UtcTime", MbAtomGetTime(utc, &(flag = 7), &(ms = 7)), 0, flag == 1 && ms == -1},
        {"Time of LocalTime", MbAtomGetTime(local, &(flag = 7), &(ms = 7)), 0, flag == 0 && ms == -5},
        {"Int of Real 2147483647.5", MbAtomGetInt(real, &(i = 9)), 2, i == 0},
        {"Int of List", MbAtomGetInt(list, &(i = 9)), 3, i == 0},
        {"Int of empty wrapper", MbAtomGetInt(wrapper, &(i = 9)), 3, i == 0},
        {"Int into null", MbAtomGetInt(real, nullptr), 3, true},
        {"Cookie of Real", MbAtomGetCookie(real, &(c = 9)), 2, c == 0},
        {"String of Real", MbAtomGetString(real, &(s = "x"), nullptr), 2, s == nullptr},
        {"String empty", MbAtomGetString(empty, &(s = "x"), &(n = 9)), 3, s == nullptr && n == 0},
        {"CopyString empty", MbAtomCopyString(empty, std::strcpy(buffer, "zz"), &(n = 9), 4), 3, buffer[0] == 0},
        {"CopyString size 0", MbAtomCopyString(text, std::strcpy(buffer, "zz"), &(n = 9), 0), 3,
         n == 0 && buffer[0] == 'z'},
        {"DupString of Blob", MbAtomDupString(blob, &(copy = buffer), &(n = 9)), 2, copy == nullptr},
        {"Blob of Cookie", MbAtomGetBlob(cookie, &(p = &p), &(n = 9)), 2, p == nullptr && n == 0},
        {"Blob of length 0x10000", MbAtomGetBlob(emptyBlob, &(p = &p), &(n = 9)), 3, p == nullptr && n == 0},
        {"Blob length into null", MbAtomGetBlob(cookie, &p, nullptr), 3, true},
        {"Blob data into null", MbAtomGetBlob(cookie, nullptr, &n), 3, true},
        {"CopyBlob empty", MbAtomCopyBlob(emptyBlob, buffer, &(n = 9), 4), 3, n == 0},
        {"CopyBlob into null", MbAtomCopyBlob(blob, nullptr, &(n = 9), 4), 3, n == 0},
        {"CopyBlob size 0", MbAtomCopyBlob(blob, buffer, &n, 0), 3, true},
        {"DupBlob length into null", MbAtomDupBlob(blob, &(owned = buffer), nullptr), 3, owned == nullptr},
        {"DupBlob of String", MbAtomDupBlob(text, &(owned = buffer), &n), 2, owned == nullptr},
        {"Time of Real", MbAtomGetTime(real, &(flag = 7), &(ms = 7)), 2, flag == 0 && ms == 0},
        {"Time into null", MbAtomGetTime(utc, &(flag = 7), nullptr), 3, flag == 0},
        {"Time flag into null", MbAtomGetTime(utc, nullptr, &ms), 0, ms == -1},
        {"SystemTime before 1601", MbAtomGetSystemTime(utc, &flag, &(time = kMonth13)), 1,
         std::memcmp(&time, &zero, sizeof time) == 0},
        {"SystemTime into null", MbAtomGetSystemTime(utc, &(flag = 7), nullptr), 3, flag == 0},
        {"SetSystemTime month 13", MbAtomSetSystemTime(real, 1, &kMonth13), 1, TypeOf(real) == MbTypeReal},
        {"SetSystemTime null handle first", MbAtomSetSystemTime(nullptr, 0, &kMonth13), 3, true},
        {"Type of null", MbItemGetType(nullptr, &(u = 9)), 3, u == 0},
        {"Type into null", MbItemGetType(real, nullptr), 3, true},
    });
    const MbItem made[] = {MbAtomNewSystemTime(0, &kMonth13), MbItemFromBytes(nullptr), MbItemToText(nullptr, 0),
                           MbItemToBytes(nullptr)};
    for (const MbItem& item : made) EXPECT_EQ(item, nullptr) << &item - made;
}

TEST_F(ItemApi, ContainerFunctionResults) {
    Held list(ListOfInts({10, 20})), map(MbBuild("{s:i}", "k", 1)), atom(MbAtomNewInt(1));
    Held minusOne(MbAtomNewInt(-1)), text(MbAtomNewString("1")), real(MbAtomNewReal(1.0));
    MbItem out = nullptr;
    uint16_t index = 0, count = 0;
    ExpectResults({
        {"Insert at the count", MbListInsert(list, 2, atom, &(index = 7)), 1, index == MbAppendIndex},
        {"Append null", MbListAppend(list, nullptr, &(index = 7)), 3, index == MbAppendIndex},
        {"Append to an atom", MbListAppend(atom, atom, &(index = 7)), 3, index == MbAppendIndex},
        {"Append a list to itself", MbListAppend(list, list, &(index = 7)), 1, index == MbAppendIndex},
        {"SetAt beyond the end", MbItemSetAt(list, 2, atom), 1, true},
        {"SetAt null", MbItemSetAt(list, 0, nullptr), 3, true},
        {"GetAt beyond the end", MbItemGetAt(list, 2, &(out = list)), 4, out == nullptr},
        {"GetAt into null", MbItemGetAt(list, 0, nullptr), 3, true},
        {"RemoveAt beyond the end", MbItemRemoveAt(list, 5), 0, true},
        {"RemoveAt of an atom", MbItemRemoveAt(atom, 0), 3, true},
        {"GetCount of an atom", MbItemGetCount(atom, &(count = 9)), 3, count == 0},
        {"Set at key -1", MbItemSet(list, minusOne, atom), 4, true},
        {"Get at a String key", MbItemGet(list, text, &(out = list)), 4, out == nullptr},
        {"Get at a Real key", MbItemGet(list, real, &(out = list)), 4, out == nullptr},
        {"Get at a List key", MbItemGet(list, list, &(out = list)), 3, out == nullptr},
        {"Remove at key -1", MbItemRemove(list, minusOne), 4, true},
        {"Set null at a key", MbItemSet(list, atom, nullptr), 3, true},
        {"HasNamed of a list", MbMapHasNamed(list, "0"), 4, true},
        {"SetNamed of a list", MbMapSetNamed(list, "0", atom), 4, true},
        {"RemoveNamed of a list", MbMapRemoveNamed(list, "0"), 4, true},
        {"GetNamed of a list", MbMapGetNamed(list, "0", &(out = list)), 4, out == nullptr},
        {"Remove an absent key", MbItemRemove(map, text), 0, true},
        {"HasNamed of null", MbMapHasNamed(nullptr, "k"), 3, true},
        {"GetNamed into null", MbMapGetNamed(map, "k", nullptr), 3, true},
        {"SetNamed null", MbMapSetNamed(map, "x", nullptr), 3, true},
        {"RemoveNamed absent", MbMapRemoveNamed(map, "zz"), 0, true},
        {"GetKeyAt beyond the end", MbMapGetKeyAt(map, 1, &(out = list)), 4, out == nullptr},
        {"GetKeyAt 0x10000 is not 0", MbMapGetKeyAt(map, 0x10000, &(out = list)), 4, out == nullptr},
        {"GetKeyAt of an atom", MbMapGetKeyAt(atom, 0, &(out = list)), 3, out == nullptr},
        {"GetKeyAt into null", MbMapGetKeyAt(map, 0, nullptr), 3, true},
        {"Clear an atom", MbItemClear(atom), 3, true},
    });
    EXPECT_EQ(Refs(atom), 1u) << "no failed call kept a reference";
    EXPECT_EQ(IntAt(list, 0) + IntAt(list, 1), 30);
}

// One warning per call for a foreign or released handle, none for a known non-item; outs cleared.
TEST_F(ItemApi, BadHandlesAreRefusedWithOneWarningEach) {
    Held list(ListOfInts({1})), map(MbBuild("{s:i}", "k", 1)), key(MbAtomNewString("k")), value(MbAtomNewInt(2));
    MbItem released = MbAtomNewInt(1);
    MbHandleRelease(released);
    const CRef<CCountable> notAnItem = CRef<CCountable>::Adopt(new CCountable);
    for (MbItem bad : {ForeignHandle(), released, static_cast<MbItem>(notAnItem.Get())}) {
        trace_capture::Clear();
        Outs o;
        auto& [out, i, flag, type, c, ms, n, s, p, owned, copy, buffer, time] = o;
        const std::initializer_list<Call> calls = {
            {"GetBlob", MbAtomGetBlob(bad, &(p = &p), &(n = 5)), 3, p == nullptr && n == 0},
            {"CopyString", MbAtomCopyString(bad, std::strcpy(buffer, "xy"), &n, 4), 3, buffer[0] == 0},
            {"GetInt", MbAtomGetInt(bad, &(i = 5)), 3, i == 0},
            {"GetTime", MbAtomGetTime(bad, &i, &(ms = 5)), 3, ms == 0},
            {"GetSystemTime", MbAtomGetSystemTime(bad, &i, &(time = kMonth13)), 3, time.wYear == 0},
            {"GetType", MbItemGetType(bad, &(type = 5)), 3, type == 0},
            {"SetInt", MbAtomSetInt(bad, 1), 3, true},
            {"SetString", MbAtomSetString(bad, "x"), 3, true},
            {"Append list", MbListAppend(bad, value, &(n = 5)), 3, n == MbAppendIndex},
            {"Append element", MbListAppend(list, bad, &(n = 5)), 3, n == MbAppendIndex},
            {"Insert", MbListInsert(bad, 0, value, nullptr), 3, true},
            {"GetCount", MbItemGetCount(bad, &(n = 5)), 3, n == 0},
            {"GetAt", MbItemGetAt(bad, 0, &(out = list)), 3, out == nullptr},
            {"SetAt container", MbItemSetAt(bad, 0, value), 3, true},
            {"SetAt value", MbItemSetAt(list, 0, bad), 3, true},
            {"RemoveAt", MbItemRemoveAt(bad, 0), 3, true},
            {"GetKeyAt", MbMapGetKeyAt(bad, 0, &(out = list)), 3, out == nullptr},
            {"Get container", MbItemGet(bad, key, &(out = list)), 3, out == nullptr},
            {"Get key", MbItemGet(map, bad, &(out = list)), 3, out == nullptr},
            {"Set key", MbItemSet(map, bad, value), 3, true},
            {"Set value", MbItemSet(map, key, bad), 3, true},
            {"Remove key", MbItemRemove(map, bad), 3, true},
            {"GetNamed", MbMapGetNamed(bad, "k", &(out = list)), 3, out == nullptr},
            {"HasNamed", MbMapHasNamed(bad, "k"), 3, true},
            {"SetNamed value", MbMapSetNamed(map, "k", bad), 3, true},
            {"RemoveNamed", MbMapRemoveNamed(bad, "k"), 3, true},
            {"Clear", MbItemClear(bad), 3, true},
        };
        ExpectResults(calls);
        const MbItem made[] = {MbItemToBytes(bad), MbItemFromBytes(bad), MbItemToText(bad, 0)};
        for (const MbItem& item : made) EXPECT_EQ(item, nullptr) << &item - made;
        EXPECT_EQ(MbItemEqual(bad, nullptr), 1);
        EXPECT_EQ(UnknownHandleWarnings(), bad == notAnItem.Get() ? 0 : calls.size() + 4);
    }
    EXPECT_EQ(notAnItem->RefCount(), 1u);
    EXPECT_EQ(IntAt(list, 0), 1);
    EXPECT_EQ(MbMapHasNamed(map, "k"), 0u);
    EXPECT_EQ(Refs(value), 1u);
}
