// Exported comparison, storage and text functions: MbItemEqual, MbItemToBytes, MbItemFromBytes
// and MbItemToText. The storage functions return a new item owned by the caller, or null.
#include <mbus/mbus.h>

#include "api/guard.h"
#include "items/item_handles.h"
#include "items/item_tree.h"
#include "items/str.h"

// Items without atom (empty, List or Map items, and unknown or null handles alike) all count as
// equal to each other; an item with an atom never equals one without.
extern "C" MbBool MbItemEqual(MbItem a, MbItem b) noexcept {
    return Guarded<MbBool>(0, [&] {
        const CAtom* left = ResolveAtom(a);
        const CAtom* right = ResolveAtom(b);
        if (left == right) return 1;
        if (left == nullptr || right == nullptr) return 0;
        return CAtom::Equals(*left, *right) ? 1 : 0;
    });
}

extern "C" MbItem MbItemToBytes(MbItem item) noexcept {
    return Guarded<MbItem>(nullptr, [&] {
        CItem* resolved = ResolveItem(item);
        return resolved != nullptr ? Publish(StoreItem(*resolved)) : nullptr;
    });
}

extern "C" MbItem MbItemFromBytes(MbItem blob) noexcept {
    return Guarded<MbItem>(nullptr, [&] {
        const CAtom* atom = ResolveAtom(blob);
        const CStr* bytes = atom != nullptr ? atom->GetBlob() : nullptr;
        if (bytes == nullptr || bytes->IsEmpty()) return static_cast<MbItem>(nullptr);
        return Publish(LoadItem(bytes->GetString(), bytes->Length()));
    });
}

extern "C" MbItem MbItemToText(MbItem item, uint32_t bare) noexcept {
    return Guarded<MbItem>(nullptr, [&] {
        CItem* resolved = ResolveItem(item);
        return resolved != nullptr ? Publish(RenderItem(*resolved, bare != 0)) : nullptr;
    });
}
