// A key as the exported container functions take it: the atom of a key item, a text (a String
// key) or a position (an Unsigned key in a map). A list is indexed by the position a key names;
// a map is searched by the key itself.
#pragma once

#include <cstdint>

#include "items/item.h"

class CContainerKey {
public:
    // No list reaches this position: a key that names none is beyond the end of every list.
    static constexpr uint32_t kNowhere = UINT32_MAX;

    static CContainerKey OfAtom(CAtom& atom) { return CContainerKey(Kind::Atom, &atom, nullptr, 0); }
    static CContainerKey OfText(const char* text) { return CContainerKey(Kind::Text, nullptr, text, 0); }
    static CContainerKey OfPosition(uint32_t position) {
        return CContainerKey(Kind::Position, nullptr, nullptr, position);
    }

    // The list position: a Bool names 0 or 1, an Int its value when not negative, an Unsigned
    // and a position their value; every other key names kNowhere.
    uint32_t ListPosition() const;

    // The map operations under this key (CMap::Get, Set and Remove); FindIn for a caller that
    // holds the map's lock. A position key is an Unsigned atom made for the call; SetIn gives
    // false when it cannot be made.
    CItem* FindIn(CMap& map) const REQUIRES(map);
    bool SetIn(CMap& map, CItem& value) const;
    void RemoveFrom(CMap& map) const;

private:
    enum class Kind { Atom, Text, Position };

    CContainerKey(Kind kind, CAtom* atom, const char* text, uint32_t position)
        : kind_(kind), atom_(atom), text_(text), position_(position) {}

    Kind kind_;
    CAtom* atom_;
    const char* text_;
    uint32_t position_;
};
