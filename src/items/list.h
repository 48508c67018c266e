// CList: the ordered container of the item model, a sequence of item wrappers addressed by a
// 16-bit index. The list holds one reference to each element; elements are never null.
// Every operation holds the list's lock while it touches the array.
#pragma once

#include <cstdint>
#include <vector>

#include "items/storable.h"

class CItem;

class CList final : public CStorable {
public:
    // Not a position: Insert appends at this index, failed inserts report it.
    static constexpr uint16_t kAppend = 0xFFFF;
    // Indexes run from 0 to 65534, so a list holds at most 65,535 elements; appends beyond
    // are refused.
    static constexpr uint32_t kMaxCount = 65535;

    CList() { className = "CList"; }
    ~CList() override;

    uint16_t Count();
    // The element (no new reference) or null when index is not below Count().
    CItem* Get(uint16_t index);
    // kAppend appends; an index below the count inserts before that element; anything else
    // fails. *used gets the position used, or kAppend on failure. Takes a reference.
    bool Insert(uint16_t index, CItem* element, uint16_t* used);
    bool Append(CItem* element) { return Insert(kAppend, element, nullptr); }
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
    friend class CTreeWriter;
    friend class CTreeRenderer;
    friend class CTreeReader;
    friend class CTreeComparer;

    // Installs a new array under the lock and releases the old elements after unlocking.
    void ReplaceElements(std::vector<CItem*>&& elements);

    std::vector<CItem*> elements_;
};
