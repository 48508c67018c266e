#include "items/item_access.h"

#include <cstring>

#include "items/atom_values.h"
#include "items/item_tree.h"
#include "items/str.h"

CRef<CItem> FindNamed(CItem& container, const char* text) {
    CMap* map = container.GetMap();
    if (map == nullptr) return CRef<CItem>();
    ScopedLock hold(*map);
    return CRef<CItem>::Share(map->GetNamedLocked(text));
}

bool HasNamed(CItem& container, const char* text) {
    CMap* map = container.GetMap();
    return map != nullptr && map->GetNamed(text) != nullptr;
}

CRef<CItem> NewStringItem(const char* text) {
    return NewAtomItem(atom_value::String(text));
}

std::string ItemText(CItem& item) {
    CRef<CItem> text = RenderItem(item, false);
    const CStr* bytes = text ? text->GetAtom()->GetBlob() : nullptr;
    if (bytes == nullptr || bytes->IsEmpty()) return std::string();
    const char* characters = bytes->GetString();
    return std::string(characters, strnlen(characters, bytes->Length()));
}
