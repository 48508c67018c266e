// CItem: the item wrapper. Every item handle of the exported functions is a CItem, and so is
// every list element and map value. It holds one child (an atom, a list or a map) or none, and
// its type code is its kind: MbTypeItem (no child), MbTypeAtom, MbTypeList or MbTypeMap.
// A wrapper has no lock; its child locks itself.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>

#include "items/atom.h"
#include "items/list.h"
#include "items/map.h"
#include "items/storable.h"

class CItem final : public CReadable {
public:
    CItem() : CReadable(MbTypeItem) { className_ = "CItem"; }

    // New wrappers around a new child: a None atom, an empty list, an empty map. The result
    // holds the caller's one reference; it is empty when an allocation failed.
    static CRef<CItem> NewAtom();
    static CRef<CItem> NewList();
    static CRef<CItem> NewMap();
    // A new wrapper around an existing atom (the wrapper takes its own reference).
    static CRef<CItem> WrapAtom(CAtom* atom);

    // The child when the kind matches (no new reference), else null.
    CAtom* GetAtom() const { return type_ == MbTypeAtom ? static_cast<CAtom*>(child_.Get()) : nullptr; }
    CList* GetList() const { return type_ == MbTypeList ? static_cast<CList*>(child_.Get()) : nullptr; }
    CMap* GetMap() const { return type_ == MbTypeMap ? static_cast<CMap*>(child_.Get()) : nullptr; }
    // Take a reference to the new child, release the old one, set the kind. A child the
    // tracker does not know (released meanwhile) leaves the wrapper without one.
    void SetAtom(CAtom* atom) { SetChild(MbTypeAtom, (atom)); }
    void SetList(CList* list) { SetChild(MbTypeList, (list)); }
    void SetMap(CMap* map) { SetChild(MbTypeMap, (map)); }
    CStorable* Child() const { return child_.Get(); }

    // The type code the exported functions report: the atom's type (1 to 10) for an Atom item
    // with a child, else the kind (11 to 14).
    uint32_t ValueType() const;

    // Render, Write and Read walk nested lists and maps without recursion (tree_walk.h).
    uint16_t Render(CStorage& stream, bool bare) override;
    uint16_t Read(CStorage& stream) override;
    uint16_t Write(CStorage& stream) override;
    // A wrapper of an atom, or of nothing, releases at most that atom when it goes: it is
    // destroyed at once. A wrapper of a list or a map joins the thread's destruction queue.
    void OnFinalRelease() override;

    // Letter of a wrapper kind: "I", "A", "L", "M"; 0 for other codes.
    static uint8_t KindLetter(uint32_t kind);

private:
    friend class CTreeReader;

    static CRef<CItem> NewWith(uint32_t kind, CStorable* child);
    void SetChild(uint32_t kind, CStorable* child);
    // As SetChild, but takes over the caller's reference to a new child.
    void AdoptChild(uint32_t kind, CHeldRef<CStorable> child);
    // Releases the child (if any) and leaves the wrapper without one; the kind stays.
    void DropChild();

    // Null while the kind is Item; also null under another kind after DropChild, or when the
    // child given could not be held.
    CHeldRef<CStorable> child_;
};
