#include "items/key_order.h"

#include <cmath>
#include <cstring>

#include "items/atom.h"
#include "items/str.h"

namespace {

enum Rank : uint8_t { kNone, kNumber, kCookie, kLocalTime, kUtcTime, kBytes, kUnknown };
static_assert(kBytes == CKeyView::kBytesRank);

CKeyView Number(double value) {
    CKeyView view{};
    view.rank = kNumber;
    view.isNaN = std::isnan(value);
    view.number = view.isNaN ? 0.0 : value;
    return view;
}

CKeyView Integer(Rank rank, uint64_t value) {
    CKeyView view{};
    view.rank = rank;
    view.integer = value;
    return view;
}

// The rank 5 fields of a Blob or String key.
struct CBytesKey {
    uint8_t tier;
    const uint8_t* bytes;
    uint32_t length;
};

// Holding length bytes at bytes: tier 1 for none, else 2.
CBytesKey BytesKey(const void* bytes, uint32_t length) {
    if (length == 0) return CBytesKey{1, nullptr, 0};
    return CBytesKey{2, static_cast<const uint8_t*>(bytes), length};
}

// Holding the string: tier 0 for none.
CBytesKey BytesKey(const CStr* string) {
    if (string == nullptr) return CBytesKey{0, nullptr, 0};
    uint32_t length = 0;
    const char* bytes = string->GetString(&length);
    return BytesKey(bytes, length);
}

CKeyView Bytes(const CBytesKey& key) {
    CKeyView view{};
    view.rank = kBytes;
    view.tier = key.tier;
    view.bytes = key.bytes;
    view.length = key.length;
    return view;
}

template <class T>
int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
}

CBytesKey BytesKey(const CKeyView& view) {
    return CBytesKey{view.tier, view.bytes, view.length};
}

int CompareBytes(const CBytesKey& a, const CBytesKey& b) {
    if (a.tier != 2 || b.tier != 2) return Order(a.tier, b.tier);
    return CompareKeyBytes(a.bytes, a.length, b.bytes, b.length);
}

}  // namespace

CKeyView CKeyView::Of(const CAtom& atom) {
    switch (atom.GetType()) {
        case MbTypeNone: return CKeyView{};
        // 32-bit integers are exact in a double, so one comparison of doubles orders them
        // among themselves and against reals.
        case MbTypeBool: return Number(atom.GetBool() != 0 ? 1.0 : 0.0);
        case MbTypeInt: return Number(atom.GetInt());
        case MbTypeUnsigned: return Number(atom.GetUnsigned());
        case MbTypeReal: return Number(atom.GetReal());
        case MbTypeCookie: return Integer(kCookie, atom.GetCookie());
        // Signed 64-bit order as unsigned order: flip the sign bit.
        case MbTypeLocalTime: return Integer(kLocalTime, atom.CellBits() ^ (1ull << 63));
        case MbTypeUtcTime: return Integer(kUtcTime, atom.CellBits() ^ (1ull << 63));
        case MbTypeBlob:
        case MbTypeString: return Bytes(BytesKey(atom.HeldString()));
        default: return Integer(kUnknown, atom.GetType());
    }
}

CKeyView CKeyView::OfBytes(const void* bytes, uint32_t length) {
    return Bytes(BytesKey(bytes, length));
}

CKeyView CKeyView::OfText(const char* text) {
    if (text == nullptr) return Bytes(CBytesKey{0, nullptr, 0});
    return OfBytes(text, static_cast<uint32_t>(std::strlen(text)));
}

int CompareKeys(const CKeyView& a, const CKeyView& b) {
    if (a.rank != b.rank) return Order(a.rank, b.rank);
    switch (a.rank) {
        case kNone: return 0;
        case kNumber:
            if (a.isNaN || b.isNaN) return Order(a.isNaN, b.isNaN);
            return Order(a.number, b.number);
        case kBytes: return CompareBytes(BytesKey(a), BytesKey(b));
        default: return Order(a.integer, b.integer);
    }
}

int CompareKeys(const CAtom& a, const CKeyView& b) {
    if (b.rank != kBytes || !CAtom::IsBytes(a.GetType())) return CompareKeys(CKeyView::Of(a), b);
    return CompareBytes(BytesKey(a.HeldString()), BytesKey(b));
}

int CompareKeys(const CAtom& a, const CAtom& b) {
    if (!CAtom::IsBytes(a.GetType()) || !CAtom::IsBytes(b.GetType()))
        return CompareKeys(CKeyView::Of(a), CKeyView::Of(b));
    return CompareBytes(BytesKey(a.HeldString()), BytesKey(b.HeldString()));
}
