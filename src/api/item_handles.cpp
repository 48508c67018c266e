#include "api/item_handles.h"

#include "api/handle_cast.h"
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

MbItem Publish(CRef<CItem> item) {
    if (!item || !IsKnownObject(item.Get())) return nullptr;
    return item.Detach();
}
