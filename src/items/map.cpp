#include "items/map.h"

#include <new>

#include "base/grow.h"
#include "items/atom.h"
#include "items/item.h"
#include "items/key_order.h"
#include "items/tree_walk.h"
#include "runtime/reports.h"

// Position of the first entry whose key is not less than the probe; call under the lock.
template <class Probe>
size_t CMap::LowerBound(const Probe& probe) const {
    size_t low = 0;
    size_t high = entries_.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (entries_[middle].key.Compare(probe) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

template <class Probe>
CItem* CMap::Find(const Probe& probe) {
    const size_t at = LowerBound(probe);
    if (at == entries_.size() || entries_[at].key.Compare(probe) != 0) return nullptr;
    return entries_[at].value.Get();
}

template <class Probe>
void CMap::RemoveMatching(const Probe& probe) {
    HeldEntry removed;
    ScopedLock hold(*this);
    const size_t at = LowerBound(probe);
    if (at == entries_.size() || entries_[at].key.Compare(probe) != 0) return;
    removed = std::move(entries_[at]);
    entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(at));
}

uint16_t CMap::Count() {
    ScopedLock hold(*this);
    return static_cast<uint16_t>(entries_.size());
}

CItem* CMap::Get(const CAtom* key) {
    ScopedLock hold(*this);
    return GetLocked(key);
}

CItem* CMap::GetNamed(const char* text) {
    ScopedLock hold(*this);
    return GetNamedLocked(text);
}

CItem* CMap::GetLocked(const CAtom* key) {
    return key == nullptr ? nullptr : Find(CKeyView::Of(*key));
}

CItem* CMap::GetNamedLocked(const char* text) {
    return Find(CKeyView::OfText(text));
}

CAtom* CMap::KeyAt(uint16_t position) {
    ScopedLock hold(*this);
    return position < entries_.size() ? entries_[position].key.Atom() : nullptr;
}

bool CMap::EntryAt(uint16_t position, CAtom** key, CItem** value) {
    ScopedLock hold(*this);
    if (position >= entries_.size()) return false;
    *key = entries_[position].key.Atom();
    *value = entries_[position].value.Get();
    return *key != nullptr;
}

bool CMap::Set(CAtom* key, CItem* value) {
    if (key == nullptr) return false;
    if (value == nullptr) {
        Remove(key);
        return true;
    }
    return Put(HeldEntry{CMapKey(CHeldRef<CAtom>::Share(key)), CHeldRef<CItem>::Share(value)});
}

bool CMap::Set(CAtom* key, CHeldRef<CItem> value) {
    return key != nullptr && Put(HeldEntry{CMapKey(CHeldRef<CAtom>::Share(key)), std::move(value)});
}

// The parameter outlives the lock: what it holds at the end (a replaced entry, or a refused
// one) is released after unlocking.
bool CMap::Put(HeldEntry entry) {
    if (!entry.key || !entry.value) return false;
    ScopedLock hold(*this);
    const CKeyView probe = entry.key.View();
    const size_t at = LowerBound(probe);
    if (at < entries_.size() && entries_[at].key.Compare(probe) == 0) {
        std::swap(entries_[at], entry);
        return true;
    }
    if (entries_.size() >= kMaxCount) return false;
    try {
        Grow(entries_, entries_.size() + 1, kLeastElements);
        entries_.insert(entries_.begin() + static_cast<ptrdiff_t>(at), std::move(entry));
    } catch (const std::bad_alloc&) {
        ReportError("failed to allocate map buffer during set");
        return false;
    }
    return true;
}

bool CMap::SetNamed(const char* text, CItem* value) {
    if (value == nullptr) {
        RemoveNamed(text);
        return true;
    }
    return SetNamed(text, CHeldRef<CItem>::Share(value));
}

bool CMap::SetNamed(const char* text, CHeldRef<CItem> value) {
    return value && Put(HeldEntry{CMapKey::OfText(text), std::move(value)});
}

void CMap::Remove(const CAtom* key) {
    if (key != nullptr) RemoveMatching(CKeyView::Of(*key));
}

void CMap::RemoveNamed(const char* text) {
    RemoveMatching(CKeyView::OfText(text));
}

void CMap::Clear() {
    ReplaceEntries({});
}

void CMap::ReplaceEntries(Entries&& entries) {
    Entries old;
    ScopedLock hold(*this);
    old.swap(entries_);
    entries_.swap(entries);
}

uint16_t CMap::Render(CStorage& stream, bool bare) {
    return RenderTree(stream, *this, bare);
}

uint16_t CMap::Read(CStorage& stream) {
    return ReadTree(stream, *this);
}

uint16_t CMap::Write(CStorage& stream) {
    return WriteTree(stream, *this);
}
