// Exported list and map functions. Most take the container as a plain item and decide by its
// kind: a List is indexed by position, a Map searched by key (a key item's atom, a text, or an
// Unsigned key equal to a position). Items passed in are never released here; a container that
// keeps one takes its own reference, and an element handed out carries a new one.
#include <mbus/mbus.h>

#include "api/container_key.h"
#include "api/guard.h"
#include "api/nesting.h"
#include "api/out_args.h"
#include "items/item_handles.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

namespace {

// False, with a warning naming the value, when putting the value into the container would nest
// the container inside itself.
bool Accepts(CItem& container, CItem& value) {
    if (!WouldNestInItself(value, container)) return true;
    ReportWarning("attempt to nest a container inside itself at", &value);
    return false;
}

// The element a lookup found under the container's lock, which the caller still holds. With
// `element` given, it is handed out with a reference added before the lock is left, so that a
// removal on another thread cannot free it in between.
MbResult HandOut(CItem* found, MbItem* element) {
    if (found == nullptr) return MbResultNotFound;
    if (element != nullptr && CheckedAddRefHeld(found)) *element = found;
    return MbResultOk;
}

// Looks the key up in a List or Map; MbResultInvalid for any other kind of item.
MbResult Lookup(CItem& container, const CContainerKey& key, MbItem* element) {
    if (CList* list = container.GetList()) {
        const uint32_t position = key.ListPosition();
        ScopedLock hold(*list);
        return HandOut(position <= UINT16_MAX ? list->GetLocked(static_cast<uint16_t>(position)) : nullptr, element);
    }
    if (CMap* map = container.GetMap()) {
        ScopedLock hold(*map);
        return HandOut(key.FindIn(*map), element);
    }
    return MbResultInvalid;
}

// Replaces or adds the value under the key: a List position must hold an element already.
MbResult Store(CItem& container, const CContainerKey& key, CItem& value) {
    if (CList* list = container.GetList()) {
        const uint32_t position = key.ListPosition();
        if (position >= list->Count()) return MbResultNotFound;
        const bool set = Accepts(container, value) && list->Set(static_cast<uint16_t>(position), &value);
        return set ? MbResultOk : MbResultFailed;
    }
    if (CMap* map = container.GetMap()) {
        return Accepts(container, value) && key.SetIn(*map, value) ? MbResultOk : MbResultFailed;
    }
    return MbResultInvalid;
}

// Removes the entry under the key; an absent map key is no error, a List position beyond the
// end is.
MbResult Erase(CItem& container, const CContainerKey& key) {
    if (CList* list = container.GetList()) {
        const uint32_t position = key.ListPosition();
        if (position >= list->Count()) return MbResultNotFound;
        list->Remove(static_cast<uint16_t>(position));
        return MbResultOk;
    }
    if (CMap* map = container.GetMap()) {
        key.RemoveFrom(*map);
        return MbResultOk;
    }
    return MbResultInvalid;
}

}  // namespace

extern "C" MbResult MbListInsert(MbItem list, uint32_t position, MbItem element, uint16_t* index) noexcept {
    if (index != nullptr) *index = MbAppendIndex;
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* container = ResolveItem(list);
        CItem* item = ResolveItem(element);
        if (container == nullptr || container->GetList() == nullptr || item == nullptr) return MbResultInvalid;
        const bool inserted =
            Accepts(*container, *item) && container->GetList()->Insert(static_cast<uint16_t>(position), item, index);
        return inserted ? MbResultOk : MbResultFailed;
    });
}

extern "C" MbResult MbListAppend(MbItem list, MbItem element, uint16_t* index) noexcept {
    return MbListInsert(list, MbAppendIndex, element, index);
}

extern "C" MbResult MbItemGetCount(MbItem container, uint16_t* count) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(count);
        if (count == nullptr) return MbResultInvalid;
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        if (CList* list = item->GetList()) {
            *count = list->Count();
        } else if (CMap* map = item->GetMap()) {
            *count = map->Count();
        } else {
            return MbResultInvalid;
        }
        return MbResultOk;
    });
}

extern "C" MbResult MbItemGetAt(MbItem container, uint16_t position, MbItem* element) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(element);
        if (element == nullptr) return MbResultInvalid;
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        return Lookup(*item, CContainerKey::OfPosition(position), element);
    });
}

// Unlike MbItemSet, a List position beyond the end fails (MbResultFailed), as CList::Set does.
extern "C" MbResult MbItemSetAt(MbItem container, uint16_t position, MbItem value) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        CItem* element = ResolveItem(value);
        if (item == nullptr || element == nullptr) return MbResultInvalid;
        if (item->GetList() == nullptr && item->GetMap() == nullptr) return MbResultInvalid;
        if (!Accepts(*item, *element)) return MbResultFailed;
        if (CList* list = item->GetList()) return list->Set(position, element) ? MbResultOk : MbResultFailed;
        return CContainerKey::OfPosition(position).SetIn(*item->GetMap(), *element) ? MbResultOk : MbResultFailed;
    });
}

// Unlike MbItemRemove, a List position beyond the end is no error: nothing happens.
extern "C" MbResult MbItemRemoveAt(MbItem container, uint16_t position) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        if (CList* list = item->GetList()) {
            list->Remove(position);
        } else if (CMap* map = item->GetMap()) {
            CContainerKey::OfPosition(position).RemoveFrom(*map);
        } else {
            return MbResultInvalid;
        }
        return MbResultOk;
    });
}

// Positions above 65535 are refused as beyond the end rather than cut to 16 bits, which would
// name an unrelated key. The new wrapper shares the map's key atom, made now for a key the map
// keeps as its bytes; failing to make it is a failure, not an absent key.
extern "C" MbResult MbMapGetKeyAt(MbItem map, uint32_t position, MbItem* key) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(key);
        if (key == nullptr) return MbResultInvalid;
        CItem* item = ResolveItem(map);
        CMap* resolved = item != nullptr ? item->GetMap() : nullptr;
        if (resolved == nullptr) return MbResultInvalid;
        if (position > UINT16_MAX) return MbResultNotFound;
        ScopedLock hold(*resolved);
        if (position >= resolved->Count()) return MbResultNotFound;
        CAtom* atom = resolved->KeyAt(static_cast<uint16_t>(position));
        if (atom == nullptr) return MbResultFailed;
        *key = Publish(CItem::WrapAtom(atom));
        return *key != nullptr ? MbResultOk : MbResultFailed;
    });
}

extern "C" MbResult MbItemGet(MbItem container, MbItem key, MbItem* element) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(element);
        if (element == nullptr) return MbResultInvalid;
        CItem* item = ResolveItem(container);
        CAtom* atom = ResolveAtom(key);
        if (item == nullptr || atom == nullptr) return MbResultInvalid;
        return Lookup(*item, CContainerKey::OfAtom(*atom), element);
    });
}

extern "C" MbResult MbItemSet(MbItem container, MbItem key, MbItem value) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        CAtom* atom = ResolveAtom(key);
        CItem* element = ResolveItem(value);
        if (item == nullptr || atom == nullptr || element == nullptr) return MbResultInvalid;
        return Store(*item, CContainerKey::OfAtom(*atom), *element);
    });
}

extern "C" MbResult MbItemRemove(MbItem container, MbItem key) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        CAtom* atom = ResolveAtom(key);
        if (item == nullptr || atom == nullptr) return MbResultInvalid;
        return Erase(*item, CContainerKey::OfAtom(*atom));
    });
}

extern "C" MbResult MbMapGetNamed(MbItem container, const char* key, MbItem* element) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(element);
        if (element == nullptr) return MbResultInvalid;
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        return Lookup(*item, CContainerKey::OfText(key), element);
    });
}

extern "C" MbResult MbMapHasNamed(MbItem container, const char* key) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        return Lookup(*item, CContainerKey::OfText(key), nullptr);
    });
}

extern "C" MbResult MbMapSetNamed(MbItem container, const char* key, MbItem value) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        CItem* element = ResolveItem(value);
        if (item == nullptr || element == nullptr) return MbResultInvalid;
        return Store(*item, CContainerKey::OfText(key), *element);
    });
}

extern "C" MbResult MbMapRemoveNamed(MbItem container, const char* key) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        return Erase(*item, CContainerKey::OfText(key));
    });
}

extern "C" MbResult MbItemClear(MbItem container) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(container);
        if (item == nullptr) return MbResultInvalid;
        if (CList* list = item->GetList()) {
            list->Clear();
        } else if (CMap* map = item->GetMap()) {
            map->Clear();
        } else {
            return MbResultInvalid;
        }
        return MbResultOk;
    });
}
