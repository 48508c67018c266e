// Fixed-width little-endian integers in byte buffers, the byte order of every stored and framed
// form, whatever the byte order of the machine: the least significant byte comes first. A
// 64-bit value split into two 32-bit halves (a FILETIME, a cookie) keeps the same order, low
// half first. Freestanding: nothing of the project, no system header.
#pragma once

#include <cstdint>

constexpr void EncodeFixed16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void EncodeFixed32(uint8_t* at, uint32_t value) {
    EncodeFixed16(at, static_cast<uint16_t>(value));
    EncodeFixed16(at + 2, static_cast<uint16_t>(value >> 16));
}

constexpr void EncodeFixed64(uint8_t* at, uint64_t value) {
    EncodeFixed32(at, static_cast<uint32_t>(value));
    EncodeFixed32(at + 4, static_cast<uint32_t>(value >> 32));
}

constexpr uint16_t DecodeFixed16(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | at[1] << 8);
}

constexpr uint32_t DecodeFixed32(const uint8_t* at) {
    return DecodeFixed16(at) | uint32_t{DecodeFixed16(at + 2)} << 16;
}

constexpr uint64_t DecodeFixed64(const uint8_t* at) {
    return DecodeFixed32(at) | uint64_t{DecodeFixed32(at + 4)} << 32;
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
