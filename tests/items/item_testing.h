// Helpers of the item tests: byte strings in hex, stored and rendered forms as plain values, and
// a fixture that checks that every object a test made is gone at its end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "items/atom.h"
#include "items/item.h"
#include "items/item_tree.h"
#include "items/storage.h"
#include "items/str.h"
#include "runtime/process.h"
#include "runtime/tracker.h"
#include "support/trace_capture.h"

using Bytes = std::vector<uint8_t>;

// "41 69 07" for the three bytes.
inline std::string Hex(const Bytes& bytes) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += byte;
    }
    return text;
}

inline Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    unsigned value = 0;
    int digits = 0;
    for (char c : hex) {
        if (c == ' ') continue;
        value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        if (++digits == 2) {
            bytes.push_back(static_cast<uint8_t>(value));
            value = 0;
            digits = 0;
        }
    }
    return bytes;
}

// The 16 header bytes a writing stream starts with.
inline Bytes HeaderBytes() {
    return FromHex("4B 76 62 00 10 00 01 00 52 00 00 00 00 00 00 00");
}

inline Bytes WithHeader(const Bytes& bytes) {
    Bytes all = HeaderBytes();
    all.insert(all.end(), bytes.begin(), bytes.end());
    return all;
}

// Every byte a stream holds behind its header (closes the stream).
inline Bytes BehindHeader(CStorage& stream) {
    stream.Close();
    if (!stream.OpenForReading(false)) return Bytes();
    uint16_t length = 0;
    const uint8_t* bytes = stream.PeekRemaining(&length);
    return bytes == nullptr ? Bytes() : Bytes(bytes, bytes + length);
}

// The stored form of one object (no header).
inline Bytes Stored(CStorable& object) {
    CStorage stream;
    stream.OpenForWriting();
    object.Write(stream);
    return BehindHeader(stream);
}

// The text form of one object (no header, no NUL).
inline std::string Rendered(CStorable& object, bool bare = false) {
    CStorage stream;
    stream.OpenForWriting();
    object.Render(stream, bare);
    const Bytes text = BehindHeader(stream);
    return std::string(text.begin(), text.end());
}

// The bytes of a Blob item (as StoreItem and RenderItem return them).
inline Bytes BlobBytes(CItem& item) {
    CStr* blob = item.GetAtom() != nullptr ? item.GetAtom()->GetBlob() : nullptr;
    if (blob == nullptr) return Bytes();
    uint32_t length = 0;
    const char* data = blob->GetString(&length);
    return Bytes(data, data + length);
}

// StoreItem as bytes; empty when the store was refused.
inline Bytes StoreBytes(CItem& item) {
    CRef<CItem> blob = StoreItem(item);
    return blob ? BlobBytes(*blob.Get()) : Bytes();
}

inline CRef<CItem> Load(const Bytes& bytes) {
    return LoadItem(bytes.data(), bytes.size());
}

// A stream opened for reading over header + bytes, its cursor behind the header.
inline CRef<CStorage> ReadingStream(const Bytes& bytes) {
    CRef<CStorage> stream = CRef<CStorage>::Adopt(new CStorage);
    stream->OpenForAppending();
    const Bytes all = WithHeader(bytes);
    stream->WriteBytes(all.data(), static_cast<uint16_t>(all.size()));
    stream->Close();
    stream->OpenForReading(false);
    return stream;
}

inline CRef<CItem> IntItem(int32_t value) {
    CRef<CItem> item = CItem::NewAtom();
    item->GetAtom()->SetInt(value);
    return item;
}

inline CRef<CItem> StringItem(const char* text) {
    CRef<CItem> item = CItem::NewAtom();
    item->GetAtom()->SetString(text);
    return item;
}

inline CRef<CAtom> StringKey(const char* text) {
    CRef<CAtom> key = CRef<CAtom>::Adopt(new CAtom);
    key->SetString(text);
    return key;
}

// The library with a capturing trace callback, and a check at the end that the test left no
// counted object alive that it did not have at the start.
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
    static size_t LiveObjects() { return process::Tracker()->Count(); }
    static size_t Reported(const std::string& text) { return trace_capture::CountContaining(text); }

private:
    size_t objectsAtStart_ = 0;
};
