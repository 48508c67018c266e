#include "platform/rpc/frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Frame(uint32_t flags, uint16_t kind, const std::string& service, const uint8_t* data,
                           uint16_t length) {
    std::vector<uint8_t> bytes(kFrameHeaderSize);
    FrameEncodeHeader(bytes.data(), flags, kind, static_cast<uint16_t>(service.size()), data != nullptr, length);
    bytes.insert(bytes.end(), service.begin(), service.end());
    if (data) bytes.insert(bytes.end(), data, data + length);
    return bytes;
}

EFrameParse Parse(const std::vector<uint8_t>& bytes, CFrameView* frame = nullptr) {
    CFrameView ignored;
    return FrameParse(bytes.data(), bytes.size(), frame ? frame : &ignored);
}

void Put16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) {
    bytes[at] = static_cast<uint8_t>(v);
    bytes[at + 1] = static_cast<uint8_t>(v >> 8);
}

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

TEST(Frame, HeaderIsByteExactLittleEndian) {
    const uint8_t data[3] = {0xAA, 0xBB, 0xCC};
    const std::vector<uint8_t> bytes = Frame(0x00030001, 0x0506, "svc", data, 3);
    const std::vector<uint8_t> expected = {26, 0,    0,    0,    'M', 'B', 'S', '1', 0x01, 0x00, 0x03, 0x00, 0x06,
                                           0x05, 3, 0,    3,    0,   1,   0,   's', 'v', 'c',  0xAA, 0xBB, 0xCC};
    EXPECT_EQ(bytes, expected);
}

TEST(Frame, RoundTripsFieldsAndDataPresence) {
    const uint8_t data[2] = {1, 2};
    CFrameView frame{};
    const std::vector<uint8_t> bytes = Frame(0xFFFFFFFF, 0xFFFF, "alpha", data, 2);
    ASSERT_EQ(Parse(bytes, &frame), EFrameParse::Complete);
    EXPECT_EQ(frame.size, kFrameHeaderSize + 7);
    EXPECT_EQ(frame.flags, 0xFFFFFFFFu);
    EXPECT_EQ(frame.kind, 0xFFFF);
    EXPECT_EQ(frame.service, "alpha");
    ASSERT_NE(frame.data, nullptr);
    EXPECT_EQ(frame.length, 2);
    EXPECT_EQ(frame.data[1], 2);

    // No data: null; present but empty: a non-null pointer with length 0.
    const std::vector<uint8_t> absent = Frame(0, 1, "", nullptr, 0);
    ASSERT_EQ(Parse(absent, &frame), EFrameParse::Complete);
    EXPECT_EQ(frame.data, nullptr);
    EXPECT_EQ(frame.service, "");
    const std::vector<uint8_t> empty = Frame(0, 1, "", data, 0);
    ASSERT_EQ(Parse(empty, &frame), EFrameParse::Complete);
    EXPECT_NE(frame.data, nullptr);
    EXPECT_EQ(frame.length, 0);
}

TEST(Frame, LargestFrameParses) {
    const std::string service(0xFFFF, 's');
    const std::vector<uint8_t> data(0xFFFF, 0x5A);
    CFrameView frame{};
    const std::vector<uint8_t> bytes = Frame(7, 6, service, data.data(), 0xFFFF);
    ASSERT_EQ(Parse(bytes, &frame), EFrameParse::Complete);
    EXPECT_EQ(frame.size, kFrameMaxSize);
    EXPECT_EQ(frame.service.size(), 0xFFFFu);
    EXPECT_EQ(frame.data[0xFFFE], 0x5A);
}

TEST(Frame, EveryProperPrefixIsIncompleteAndTrailingBytesAreLeft) {
    const uint8_t data[5] = {1, 2, 3, 4, 5};
    std::vector<uint8_t> bytes = Frame(1, 2, "name", data, 5);
    for (size_t n = 0; n < bytes.size(); ++n) {
        CFrameView frame;
        EXPECT_EQ(FrameParse(bytes.data(), n, &frame), EFrameParse::Incomplete) << n;
    }
    bytes.push_back(0xEE);
    CFrameView frame{};
    ASSERT_EQ(Parse(bytes, &frame), EFrameParse::Complete);
    EXPECT_EQ(frame.size, bytes.size() - 1);
}

TEST(Frame, LengthIsCheckedBeforeTheRestArrives) {
    // Four bytes suffice to refuse a frame length outside its bounds.
    for (uint32_t size : {0u, 19u, kFrameMaxSize + 1, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bytes(4);
        Put32(bytes, 0, size);
        EXPECT_EQ(Parse(bytes), EFrameParse::Malformed) << size;
    }
    // A bad header is refused as soon as the header is there, before the body.
    std::vector<uint8_t> bytes = Frame(0, 1, "abc", nullptr, 0);
    Put32(bytes, 4, 0x12345678);
    bytes.resize(kFrameHeaderSize);
    EXPECT_EQ(Parse(bytes), EFrameParse::Malformed);
}

TEST(Frame, MalformedHeadersAreRefused) {
    const uint8_t data[4] = {9, 9, 9, 9};
    const std::vector<uint8_t> good = Frame(0, 4, "svc", data, 4);
    struct Case {
        const char* what;
        void (*damage)(std::vector<uint8_t>&);
    };
    const Case cases[] = {
        {"bad magic", [](std::vector<uint8_t>& b) { b[4] ^= 1; }},
        {"data-present 2", [](std::vector<uint8_t>& b) { b[18] = 2; }},
        {"reserved set", [](std::vector<uint8_t>& b) { b[19] = 1; }},
        {"no data but a length", [](std::vector<uint8_t>& b) { b[18] = 0; }},
        {"service longer than frame", [](std::vector<uint8_t>& b) { Put16(b, 14, 4); }},
        {"data longer than frame", [](std::vector<uint8_t>& b) { Put16(b, 16, 5); }},
        {"lengths shorter than frame", [](std::vector<uint8_t>& b) { Put16(b, 16, 3); }},
        {"service length wraps", [](std::vector<uint8_t>& b) { Put16(b, 14, 0xFFFF); }},
        {"frame length beyond its fields", [](std::vector<uint8_t>& b) { Put32(b, 0, 28); }},
        {"NUL inside service", [](std::vector<uint8_t>& b) { b[21] = 0; }},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        EXPECT_EQ(Parse(bytes), EFrameParse::Malformed) << c.what;
    }
    EXPECT_EQ(Parse(good), EFrameParse::Complete);
}
