// The explicit stack of the tree walks (tree_walker.h): the containers being walked in N trees
// side by side, each frame's containers locked from the moment they are entered until they
// are left, so a tree is locked from the outside in.
#pragma once

#include <array>
#include <boost/container/small_vector.hpp>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <utility>

#include "items/storable.h"

template <std::size_t N>
class CLockedFrames {
    static_assert(N == 1 || N == 2, "one tree walked, or two compared");

public:
    struct Frame {
        // One container per tree, all lists or all maps.
        std::array<CStorable*, N> containers;
        bool isMap;
        // Elements or entries done so far, and the count taken when the containers were entered.
        uint32_t next;
        uint32_t count;
    };

    CLockedFrames() = default;
    CLockedFrames(const CLockedFrames&) = delete;
    CLockedFrames& operator=(const CLockedFrames&) = delete;
    // Leaves every frame still entered (after a failed stream, a difference or an exception).
    ~CLockedFrames() {
        while (!frames_.empty()) Leave();
    }

    // Locks the containers, the lowest address first, so that two walks over the same trees
    // cannot deadlock, and makes them the top frame; the caller then sets its count. Locked here
    // and unlocked in Leave, which the analysis cannot pair.
    Frame& Enter(const std::array<CStorable*, N>& containers, bool isMap) NO_THREAD_SAFETY_ANALYSIS {
        std::array<CStorable*, N> order = containers;
        if constexpr (N == 2) {
            if (std::less<CStorable*>()(order[1], order[0])) std::swap(order[0], order[1]);
        }
        for (CStorable* container : order) container->Lock();
        try {
            frames_.push_back(Frame{containers, isMap, 0, 0});
        } catch (...) {
            Unlock(containers);
            throw;
        }
        return frames_.back();
    }
    // Unlocks the top frame's containers and drops it.
    void Leave() {
        Unlock(frames_.back().containers);
        frames_.pop_back();
    }
    bool Empty() const { return frames_.empty(); }
    // Valid until the next Enter.
    Frame& Top() { return frames_.back(); }

private:
    static void Unlock(const std::array<CStorable*, N>& containers) NO_THREAD_SAFETY_ANALYSIS {
        for (CStorable* container : containers) container->Unlock();
    }

    // Trees up to eight containers deep are walked without allocating frames.
    boost::container::small_vector<Frame, 8> frames_;
};
