// CList: the ordered container of the item model, a sequence of item wrappers addressed by a
// 16-bit index. The list holds one reference to each element; elements are never null.
// Every operation holds the list's lock while it touches the array.
//
// A loaded list may end in unmade elements: empty wrappers that its bytes announced without
// holding them, or held as unknown letters. They are made when one of them is asked for or the
// list changes at or behind them, so bytes announcing 65,535 elements cost no objects until
// the elements are used. Counting, storing, rendering and comparing take them for the empty
// wrappers they stand for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "items/storable.h"
#include "runtime/object_memory.h"
#include "runtime/ref_count.h"

class CItem;

class CList final : public CStorable {
public:
    // Not a position: Insert appends at this index, failed inserts report it.
    static constexpr uint16_t kAppend = 0xFFFF;
    // Indexes run from 0 to 65534, so a list holds at most 65,535 elements; appends beyond
    // are refused.
    static constexpr uint32_t kMaxCount = 65535;
    using Elements = std::vector<CHeldRef<CItem>, CObjectAllocator<CHeldRef<CItem>>>;

    CList() {
        className_ = "CList";
        TakePrivacy();
    }

    uint16_t Count();
    // Elements made so far; the unmade ones follow them.
    uint16_t MadeCount();
    // The element (no new reference) or null when index is not below Count(). An unmade
    // element is made here, with those before it; null when that fails for want of memory.
    CItem* Get(uint16_t index);
    // Get for a caller that holds the list's lock.
    CItem* GetLocked(uint16_t index) REQUIRES(this);
    // kAppend appends; an index below the count inserts before that element; anything else
    // fails. *used gets the position used, or kAppend on failure. Takes a reference.
    bool Insert(uint16_t index, CItem* element, uint16_t* used);
    bool Append(CItem* element) { return Insert(kAppend, element, nullptr); }
    // Insert and Append taking over the caller's reference to the element instead of adding
    // one; an empty element is refused (false).
    bool Insert(uint16_t index, CHeldRef<CItem> element, uint16_t* used);
    bool Append(CHeldRef<CItem> element) { return Insert(kAppend, std::move(element), nullptr); }
    // Replaces the element at index (taking a reference, releasing the old one).
    bool Set(uint16_t index, CItem* element);
    // Removes the element at index and releases it after unlocking; beyond the end: nothing.
    void Remove(uint16_t index);
    // Removes every element, releasing them after unlocking.
    void Clear();

    // Render and Write hold the lock of every container of the tree below while they work,
    // outer before inner, and walk nested containers without recursion (tree_walk.h).
    uint16_t Render(CStorage& stream, bool bare) override;
    uint16_t Read(CStorage& stream) override;
    uint16_t Write(CStorage& stream) override;

private:
    template <class TVisitor, std::size_t N>
    friend class CTreeWalker;
    friend class CTreeReader;
    friend class CPrivateBuild;

    // Installs a new array and unmade tail under the lock and releases the old elements after
    // unlocking.
    void ReplaceElements(Elements&& elements, uint32_t unmade) EXCLUDES(this);
    // Makes unmade elements until count (at most the whole count) are made; false when memory
    // ran out. Call under the lock.
    bool MakeUpTo(size_t count) REQUIRES(this);

    // An operation that takes elements out holds them in a holder declared before its lock, so
    // they (and the trees below them) are released after unlocking.
    Elements elements_;
    // The unmade empty wrappers behind elements_. Invariant: elements_.size() + unmade_ is at
    // most kMaxCount.
    uint32_t unmade_ = 0;
};
