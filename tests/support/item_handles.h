// Test support for item handles: reference counts, live objects, readers, and rows of checked calls.
#pragma once

#include <initializer_list>

#include "items/item.h"
#include "runtime/process.h"
#include "support/trace_capture.h"

inline uint16_t Refs(MbHandle handle) {
    return static_cast<CRefCount*>(handle)->RefCount();
}

// Counted objects alive in the tracker: unchanged by an operation that leaked nothing.
inline size_t LiveObjects() {
    return process::Tracker()->Count();
}

inline size_t UnknownHandleWarnings() {
    return trace_capture::CountContaining("attempt to reference an unknown object at");
}

// Holds a handle (a new item, say) until the end of its scope or full expression, then releases it.
struct Held {
    explicit Held(MbHandle held = nullptr) : handle(held) {}
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() { Out(); }
    operator MbHandle() const { return handle; }
    // For an out parameter: releases what it held and holds what the call stores there.
    MbHandle* Out() {
        if (handle != nullptr) MbHandleRelease(handle);
        handle = nullptr;
        return &handle;
    }
    CItem* Item() const { return static_cast<CItem*>(handle); }
    MbHandle handle;
};

// Out variables for rows of calls: one of each kind the item functions fill.
struct Outs {
    MbItem item = nullptr;
    int32_t i = 0, flag = 0;
    uint32_t u = 0;
    uint64_t c = 0;
    int64_t ms = 0;
    uint16_t n = 0;
    const char* s = nullptr;
    const void* p = nullptr;
    void* owned = nullptr;
    char* copy = nullptr;
    char buffer[8] = {};
    MbSystemTime time{};
};

// An address that no library object ever had.
inline MbItem ForeignHandle() {
    static int foreign;
    return &foreign;
}

inline uint32_t TypeOf(MbItem item) {
    uint32_t type = 99;
    EXPECT_EQ(MbItemGetType(item, &type), 0u);
    return type;
}

// The bytes of a Blob item, or "<no bytes>".
inline std::string BlobText(MbItem blob) {
    const void* data = nullptr;
    uint16_t length = 0;
    if (MbAtomGetBlob(blob, &data, &length) != 0) return "<no bytes>";
    return std::string(static_cast<const char*>(data), length);
}

// The text form of an item without its closing NUL; "" when it has none.
inline std::string TextOf(MbItem item) {
    const std::string result = BlobText(Held(MbItemToText(item, 0)));
    return !result.empty() && result.back() == '\0' ? result.substr(0, result.size() - 1) : "";
}

// The Int at a position (GetAt's reference released again): -999 when there is none, -998 when
// it is no Int.
inline int32_t IntAt(MbItem container, uint16_t position) {
    Held element;
    int32_t value = -999;
    if (MbItemGetAt(container, position, element.Out()) == 0 && MbAtomGetInt(element, &value) != 0) value = -998;
    return value;
}

inline MbItem ListOfInts(std::initializer_list<int32_t> values) {
    MbItem list = MbListNew();
    for (int32_t value : values) EXPECT_EQ(MbListAppend(list, Held(MbAtomNewInt(value)), nullptr), 0u);
    return list;
}

// One call: its result, the one expected, and whether its outs are as expected. Rows run left to
// right, so a row may set its outs to junk, call, then look at them.
struct Call {
    const char* what;
    MbResult result;
    MbResult expected;
    bool outs;
};

inline void ExpectResults(std::initializer_list<Call> calls) {
    for (const Call& call : calls) {
        EXPECT_EQ(call.result, call.expected) << call.what;
        EXPECT_TRUE(call.outs) << call.what;
    }
}

// The library with a capturing trace callback; fails a test that leaves counted objects alive.
class ItemTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        objectsAtStart_ = LiveObjects();
    }
    void TearDown() override {
        EXPECT_EQ(LiveObjects(), objectsAtStart_) << "counted objects left alive";
        LibraryTest::TearDown();
    }

private:
    size_t objectsAtStart_ = 0;
};

using ItemApi = ItemTest;
