#include "items/private_build.h"

#include <boost/container/small_vector.hpp>

CPrivateBuild::CPrivateBuild() : outer_(CStorable::BuildingPrivately()) {
    CStorable::SetBuildingPrivately(true);
}

CPrivateBuild::~CPrivateBuild() {
    if (!ended_) CStorable::SetBuildingPrivately(outer_);
}

// A container is made shared before its elements are looked at and only private ones are
// entered, so each is entered once and shared subtrees are skipped.
CRef<CItem> CPrivateBuild::Share(CRef<CItem> root) {
    CStorable::SetBuildingPrivately(outer_);
    ended_ = true;
    if (!root) return root;
    boost::container::small_vector<CItem*, 16> pending;
    const auto visit = [&pending](CItem& item) {
        CStorable* child = item.Child();
        if (child == nullptr || !child->IsPrivate()) return;
        child->MakeShared();
        pending.push_back(&item);
    };
    visit(*root);
    while (!pending.empty()) {
        CItem* item = pending.back();
        pending.pop_back();
        if (CList* list = item->GetList()) {
            for (const CHeldRef<CItem>& element : list->elements_) visit(*element);
        } else if (CMap* map = item->GetMap()) {
            for (const CMap::HeldEntry& entry : map->entries_) visit(*entry.value);
        }
    }
    return root;
}
