// How the element and entry arrays of lists and maps grow.
#pragma once

#include <cstddef>
#include <vector>

// Makes room for one more element: a full array grows by half its size, and by eight elements
// at least, so that filling a small container allocates once. May throw std::bad_alloc.
template <class T>
void MakeRoomForOne(std::vector<T>& array) {
    constexpr size_t kLeastGrowth = 8;
    const size_t size = array.size();
    if (size == array.capacity()) array.reserve(size + (size / 2 > kLeastGrowth ? size / 2 : kLeastGrowth));
}
