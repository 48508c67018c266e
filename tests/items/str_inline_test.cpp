#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "items/item_testing.h"

// Short content lives inside the string object and longer content in its own block; every way
// content arrives or goes must move cleanly across that boundary (ASan checks the blocks).
class StrInlineTest : public ItemTest {
protected:
    static std::string Content(const CStr& string) {
        uint32_t length = 0;
        const char* data = string.GetString(&length);
        if (data == nullptr) return "<empty>";
        EXPECT_EQ(data[length], 0) << "no NUL after the content";
        return std::string(data, length);
    }
    static Bytes StoredText(const std::string& text) {
        Bytes bytes(text.size() + 2);
        bytes[0] = static_cast<uint8_t>(text.size());
        bytes[1] = static_cast<uint8_t>(text.size() >> 8);
        std::memcpy(bytes.data() + 2, text.data(), text.size());
        return bytes;
    }
};

TEST_F(StrInlineTest, ContentCrossesTheInlineBoundaryEveryWay) {
    const std::string texts[] = {"a", std::string(31, 'b'), std::string(32, 'c'), std::string(33, 'd'),
                                 std::string(300, 'e')};
    for (const std::string& first : texts) {
        for (const std::string& second : texts) {
            CStr string(first.c_str());
            EXPECT_EQ(Content(string), first);
            string.Assign(second.c_str());
            EXPECT_EQ(Content(string), second);
            CRef<CStorage> stream = ReadingStream(StoredText(first));
            EXPECT_EQ(string.Read(*stream.Get()), first.size() + 2);
            EXPECT_EQ(Content(string), first);
            Bytes cut = StoredText(second);
            cut.pop_back();
            CRef<CStorage> shortStream = ReadingStream(cut);
            string.Read(*shortStream.Get());
            EXPECT_EQ(Content(string), "<empty>") << second.size();
        }
        CRef<CStorage> stream = ReadingStream(StoredText(first));
        uint16_t consumed = 0;
        CRef<CStr> read = CRef<CStr>::Adopt(CStr::ReadNew(*stream.Get(), &consumed));
        EXPECT_EQ(consumed, first.size() + 2);
        EXPECT_EQ(Content(*read.Get()), first);
        const CStr copy(first.data(), static_cast<uint16_t>(first.size()));
        EXPECT_TRUE(CStr::Equals(&copy, read.Get()));
    }
}
