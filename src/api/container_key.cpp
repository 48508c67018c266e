#include "api/container_key.h"

#include <new>

uint32_t CContainerKey::ListPosition() const {
    switch (kind_) {
        case Kind::Position: return position_;
        case Kind::Text: return kNowhere;
        case Kind::Atom: break;
    }
    switch (atom_->GetType()) {
        case MbTypeBool: return atom_->GetBool() != 0 ? 1 : 0;
        case MbTypeInt: return atom_->GetInt() >= 0 ? static_cast<uint32_t>(atom_->GetInt()) : kNowhere;
        case MbTypeUnsigned: return atom_->GetUnsigned();
        default: return kNowhere;
    }
}

CItem* CContainerKey::FindIn(CMap& map) const {
    switch (kind_) {
        case Kind::Atom: return map.GetLocked(atom_);
        case Kind::Text: return map.GetNamedLocked(text_);
        case Kind::Position: break;
    }
    CAtom key;
    key.SetUnsigned(position_);
    return map.GetLocked(&key);
}

bool CContainerKey::SetIn(CMap& map, CItem& value) const {
    switch (kind_) {
        case Kind::Atom: return map.Set(atom_, &value);
        case Kind::Text: return map.SetNamed(text_, &value);
        case Kind::Position: break;
    }
    CRef<CAtom> key = CRef<CAtom>::Adopt(new (std::nothrow) CAtom);
    if (!key) return false;
    key->SetUnsigned(position_);
    return map.Set(key.Get(), &value);
}

void CContainerKey::RemoveFrom(CMap& map) const {
    switch (kind_) {
        case Kind::Atom: map.Remove(atom_); return;
        case Kind::Text: map.RemoveNamed(text_); return;
        case Kind::Position: break;
    }
    CAtom key;
    key.SetUnsigned(position_);
    map.Remove(&key);
}
