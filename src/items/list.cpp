#include "items/list.h"

#include <new>

#include "items/item.h"
#include "items/tree_walk.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

namespace {
void ReleaseAll(const std::vector<CItem*>& elements) {
    for (CItem* element : elements) CheckedRelease(element);
}
}  // namespace

CList::~CList() {
    ScopedLock hold(*this);
    ReleaseAll(elements_);
}

uint16_t CList::Count() {
    ScopedLock hold(*this);
    return static_cast<uint16_t>(elements_.size());
}

CItem* CList::Get(uint16_t index) {
    ScopedLock hold(*this);
    return index < elements_.size() ? elements_[index] : nullptr;
}

// The array grows by half of its capacity, or to the needed size when that is more.
bool CList::Insert(uint16_t index, CItem* element, uint16_t* used) {
    uint16_t position = kAppend;
    if (element != nullptr) {
        ScopedLock hold(*this);
        const size_t count = elements_.size();
        const bool fits = index == kAppend || (count != 0 && index < count);
        if (fits && count < kMaxCount) {
            try {
                if (count == elements_.capacity()) elements_.reserve(count + (count / 2 > 1 ? count / 2 : 1));
                elements_.insert(elements_.begin() + (index == kAppend ? count : index), element);
                CheckedAddRef(element);
                position = index == kAppend ? static_cast<uint16_t>(count) : index;
            } catch (const std::bad_alloc&) {
                ReportError("failed to allocate list buffer during insert");
            }
        }
    }
    if (used != nullptr) *used = position;
    return position != kAppend;
}

bool CList::Set(uint16_t index, CItem* element) {
    if (element == nullptr) return false;
    ScopedLock hold(*this);
    if (index >= elements_.size()) return false;
    CItem* old = elements_[index];
    elements_[index] = element;
    CheckedAddRef(element);
    CheckedRelease(old);
    return true;
}

void CList::Remove(uint16_t index) {
    CItem* removed = nullptr;
    {
        ScopedLock hold(*this);
        if (index >= elements_.size()) return;
        removed = elements_[index];
        elements_.erase(elements_.begin() + index);
    }
    CheckedRelease(removed);
}

void CList::Clear() {
    ReplaceElements({});
}

void CList::ReplaceElements(std::vector<CItem*>&& elements) {
    std::vector<CItem*> old;
    {
        ScopedLock hold(*this);
        old.swap(elements_);
        elements_.swap(elements);
    }
    ReleaseAll(old);
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
