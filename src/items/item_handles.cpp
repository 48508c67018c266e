#include "items/item_handles.h"

#include "runtime/handle_cast.h"
#include "runtime/process.h"
#include "runtime/tracker.h"

CItem* ResolveItem(MbItem handle) {
    return ResolveAs<CItem>(handle);
}

CAtom* ResolveAtom(MbItem handle) {
    CItem* item = ResolveItem(handle);
    return item != nullptr ? item->GetAtom() : nullptr;
}

bool CanMakeItems() {
    return process::Tracker() != nullptr;
}

CCheckedRef<CItem> Tracked(CRef<CItem> item) {
    if (!item || !IsKnownHeldObject(item.Get())) return CCheckedRef<CItem>();
    return CCheckedRef<CItem>::Adopt(item.Detach());
}

MbItem Publish(CRef<CItem> item) {
    return Tracked(std::move(item)).Detach();
}
