// CItemBuilder: the parse state of the build format. It places each produced item into the
// innermost open container (appended to a List; alternately key and value in a Map) or makes it
// the result, and owns every reference it holds until the item is placed: when a build fails,
// destroying the builder releases each open container's pending key and then the container,
// innermost first, and then the result, so nothing leaks and nothing is released twice.
#pragma once

#include "items/item.h"

class CItemBuilder {
public:
    // Open containers at most; the stack is a fixed array with no allocation of its own.
    static constexpr unsigned kMaxDepth = 16;

    // Takes over the reference to a produced item. False when it cannot be placed: a second
    // top-level item, a failed append, a key without atom or a failed map set.
    bool Place(CRef<CItem> item);
    // Opens a new List or Map; false when kMaxDepth containers are open or it cannot be made.
    bool Open(bool isMap);
    // Closes the innermost container, which must be of that kind and, for a Map, hold no pending
    // key; the container is then placed like any produced item.
    bool Close(bool isMap);
    // The finished tree; empty when containers are still open or nothing was produced.
    CRef<CItem> Finish();

private:
    struct Frame {
        CRef<CItem> container;
        // The key waiting for its value (Map only).
        CRef<CItem> pendingKey;
        bool isMap = false;
    };

    // Declared first so that it is released last.
    CRef<CItem> result_;
    // Destroyed from the last element down: innermost container first, and within each frame
    // the pending key before the container.
    Frame frames_[kMaxDepth];
    unsigned depth_ = 0;
};
