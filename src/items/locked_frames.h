// The explicit stack of the tree writer and renderer: the containers being walked, each locked
// from the moment it is entered until it is left, so a tree is locked from the outside in.
#pragma once

#include <cstdint>
#include <vector>

#include "items/storable.h"

class CLockedFrames {
public:
    struct Frame {
        CStorable* container;
        bool isMap;
        // Elements or entries done so far, and the count taken when the container was entered.
        uint32_t next;
        uint32_t count;
    };

    CLockedFrames() = default;
    CLockedFrames(const CLockedFrames&) = delete;
    CLockedFrames& operator=(const CLockedFrames&) = delete;
    // Leaves every container still entered (after a failed stream or an exception).
    ~CLockedFrames() {
        while (!frames_.empty()) Leave();
    }

    // Locks the container and makes it the top frame; the caller then sets its count.
    // Locked here and unlocked in Leave, which the analysis cannot pair.
    Frame& Enter(CStorable& container, bool isMap) NO_THREAD_SAFETY_ANALYSIS {
        container.Lock();
        try {
            frames_.push_back(Frame{&container, isMap, 0, 0});
        } catch (...) {
            container.Unlock();
            throw;
        }
        return frames_.back();
    }
    // Unlocks the top container and drops its frame.
    void Leave() NO_THREAD_SAFETY_ANALYSIS {
        frames_.back().container->Unlock();
        frames_.pop_back();
    }
    bool Empty() const { return frames_.empty(); }
    // Valid until the next Enter.
    Frame& Top() { return frames_.back(); }

private:
    std::vector<Frame> frames_;
};
