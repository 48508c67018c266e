// Grow: room for more elements in a vector that is appended to again and again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// The reallocation itself, out of line: most calls find room and stay a compare.
template <class T, class Allocator>
__attribute__((noinline)) void GrowTo(std::vector<T, Allocator>& vector, size_t need, size_t least) {
    vector.reserve(std::max({need, 2 * vector.capacity(), least}));
}

// Makes room for `need` elements, at least doubling the capacity when it must grow (reserving
// the exact need would move the whole vector on every call), and to `least` elements at least,
// so that filling a small vector allocates once. May throw std::bad_alloc.
template <class T, class Allocator>
__attribute__((always_inline)) inline void Grow(std::vector<T, Allocator>& vector, size_t need, size_t least = 0) {
    if (need > vector.capacity()) GrowTo(vector, need, least);
}
