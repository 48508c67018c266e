// Grow: room for more elements in a vector that is appended to again and again.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

// Makes room for `need` elements, at least doubling the capacity when it must grow (reserving
// the exact need would move the whole vector on every call), and to `least` elements at least,
// so that filling a small vector allocates once. May throw std::bad_alloc.
template <class T, class Allocator>
void Grow(std::vector<T, Allocator>& vector, size_t need, size_t least = 0) {
    if (need > vector.capacity()) vector.reserve(std::max({need, 2 * vector.capacity(), least}));
}
