// CTreeWalker: the walk shared by the tree writer, the renderer and the comparer. It takes N
// trees side by side (the comparer walks two) through their lists and maps with an explicit
// stack of locked frames (locked_frames.h) instead of recursion. A container entered while
// the elements of another are walked has its own elements walked next, before the rest of its
// parent's, so the elements come in the order a recursive walk would take them.
//
// TVisitor derives from CTreeWalker<TVisitor, N> and provides the steps of the walk:
//   Entry(entries)      an entry of the top map, one per tree, in key order
//   Element(elements)   an element of the top list, one per tree; null in a tree where it is
//                       unmade (never null in all of them)
//   Unmade(count)       the last count elements of the top list, unmade in every tree
//   Stopped()           true ends the walk (a failed stream, a difference found)
// and may replace the defaults of
//   Next(index)         before each element or entry, with its index in its container
//   Leaving(isMap)      after the last element or entry of the top container
// Entry and Element enter the containers they meet with Enter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "items/list.h"
#include "items/locked_frames.h"
#include "items/map.h"

template <class TVisitor, std::size_t N>
class CTreeWalker {
public:
    using Frames = CLockedFrames<N>;
    using Frame = typename Frames::Frame;
    using Elements = std::array<CItem*, N>;
    using Entries = std::array<CMap::Entry, N>;

protected:
    // Locks the lists or maps, one per tree, and makes them the top frame, with the count of the
    // first tree's container taken under the lock. The frame is valid until the next Enter.
    template <class TContainer>
    Frame& Enter(const std::array<TContainer*, N>& containers) {
        static_assert(std::is_same_v<TContainer, CList> || std::is_same_v<TContainer, CMap>);
        std::array<CStorable*, N> storables;
        for (std::size_t i = 0; i < N; ++i) storables[i] = containers[i];
        Frame& frame = frames_.Enter(storables, std::is_same_v<TContainer, CMap>);
        frame.count = CountOf(*containers[0]);
        return frame;
    }
    // Unlocks the top frame's containers and drops it.
    void Leave() { frames_.Leave(); }

    // Elements, unmade ones included, or entries. Call under the container's lock.
    static uint32_t CountOf(const CList& list) { return static_cast<uint32_t>(list.elements_.size() + list.unmade_); }
    static uint32_t CountOf(const CMap& map) { return static_cast<uint32_t>(map.entries_.size()); }

    // Takes the visitor through the elements of every entered container until all are left
    // or it stops; then leaves the containers still entered.
    void Walk();

    void Next(uint32_t) {}
    void Leaving(bool) {}

private:
    Frames frames_;
};

template <class TVisitor, std::size_t N>
void CTreeWalker<TVisitor, N>::Walk() {
    TVisitor& visitor = static_cast<TVisitor&>(*this);
    while (!frames_.Empty() && !visitor.Stopped()) {
        Frame& frame = frames_.Top();
        if (frame.next == frame.count) {
            visitor.Leaving(frame.isMap);
            frames_.Leave();
            continue;
        }
        const uint32_t index = frame.next++;
        visitor.Next(index);
        if (frame.isMap) {
            Entries entries;
            for (std::size_t i = 0; i < N; ++i)
                entries[i] = static_cast<CMap*>(frame.containers[i])->entries_[index].View();
            visitor.Entry(entries);
            continue;
        }
        Elements elements;
        bool made = false;
        for (std::size_t i = 0; i < N; ++i) {
            const auto& held = static_cast<CList*>(frame.containers[i])->elements_;
            elements[i] = index < held.size() ? held[index].Get() : nullptr;
            made = made || elements[i] != nullptr;
        }
        if (made) {
            visitor.Element(elements);
            continue;
        }
        // The unmade elements end every list, so they all go at once.
        frame.next = frame.count;
        visitor.Unmade(frame.count - index);
    }
    while (!frames_.Empty()) frames_.Leave();
}
