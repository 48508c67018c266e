// Item handles as the library sees them. Every handle goes through the tracker first: a null
// handle resolves to null quietly, an unknown one with one warning and is never dereferenced,
// and a known object that is not an item wrapper (a sink, a source) resolves to null as well,
// so the caller answers it like an invalid handle.
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

// The item when the tracker knows it; an item it does not know (its tracker entry could not be
// made) could never be used or released through a handle, so it is released here instead.
CCheckedRef<CItem> Tracked(CRef<CItem> item);

// Hands a new item's reference to the caller: null for an empty holder, and for an item that
// Tracked refuses.
MbItem Publish(CRef<CItem> item);

// Makes an item with `make` and hands it to the caller; null without a tracker.
template <class Make>
MbItem MakeItem(Make&& make) {
    return CanMakeItems() ? Publish(make()) : nullptr;
}
