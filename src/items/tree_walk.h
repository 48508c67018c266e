// The engines behind Render, Write and Read of wrappers, lists and maps. Each walks nested
// containers with an explicit stack of frames instead of recursion. The writer and the renderer
// lock every container from before its count is taken until its last element is done, outer
// before inner, as nested operations would.
#pragma once

#include <cstdint>

class CStorage;
class CStorable;
class CItem;
class CList;
class CMap;

// Stored form of a wrapper, a list or a map (the list and map forms without a wrapper letter).
uint16_t WriteTree(CStorage& stream, CItem& root);
uint16_t WriteTree(CStorage& stream, CList& root);
uint16_t WriteTree(CStorage& stream, CMap& root);

// Text form, with the same choice of roots.
uint16_t RenderTree(CStorage& stream, CItem& root, bool bare);
uint16_t RenderTree(CStorage& stream, CList& root, bool bare);
uint16_t RenderTree(CStorage& stream, CMap& root, bool bare);

// Reading into an existing wrapper, list or map.
uint16_t ReadTree(CStorage& stream, CItem& root);
uint16_t ReadTree(CStorage& stream, CList& root);
uint16_t ReadTree(CStorage& stream, CMap& root);

// One walk from a root to its end: makes the walker over the stream (with any further walker
// arguments), starts it at the root, and returns what its Finish counts.
template <class TWalker, class TRoot, class... TArgs>
uint16_t WalkTree(void (TWalker::*start)(TRoot&), TRoot& root, CStorage& stream, TArgs... args) {
    TWalker walker(stream, args...);
    (walker.*start)(root);
    return walker.Finish();
}
