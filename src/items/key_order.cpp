#include "items/key_order.h"

#include <cmath>
#include <cstring>

#include "items/atom.h"
#include "items/str.h"

namespace {

enum Rank : uint8_t { kNone, kNumber, kCookie, kLocalTime, kUtcTime, kBytes, kUnknown };

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

CKeyView Bytes(const CStr* string) {
    CKeyView view{};
    view.rank = kBytes;
    if (string == nullptr) return view;
    uint32_t length = 0;
    view.bytes = reinterpret_cast<const uint8_t*>(string->GetString(&length));
    view.length = length;
    view.tier = view.bytes == nullptr ? 1 : 2;
    return view;
}

template <class T>
int Order(T a, T b) {
    return a < b ? -1 : (b < a ? 1 : 0);
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
        case MbTypeString: return Bytes(atom.HeldString());
        default: return Integer(kUnknown, atom.GetType());
    }
}

CKeyView CKeyView::OfText(const char* text) {
    CKeyView view{};
    view.rank = kBytes;
    if (text == nullptr) return view;
    view.length = static_cast<uint32_t>(std::strlen(text));
    view.bytes = view.length == 0 ? nullptr : reinterpret_cast<const uint8_t*>(text);
    view.tier = view.length == 0 ? 1 : 2;
    return view;
}

int CompareKeys(const CKeyView& a, const CKeyView& b) {
    if (a.rank != b.rank) return Order(a.rank, b.rank);
    switch (a.rank) {
        case kNone: return 0;
        case kNumber:
            if (a.isNaN || b.isNaN) return Order(a.isNaN, b.isNaN);
            return Order(a.number, b.number);
        case kBytes: {
            if (a.tier != 2 || b.tier != 2) return Order(a.tier, b.tier);
            const uint32_t shorter = a.length < b.length ? a.length : b.length;
            const int order = std::memcmp(a.bytes, b.bytes, shorter);
            return order != 0 ? order : Order(a.length, b.length);
        }
        default: return Order(a.integer, b.integer);
    }
}
