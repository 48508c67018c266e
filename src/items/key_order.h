// The map key order. Atoms of mixed types must sort by one consistent strict weak order, and the
// cross-type rules an atom comparison would suggest are not one (an Int and a Real that rounds
// to it are each "not less" than the other, yet the Reals around it are ordered; NaN is
// incomparable to everything). Keys therefore sort by class first and by value within a class:
//
//   0 None           all None keys are one key
//   1 numbers        Bool (as 0 or 1), Int, Unsigned and Real by exact numeric value; Int 1,
//                    Unsigned 1, Real 1.0 and Bool true are one key; NaN after every number
//   2 Cookie         unsigned 64-bit
//   3 LocalTime      signed 64-bit
//   4 UtcTime        signed 64-bit
//   5 bytes          Blob and String alike: no CStr first, then a CStr holding nothing, then
//                    the bytes in unsigned byte order (a Blob and a String with the same bytes
//                    are one key)
//   6 unknown codes  by type code (never produced by the library)
//
// Within one type this is the order of the type's own comparison (except NaN), None keys come
// first, and Blob and String keys keep their byte order.
#pragma once

#include <cstdint>
#include <cstring>

class CAtom;

struct CKeyView {
    static constexpr uint8_t kBytesRank = 5;

    uint8_t rank;
    // rank 1: the numeric value (isNaN set for NaN); ranks 2 to 4: the 64-bit value; rank 5:
    // tier 0 no CStr, 1 CStr holding nothing, 2 bytes; rank 6: the type code in integer.
    bool isNaN;
    uint8_t tier;
    double number;
    uint64_t integer;
    const uint8_t* bytes;
    uint32_t length;

    static CKeyView Of(const CAtom& atom);
    // A Blob or String key holding length bytes at bytes (tier 1 for 0 bytes).
    static CKeyView OfBytes(const void* bytes, uint32_t length);
    // A String key: tier 0 for a null text, 1 for "", else the bytes.
    static CKeyView OfText(const char* text);

    // Rank 5, tier 2: some bytes.
    bool HoldsBytes() const { return rank == kBytesRank && tier == 2; }
};

// The order of two keys of some bytes (tier 2): unsigned bytes, then length. Map keys are
// mostly short names that differ in their first byte: that byte is compared before any call
// to memcmp.
inline int CompareKeyBytes(const uint8_t* a, uint32_t aLength, const uint8_t* b, uint32_t bLength) {
    if (a[0] != b[0]) return a[0] < b[0] ? -1 : 1;
    const int order = std::memcmp(a, b, aLength < bLength ? aLength : bLength);
    if (order != 0) return order;
    return aLength < bLength ? -1 : (bLength < aLength ? 1 : 0);
}

// Negative, zero or positive as a sorts before, with, or after b.
int CompareKeys(const CKeyView& a, const CKeyView& b);
// The same order for a key atom against a view, and for two key atoms. Keys of bytes (the map
// keys of most trees) are compared without making a whole view of each.
int CompareKeys(const CAtom& a, const CKeyView& b);
int CompareKeys(const CAtom& a, const CAtom& b);
