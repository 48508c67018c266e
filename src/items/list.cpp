#include "items/list.h"

#include <new>

#include "base/grow.h"
#include "items/item.h"
#include "items/tree_walk.h"
#include "runtime/reports.h"

uint16_t CList::Count() {
    ScopedLock hold(*this);
    return static_cast<uint16_t>(elements_.size() + unmade_);
}

uint16_t CList::MadeCount() {
    ScopedLock hold(*this);
    return static_cast<uint16_t>(elements_.size());
}

CItem* CList::Get(uint16_t index) {
    ScopedLock hold(*this);
    return GetLocked(index);
}

CItem* CList::GetLocked(uint16_t index) {
    if (index >= elements_.size() + unmade_ || !MakeUpTo(index + 1u)) return nullptr;
    return elements_[index].Get();
}

bool CList::MakeUpTo(size_t count) {
    if (count <= elements_.size()) return true;
    try {
        elements_.reserve(count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    while (elements_.size() < count) {
        CHeldRef<CItem> element = CHeldRef<CItem>::Adopt(new (std::nothrow) CItem);
        if (!element) return false;
        elements_.push_back(std::move(element));
        --unmade_;
    }
    return true;
}

// Unmade elements before the position are made first; those behind it stay unmade.
bool CList::Insert(uint16_t index, CItem* element, uint16_t* used) {
    return Insert(index, CHeldRef<CItem>::Share(element), used);
}

bool CList::Insert(uint16_t index, CHeldRef<CItem> held, uint16_t* used) {
    uint16_t position = kAppend;
    if (held) {
        ScopedLock hold(*this);
        const size_t count = elements_.size() + unmade_;
        const bool fits = index == kAppend || (count != 0 && index < count);
        if (fits && count < kMaxCount) {
            const size_t at = index == kAppend ? count : index;
            try {
                if (!MakeUpTo(at)) throw std::bad_alloc();
                Grow(elements_, elements_.size() + 1, kLeastElements);
                elements_.insert(elements_.begin() + static_cast<ptrdiff_t>(at), std::move(held));
                position = static_cast<uint16_t>(at);
            } catch (const std::bad_alloc&) {
                ReportError("failed to allocate list buffer during insert");
            }
        }
    }
    if (used != nullptr) *used = position;
    return position != kAppend;
}

// The old element is released after unlocking, with the reference the call took if it failed.
bool CList::Set(uint16_t index, CItem* element) {
    CHeldRef<CItem> held = CHeldRef<CItem>::Share(element);
    if (!held) return false;
    ScopedLock hold(*this);
    if (index >= elements_.size() + unmade_ || !MakeUpTo(index + 1u)) return false;
    std::swap(elements_[index], held);
    return true;
}

// Unmade elements are all alike: removing one of them shortens the tail.
void CList::Remove(uint16_t index) {
    CHeldRef<CItem> removed;
    ScopedLock hold(*this);
    if (index >= elements_.size()) {
        if (index < elements_.size() + unmade_) --unmade_;
        return;
    }
    removed = std::move(elements_[index]);
    elements_.erase(elements_.begin() + index);
}

void CList::Clear() {
    ReplaceElements({}, 0);
}

void CList::ReplaceElements(Elements&& elements, uint32_t unmade) {
    Elements old;
    ScopedLock hold(*this);
    old.swap(elements_);
    elements_.swap(elements);
    unmade_ = unmade;
}

uint16_t CList::Render(CStorage& stream, bool bare) {
    return RenderTree(stream, *this, bare);
}

uint16_t CList::Read(CStorage& stream) {
    return ReadTree(stream, *this);
}

uint16_t CList::Write(CStorage& stream) {
    return WriteTree(stream, *this);
}
