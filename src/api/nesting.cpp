#include "api/nesting.h"

#include <unordered_set>

#include "items/locked_frames.h"

namespace {

CStorable* ContainerOf(CItem& item, bool* isMap) {
    *isMap = item.GetMap() != nullptr;
    return *isMap ? static_cast<CStorable*>(item.GetMap()) : item.GetList();
}

}  // namespace

bool WouldNestInItself(CItem& value, CItem& container) {
    bool isMap = false;
    const CStorable* target = ContainerOf(container, &isMap);
    if (target == nullptr || ContainerOf(value, &isMap) == nullptr) return false;

    CLockedFrames frames;
    std::unordered_set<const CStorable*> visited;
    // Enters the item's container unless it is the target or was walked already.
    const auto enter = [&](CItem& item) {
        bool map = false;
        CStorable* child = ContainerOf(item, &map);
        if (child == nullptr || child == target || !visited.insert(child).second) return child == target;
        CLockedFrames::Frame& frame = frames.Enter(*child, map);
        // A list's unmade elements are empty wrappers: they hold no container and stay unmade.
        frame.count = map ? static_cast<CMap*>(child)->Count() : static_cast<CList*>(child)->MadeCount();
        return false;
    };
    if (enter(value)) return true;
    while (!frames.Empty()) {
        CLockedFrames::Frame& top = frames.Top();
        if (top.next == top.count) {
            frames.Leave();
            continue;
        }
        const uint16_t position = static_cast<uint16_t>(top.next++);
        CItem* element = nullptr;
        if (top.isMap) {
            CAtom* key = nullptr;
            static_cast<CMap*>(top.container)->EntryAt(position, &key, &element);
        } else {
            element = static_cast<CList*>(top.container)->Get(position);
        }
        if (element != nullptr && enter(*element)) return true;
    }
    return false;
}
