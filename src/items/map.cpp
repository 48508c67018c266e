#include "items/map.h"

#include <new>

#include "items/atom.h"
#include "items/item.h"
#include "items/key_order.h"
#include "items/tree_walk.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

namespace {
void ReleaseAll(const std::vector<CMap::Entry>& entries) {
    for (const CMap::Entry& entry : entries) {
        CheckedRelease(entry.key);
        CheckedRelease(entry.value);
    }
}
}  // namespace

CMap::~CMap() {
    ScopedLock hold(*this);
    ReleaseAll(entries_);
}

// Position of the first entry whose key is not less than the probe; call under the lock.
template <class Probe>
size_t CMap::LowerBound(const Probe& probe) const {
    size_t low = 0;
    size_t high = entries_.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (CompareKeys(CKeyView::Of(*entries_[middle].key), probe) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

template <class Probe>
CItem* CMap::Find(const Probe& probe) {
    ScopedLock hold(*this);
    const size_t at = LowerBound(probe);
    if (at == entries_.size() || CompareKeys(probe, CKeyView::Of(*entries_[at].key)) != 0) return nullptr;
    return entries_[at].value;
}

template <class Probe>
void CMap::RemoveMatching(const Probe& probe) {
    Entry removed{};
    {
        ScopedLock hold(*this);
        const size_t at = LowerBound(probe);
        if (at == entries_.size() || CompareKeys(probe, CKeyView::Of(*entries_[at].key)) != 0) return;
        removed = entries_[at];
        entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(at));
    }
    CheckedRelease(removed.key);
    CheckedRelease(removed.value);
}

uint16_t CMap::Count() {
    ScopedLock hold(*this);
    return static_cast<uint16_t>(entries_.size());
}

CItem* CMap::Get(const CAtom* key) {
    return key == nullptr ? nullptr : Find(CKeyView::Of(*key));
}

CItem* CMap::GetNamed(const char* text) {
    return Find(CKeyView::OfText(text));
}

CAtom* CMap::KeyAt(uint16_t position) {
    ScopedLock hold(*this);
    return position < entries_.size() ? entries_[position].key : nullptr;
}

bool CMap::EntryAt(uint16_t position, CAtom** key, CItem** value) {
    ScopedLock hold(*this);
    if (position >= entries_.size()) return false;
    *key = entries_[position].key;
    *value = entries_[position].value;
    return true;
}

bool CMap::Set(CAtom* key, CItem* value) {
    if (key == nullptr) return false;
    if (value == nullptr) {
        Remove(key);
        return true;
    }
    Entry old{};
    {
        ScopedLock hold(*this);
        const CKeyView probe = CKeyView::Of(*key);
        const size_t at = LowerBound(probe);
        if (at < entries_.size() && CompareKeys(probe, CKeyView::Of(*entries_[at].key)) == 0) {
            old = entries_[at];
            entries_[at] = Entry{key, value};
        } else {
            if (entries_.size() >= kMaxCount) return false;
            try {
                const size_t count = entries_.size();
                if (count == entries_.capacity()) entries_.reserve(count + (count / 2 > 1 ? count / 2 : 1));
                entries_.insert(entries_.begin() + static_cast<ptrdiff_t>(at), Entry{key, value});
            } catch (const std::bad_alloc&) {
                ReportError("failed to allocate map buffer during set");
                return false;
            }
        }
    }
    CheckedAddRef(key);
    CheckedAddRef(value);
    CheckedRelease(old.key);
    CheckedRelease(old.value);
    return true;
}

bool CMap::SetNamed(const char* text, CItem* value) {
    if (value == nullptr) {
        RemoveNamed(text);
        return true;
    }
    CAtom* key = new (std::nothrow) CAtom;
    if (key == nullptr) return false;
    key->SetString(text);
    const bool done = Set(key, value);
    key->Release();
    return done;
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

void CMap::ReplaceEntries(std::vector<Entry>&& entries) {
    std::vector<Entry> old;
    {
        ScopedLock hold(*this);
        old.swap(entries_);
        entries_.swap(entries);
    }
    ReleaseAll(old);
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
