// Helpers of the item tests: hex byte strings, stored and rendered forms; the leak-checking fixture
// ItemTest comes with the item handles.
#pragma once

#include <cstdio>
#include <functional>
#include <limits>

#include "items/item_tree.h"
#include "items/storage.h"
#include "items/str.h"
#include "support/item_handles.h"

using Bytes = std::vector<uint8_t>;

inline const double kNaN = std::numeric_limits<double>::quiet_NaN();

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
    for (size_t at = 0; at + 1 < hex.size(); at += hex[at] == ' ' ? 1 : 2) {
        if (hex[at] != ' ') bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(at, 2), nullptr, 16)));
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

// What `write` puts into a fresh writing stream, behind its header.
template <class Write>
Bytes Written(Write write) {
    CStorage stream;
    stream.OpenForWriting();
    write(stream);
    stream.Close();
    if (!stream.OpenForReading(false)) return Bytes();
    uint16_t length = 0;
    const uint8_t* bytes = stream.PeekRemaining(&length);
    return bytes == nullptr ? Bytes() : Bytes(bytes, bytes + length);
}

// The stored form of one object or string (no header).
template <class T>
Bytes Stored(T& object) {
    return Written([&](CStorage& stream) { object.Write(stream); });
}

// The text form of one object or string (no header, no NUL).
template <class T>
std::string Rendered(T& object, bool bare = false) {
    const Bytes text = Written([&](CStorage& stream) { object.Render(stream, bare); });
    return std::string(text.begin(), text.end());
}

// The bytes of a Blob that StoreItem or RenderItem returned; empty when it was refused.
inline Bytes BlobBytes(const CRef<CItem>& blob) {
    CStr* bytes = blob ? blob->GetAtom()->GetBlob() : nullptr;
    if (bytes == nullptr) return Bytes();
    uint32_t length = 0;
    const char* data = bytes->GetString(&length);
    return Bytes(data, data + length);
}

inline Bytes StoreBytes(CItem& item) {
    return BlobBytes(StoreItem(item));
}

// The text form of a tree, ending in its NUL; empty when the render was refused.
inline std::string TextOf(CItem& item) {
    const Bytes text = BlobBytes(RenderItem(item, false));
    return std::string(text.begin(), text.end());
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

// Atom setters, for tables of cases.
using SetAtom = std::function<void(CAtom&)>;
inline SetAtom Bool(int32_t value) { return [value](CAtom& a) { a.SetBool(value); }; }
inline SetAtom Int(int32_t value) { return [value](CAtom& a) { a.SetInt(value); }; }
inline SetAtom Unsigned(uint32_t value) { return [value](CAtom& a) { a.SetUnsigned(value); }; }
inline SetAtom Real(double value) { return [value](CAtom& a) { a.SetReal(value); }; }
inline SetAtom String(const char* text) { return [text](CAtom& a) { a.SetString(text); }; }
inline SetAtom Blob(const char* text) {
    return [text](CAtom& a) { a.SetBlob(text, static_cast<uint16_t>(std::strlen(text))); };
}
// Cookies and times from a 64-bit value; codes from MbTypeItem up as bare type codes.
inline SetAtom Typed(uint32_t type, int64_t value) {
    return [type, value](CAtom& a) {
        if (type == MbTypeCookie) a.SetCookie(static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32));
        if (type == MbTypeLocalTime || type == MbTypeUtcTime) a.SetTime(type == MbTypeUtcTime, value);
        if (type >= MbTypeItem || type == MbTypeUnknown) a.SetType(type);
    };
}

inline CRef<CAtom> MakeAtom(const SetAtom& set) {
    CRef<CAtom> atom = CRef<CAtom>::Adopt(new CAtom);
    set(*atom.Get());
    return atom;
}

inline CRef<CItem> IntItem(int32_t value) {
    CRef<CItem> item = CItem::NewAtom();
    item->GetAtom()->SetInt(value);
    return item;
}

inline size_t Reported(const std::string& text) {
    return trace_capture::CountContaining(text);
}
