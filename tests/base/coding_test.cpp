#include "base/coding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

namespace {

// Each value with its bytes, least significant first, at every width; encoding writes exactly
// `width` bytes (the guard bytes around them stay) and decoding gives the value back.
TEST(Coding, FixedWidthsAreLittleEndian) {
    struct Case {
        uint64_t value;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {0, {0x00, 0x00}},
        {0x00FF, {0xFF, 0x00}},
        {0x0100, {0x00, 0x01}},
        {0xFFFF, {0xFF, 0xFF}},
        {0x12345678, {0x78, 0x56, 0x34, 0x12}},
        {0x80000000, {0x00, 0x00, 0x00, 0x80}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF}},
        {0x0123456789ABCDEF, {0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}},
        {0x8000000000000001, {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80}},
        {UINT64_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        uint8_t buffer[10];
        std::fill(std::begin(buffer), std::end(buffer), 0xA5);
        uint8_t* at = buffer + 1;
        uint64_t decoded = 0;
        switch (c.bytes.size()) {
            case 2:
                EncodeFixed16(at, static_cast<uint16_t>(c.value));
                decoded = DecodeFixed16(at);
                break;
            case 4:
                EncodeFixed32(at, static_cast<uint32_t>(c.value));
                decoded = DecodeFixed32(at);
                break;
            default:
                EncodeFixed64(at, c.value);
                decoded = DecodeFixed64(at);
        }
        EXPECT_EQ(std::vector<uint8_t>(at, at + c.bytes.size()), c.bytes);
        EXPECT_EQ(buffer[0], 0xA5);
        EXPECT_EQ(buffer[1 + c.bytes.size()], 0xA5);
        EXPECT_EQ(decoded, c.value);
    }
}

// A 64-bit value in 32-bit halves, low half first.
static_assert(JoinHalves(0x89ABCDEF, 0x01234567) == 0x0123456789ABCDEF);
static_assert(LowHalf(0x0123456789ABCDEF) == 0x89ABCDEF && HighHalf(0x0123456789ABCDEF) == 0x01234567);
static_assert(JoinHalves(LowHalf(UINT64_MAX), HighHalf(UINT64_MAX)) == UINT64_MAX);

}  // namespace
