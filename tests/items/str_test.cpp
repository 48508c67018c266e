#include <gtest/gtest.h>

#include <cstring>

#include "items/item_testing.h"

class StrTest : public ItemTest {};

TEST_F(StrTest, EmptyContentIsNeverHeld) {
    const char valid[] = "abc";
    CStr fromNull(static_cast<const char*>(nullptr)), fromEmpty(""), fromZeroLength(valid, 0), assigned("x");
    assigned.Assign("");
    for (CStr* string : {&fromNull, &fromEmpty, &fromZeroLength, &assigned}) {
        uint32_t length = 7;
        EXPECT_EQ(string->GetString(&length), nullptr);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(Hex(Stored(*string)), "00 00");
        EXPECT_EQ(Rendered(*string, true), "");
    }
}

// Equal content is equal bytes, not a shared pointer; no string at all equals nothing else;
// empty content equals missing content.
TEST_F(StrTest, EqualityIsByBytes) {
    CStr ab("ab"), ab2("ab"), abc("abc"), empty(""), none(static_cast<const char*>(nullptr));
    const struct {
        CStr *a, *b;
        bool equals;
    } cases[] = {
        {&ab, &ab2, true}, {&ab, &abc, false}, {&abc, &ab, false}, {&empty, &none, true},
        {&none, &empty, true}, {&empty, nullptr, false}, {nullptr, &empty, false},
    };
    for (const auto& c : cases) EXPECT_EQ(CStr::Equals(c.a, c.b), c.equals) << &c - cases;
}

// Content with NULs reads back whole and is followed by a NUL; text is neither escaped nor
// quoted when bare.
TEST_F(StrTest, ContentKeepsItsBytes) {
    const char bytes[5] = {'a', 0, '"', 0, 'c'};
    CStr original(bytes, 5);
    const Bytes stored = Stored(original);
    EXPECT_EQ(Hex(stored), "05 00 61 00 22 00 63");
    EXPECT_EQ(Rendered(original, true), std::string(bytes, 5));
    CRef<CStorage> stream = ReadingStream(stored);
    CStr copy;
    EXPECT_EQ(copy.Read(*stream.Get()), 7);
    uint32_t length = 0;
    const char* data = copy.GetString(&length);
    ASSERT_EQ(length, 5u);
    EXPECT_EQ(std::memcmp(data, bytes, 5), 0);
    EXPECT_EQ(data[5], 0);
}

TEST_F(StrTest, ShortStreamLeavesTheStringEmpty) {
    for (const char* hex : {"", "03", "03 00 61 62"}) {
        CRef<CStorage> stream = ReadingStream(FromHex(hex));
        CStr string("previous");
        string.Read(*stream.Get());
        EXPECT_TRUE(string.IsEmpty()) << hex;
    }
    EXPECT_EQ(Reported("failed to read 2 byte(s) from storage (read 0)"), 1u);
    EXPECT_EQ(Reported("failed to read 2 byte(s) from storage (read 1)"), 1u);
    EXPECT_EQ(Reported("failed to read 3 byte(s) from storage (read 0)"), 1u);
    EXPECT_EQ(Reported("failed to read 3 byte(s) from storage (read 2)"), 1u);
}

TEST_F(StrTest, ContentBeyond65535BytesIsRefusedWhole) {
    const std::string big(70000, 'x');
    CStr string(big.c_str());
    EXPECT_EQ(string.Length(), 70000u);
    CStorage stream;
    stream.OpenForWriting();
    EXPECT_EQ(string.Write(stream), 0);
    EXPECT_EQ(string.Render(stream, false), 0);
    EXPECT_EQ(stream.Length(), 16u);
    EXPECT_TRUE(stream.Failed());
    EXPECT_EQ(Reported("storage full: cannot hold 70002 more byte(s)"), 1u);
    // The largest string that can be stored: 65,535 bytes behind a 2-byte length, without header.
    const std::string largest(65533, 'y');
    CStr fits(largest.c_str());
    CStorage appending;
    appending.OpenForAppending();
    EXPECT_EQ(fits.Write(appending), 65535);
    EXPECT_FALSE(appending.Failed());
}
