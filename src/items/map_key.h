// CMapKey: the key of one map entry. A key given as an atom (CMap::Set) is that atom, held by
// reference. A short String key that the map makes itself (CMap::SetNamed, or a load) is kept
// as its bytes, and its atom is made only when a caller asks for the key itself (KeyAt,
// EntryAt); from then on the key is that atom, so every later request gets the same one. Most
// keys are never asked for, so most entries cost no counted object for their key.
//
// Invariant: a key holds its atom, or 1 to kTextCapacity bytes, or nothing (moved from, or not
// made). Its text, written and compared forms are those of a String atom holding the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "items/atom.h"
#include "items/key_order.h"
#include "runtime/ref_count.h"

class CStorage;

class CMapKey {
public:
    // The longest key kept as bytes; longer ones are atoms from the start.
    static constexpr uint32_t kTextCapacity = 15;

    CMapKey() = default;
    explicit CMapKey(CHeldRef<CAtom> atom) : atom_(std::move(atom)) {}
    CMapKey(CMapKey&& other) noexcept : length_(other.length_), atom_(std::move(other.atom_)) {
        std::memcpy(text_, other.text_, sizeof text_);
        other.length_ = 0;
    }
    CMapKey& operator=(CMapKey&& other) noexcept {
        if (this != &other) {
            length_ = std::exchange(other.length_, 0);
            std::memcpy(text_, other.text_, sizeof text_);
            atom_ = std::move(other.atom_);
        }
        return *this;
    }

    // A String key of the text: kept as its bytes when they fit, else a new atom (a String
    // without content for "", none for null). Empty when memory ran out.
    static CMapKey OfText(const char* text);

    explicit operator bool() const { return atom_ || length_ != 0; }
    // The key's atom, made from its bytes when it has none yet; null (reported) when it cannot
    // be made. Call under the map's lock.
    CAtom* Atom();
    // The atom type of the key (String for one kept as bytes), and the cell of an atom that holds
    // no string.
    uint32_t GetType() const { return atom_ ? atom_->GetType() : uint32_t{MbTypeString}; }
    uint64_t CellBits() const { return atom_ ? atom_->CellBits() : 0; }
    CKeyView View() const { return atom_ ? CKeyView::Of(*atom_) : CKeyView::OfBytes(text_, length_); }
    // Negative, zero or positive as the key sorts before, with or after the probe.
    int Compare(const CKeyView& probe) const {
        if (atom_) return CompareKeys(*atom_, probe);
        if (probe.HoldsBytes())
            return CompareKeyBytes(reinterpret_cast<const uint8_t*>(text_), length_, probe.bytes, probe.length);
        return CompareKeys(View(), probe);
    }

    // Where the bytes kept end, counted from the key's start.
    static constexpr size_t TextEnd();

    // Reads a stored atom into this empty key: a String of 1 to kTextCapacity bytes that the
    // stream holds whole is kept as its bytes; anything else is read into a new atom. False when
    // that atom cannot be made (nothing read).
    bool Read(CStorage& stream);
    uint16_t Render(CStorage& stream, bool bare);
    uint16_t Write(CStorage& stream);

private:
    // Bytes kept in text_: 0 while the key has an atom, or is empty.
    uint8_t length_ = 0;
    char text_[kTextCapacity] = {};
    // Last: an array of entries puts the tracker's stamp place on it (map.h).
    CHeldRef<CAtom> atom_;
};

constexpr size_t CMapKey::TextEnd() {
    return offsetof(CMapKey, text_) + sizeof text_;
}
