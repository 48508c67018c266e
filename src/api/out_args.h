// Out-arguments of the exported functions.
#pragma once

#include <cstdint>

// A 16-bit length out-argument for a length held in 32 bits. Blobs never exceed 65,535 bytes;
// only a String made from a longer text does, and its length saturates instead of wrapping.
inline uint16_t Length16(uint32_t length) {
    return length > 0xFFFF ? uint16_t{0xFFFF} : static_cast<uint16_t>(length);
}

// Clears an optional out-argument: exported functions clear their outs before testing anything.
template <class T>
void ClearOut(T* out) {
    if (out != nullptr) *out = T{};
}
