#include "items/item_testing.h"

class StrTest : public ItemTest {};

// No string at all equals nothing else; empty content equals missing content.
TEST_F(StrTest, EmptyContentIsNeverHeldAndEqualityIsByBytes) {
    const char valid[] = "abc";
    CStr fromNull(static_cast<const char*>(nullptr)), fromEmpty(""), fromZeroLength(valid, 0), readEmpty("x");
    readEmpty.Read(*ReadingStream(FromHex("00 00")).Get());
    for (CStr* string : {&fromNull, &fromEmpty, &fromZeroLength, &readEmpty}) {
        uint32_t length = 7;
        EXPECT_EQ(string->GetString(&length), nullptr);
        EXPECT_EQ(length, 0u);
        EXPECT_EQ(Hex(Stored(*string)), "00 00");
    }
    const char bytes[5] = {'a', 0, '"', 0, 'c'};
    CStr withNuls(bytes, 5);
    EXPECT_EQ(Rendered(withNuls, true), std::string(bytes, 5)) << "bare: neither escaped nor quoted";
    CStr ab("ab"), ab2("ab"), abc("abc");
    const struct {
        CStr *a, *b;
        bool equals;
    } cases[] = {
        {&ab, &ab2, true},  {&ab, &abc, false},         {&abc, &ab, false},        {&fromEmpty, &fromNull, true},
        {&fromNull, &fromEmpty, true}, {&fromEmpty, nullptr, false}, {nullptr, &fromEmpty, false},
    };
    for (const auto& c : cases) EXPECT_EQ(CStr::Equals(c.a, c.b), c.equals) << &c - cases;
}

TEST_F(StrTest, ShortStreamLeavesTheStringEmpty) {
    for (const char* hex : {"", "03", "03 00 61 62"}) {
        CRef<CStorage> stream = ReadingStream(FromHex(hex));
        CStr string("previous");
        string.Read(*stream.Get());
        EXPECT_TRUE(string.IsEmpty()) << hex;
    }
    for (const char* read : {"2 byte(s) from storage (read 0)", "2 byte(s) from storage (read 1)",
                             "3 byte(s) from storage (read 0)", "3 byte(s) from storage (read 2)"}) {
        EXPECT_EQ(Reported(std::string("failed to read ") + read), 1u) << read;
    }
}

// The largest storable string is 65,535 bytes behind a 2-byte length.
TEST_F(StrTest, ContentBeyond65535BytesIsRefusedWhole) {
    const std::string big(70000, 'x'), largest(65533, 'y');
    CStr string(big.c_str()), fits(largest.c_str());
    EXPECT_EQ(string.Length(), 70000u);
    CStorage stream, appending;
    stream.OpenForWriting();
    EXPECT_EQ(string.Write(stream), 0);
    EXPECT_EQ(string.Render(stream, false), 0);
    EXPECT_EQ(stream.Length(), 16u);
    EXPECT_TRUE(stream.Failed());
    EXPECT_EQ(Reported("storage full: cannot hold 70002 more byte(s)"), 1u);
    appending.OpenForAppending();
    EXPECT_EQ(fits.Write(appending), 65535);
    EXPECT_FALSE(appending.Failed());
}

// Short content lives inline, longer in its own block: every way across the boundary (ASan).
TEST_F(StrTest, ContentCrossesTheInlineBoundaryEveryWay) {
    const auto content = [](const CStr& string) {
        uint32_t length = 0;
        const char* data = string.GetString(&length);
        return data == nullptr ? std::string("<empty>") : std::string(data, length + 1);
    };
    const auto stored = [](const std::string& text) {
        Bytes bytes(text.size() + 2, 0);
        bytes[0] = static_cast<uint8_t>(text.size());
        std::copy(text.begin(), text.end(), bytes.begin() + 2);
        return bytes;
    };
    for (const size_t first : {1, 31, 32, 33, 200}) {
        for (const size_t second : {1, 31, 32, 33, 200}) {
            const std::string a(first, 'a'), b(second, 'b');
            CStr string(a.c_str());
            EXPECT_EQ(string.Read(*ReadingStream(stored(b)).Get()), second + 2);
            EXPECT_EQ(content(string), b + '\0');
            EXPECT_EQ(string.Read(*ReadingStream(stored(a)).Get()), first + 2);
            EXPECT_EQ(content(string), a + '\0');
            Bytes cut = stored(b);
            cut.pop_back();
            string.Read(*ReadingStream(cut).Get());
            EXPECT_EQ(content(string), "<empty>");
        }
        const std::string c(first, 'c');
        CStr read;
        EXPECT_EQ(read.Read(*ReadingStream(stored(c)).Get()), first + 2);
        EXPECT_EQ(content(read), c + '\0');
        // The string's own bytes, from inside its content: copied before the old content goes.
        std::string mixed(first + 3, 'x');
        mixed[0] = 'w';
        mixed.replace(first + 1, 2, "yz");
        CStr own(mixed.c_str());
        own.Assign(own.GetString() + 1, static_cast<uint32_t>(mixed.size() - 1));
        EXPECT_EQ(content(own), mixed.substr(1) + '\0');
        own.Assign(own.GetString() + own.Length() - 3);
        EXPECT_EQ(content(own), std::string("xyz", 4)) << first;
    }
}
