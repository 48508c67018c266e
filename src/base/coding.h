// Fixed-width little-endian integers in byte buffers, the byte order of every stored and framed
// form, whatever the byte order of the machine: the least significant byte comes first. A
// 64-bit value split into two 32-bit halves (a FILETIME, a cookie) keeps the same order, low
// half first. Freestanding: nothing of the project, no Linux header.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// On a little-endian machine the bytes are the value as it lies in memory and are copied in one
// move. Put one by one, the compiler would merge them with the bytes stored next to them (a type
// letter before an atom's payload) by shifting them together in a register, byte by byte.
template <class TUnsigned>
inline void EncodeFixed(uint8_t* at, TUnsigned value) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, sizeof value);
    } else {
        for (std::size_t i = 0; i < sizeof value; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

template <class TUnsigned>
inline TUnsigned DecodeFixed(const uint8_t* at) {
    TUnsigned value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&value, at, sizeof value);
    } else {
        for (std::size_t i = 0; i < sizeof value; ++i) value |= static_cast<TUnsigned>(TUnsigned{at[i]} << (8 * i));
    }
    return value;
}

inline void EncodeFixed16(uint8_t* at, uint16_t value) {
    EncodeFixed(at, value);
}
inline void EncodeFixed32(uint8_t* at, uint32_t value) {
    EncodeFixed(at, value);
}
inline void EncodeFixed64(uint8_t* at, uint64_t value) {
    EncodeFixed(at, value);
}
inline uint16_t DecodeFixed16(const uint8_t* at) {
    return DecodeFixed<uint16_t>(at);
}
inline uint32_t DecodeFixed32(const uint8_t* at) {
    return DecodeFixed<uint32_t>(at);
}
inline uint64_t DecodeFixed64(const uint8_t* at) {
    return DecodeFixed<uint64_t>(at);
}

constexpr uint64_t JoinHalves(uint32_t low, uint32_t high) {
    return uint64_t{high} << 32 | low;
}

constexpr uint32_t LowHalf(uint64_t value) {
    return static_cast<uint32_t>(value);
}

constexpr uint32_t HighHalf(uint64_t value) {
    return static_cast<uint32_t>(value >> 32);
}
