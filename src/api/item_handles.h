// Item handles as the exported item functions see them. Every handle goes through the tracker
// first: a null handle resolves to null quietly, an unknown one with one warning and is never
// dereferenced, and a known object that is not an item wrapper (a sink, a source) resolves to
// null as well, so the caller answers it like an invalid handle.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>

#include "items/item.h"

CItem* ResolveItem(MbItem handle);
// The atom of an Atom item; null for every other handle or kind, and for an item without atom.
CAtom* ResolveAtom(MbItem handle);

// Items are made only while the tracker exists: an object made without it is never tracked, and
// the reference counting of the item classes (CheckedAddRef, CheckedRelease) would neither keep
// nor free its children.
bool CanMakeItems();

// Hands a new item's reference to the caller. An empty holder gives null, and so does an item
// the tracker does not know (its tracker entry could not be made): such a handle could never be
// used or released, so it is released here.
MbItem Publish(CRef<CItem> item);

// Makes an item with `make` and hands it to the caller; null without a tracker.
template <class Make>
MbItem MakeItem(Make&& make) {
    return CanMakeItems() ? Publish(make()) : nullptr;
}

// A 16-bit length out-argument for a length held in 32 bits. Blobs never exceed 65,535 bytes;
// only a String made from a longer text does, and its length saturates instead of wrapping.
inline uint16_t Length16(uint32_t length) {
    return length > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(length);
}

// Clears an optional out-argument: exported functions clear their outs before testing anything.
template <class T>
void ClearOut(T* out) {
    if (out != nullptr) *out = T{};
}
