#include "items/item.h"

#include <new>
#include <utility>

#include "items/tree_walk.h"
#include "runtime/object_memory.h"

// Node holders (CHeldRef) read a released node's stamp, which only a slab block keeps readable.
static_assert(sizeof(CItem) <= kLargestSlabBlock && sizeof(CAtom) <= kLargestSlabBlock &&
              sizeof(CList) <= kLargestSlabBlock && sizeof(CMap) <= kLargestSlabBlock);

CRef<CItem> CItem::NewWith(uint32_t kind, CStorable* child) {
    CHeldRef<CStorable> held = CHeldRef<CStorable>::Adopt(child);
    if (!held) return CRef<CItem>();
    CRef<CItem> item = CRef<CItem>::Adopt(new (std::nothrow) CItem);
    if (item) item->AdoptChild(kind, std::move(held));
    return item;
}

CRef<CItem> CItem::NewAtom() {
    return NewWith(MbTypeAtom, new (std::nothrow) CAtom);
}

CRef<CItem> CItem::NewList() {
    return NewWith(MbTypeList, new (std::nothrow) CList);
}

CRef<CItem> CItem::NewMap() {
    return NewWith(MbTypeMap, new (std::nothrow) CMap);
}

CRef<CItem> CItem::WrapAtom(CAtom* atom) {
    CRef<CItem> item = CRef<CItem>::Adopt(new (std::nothrow) CItem);
    if (item) item->SetAtom(atom);
    return item;
}

void CItem::SetChild(uint32_t kind, CStorable* child) {
    AdoptChild(kind, CHeldRef<CStorable>::Share(child));
}

// The old child goes after the new one is in place, so the wrapper never shows a released one.
void CItem::AdoptChild(uint32_t kind, CHeldRef<CStorable> child) {
    CHeldRef<CStorable> old = std::exchange(child_, std::move(child));
    type_ = kind;
}

void CItem::OnFinalRelease() {
    if (type_ == MbTypeList || type_ == MbTypeMap) return CStorable::OnFinalRelease();
    delete this;
}

void CItem::DropChild() {
    child_.Reset();
}

uint32_t CItem::ValueType() const {
    const CAtom* atom = GetAtom();
    return atom != nullptr ? atom->GetType() : type_;
}

uint8_t CItem::KindLetter(uint32_t kind) {
    return kind != MbTypeUnknown && kind < CAtom::kTypeCount ? static_cast<uint8_t>(CAtom::kTypeLetters[kind]) : 0;
}

uint16_t CItem::Render(CStorage& stream, bool bare) {
    return RenderTree(stream, *this, bare);
}

uint16_t CItem::Read(CStorage& stream) {
    return ReadTree(stream, *this);
}

uint16_t CItem::Write(CStorage& stream) {
    return WriteTree(stream, *this);
}
