#include <gtest/gtest.h>

#include "platform/platform.h"

#include <cstring>
#include <string>

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

// The text written for id into size bytes (none when 0), checked against result and bounds.
std::string Text(DWORD id, DWORD flags = kFlags, DWORD language = kLanguage, DWORD size = 4095) {
    char buffer[4096];
    std::memset(buffer, '?', sizeof buffer);
    DWORD length = FormatMessageA(flags, nullptr, id, language, size ? buffer : nullptr, size, nullptr);
    EXPECT_EQ(buffer[size], '?') << id;
    std::string text(buffer, strnlen(buffer, size));
    EXPECT_EQ(length, text.size()) << id;
    return text;
}

TEST(MessageText, SystemTextsAndEmptyTextForUnknownIds) {
    // The first, a middle and the last entry of the table, and ids just beside entries.
    const std::pair<DWORD, const char*> cases[] = {
        {0, "The operation completed successfully.\r\n"}, {1722, "The RPC server is unavailable.\r\n"},
        {1723, "The RPC server is too busy to complete this operation.\r\n"}, {1761, "The entry is not found.\r\n"},
        {3, ""}, {1699, ""}, {1724, ""}, {1762, ""}, {0xFFFFFFFF, ""},
    };
    for (const auto& [id, text] : cases) EXPECT_EQ(Text(id), text) << id;
}

// The text and its terminator must fit; only system texts, only in English or neutral language.
TEST(MessageText, TruncationLanguageAndSource) {
    const std::string text = "The RPC server is unavailable.\r\n";
    const DWORD exact = static_cast<DWORD>(text.size() + 1);
    EXPECT_EQ(Text(1722, kFlags, kLanguage, exact), text);
    EXPECT_EQ(Text(1722, kFlags, kLanguage, exact - 1), "");
    EXPECT_EQ(Text(1722, kFlags, kLanguage, 0), "");
    EXPECT_EQ(Text(1722, kFlags, MAKELANGID(0x09u, 0x01u)), text);
    EXPECT_EQ(Text(1722, kFlags, MAKELANGID(0x07u, 0x01u)), "");
    EXPECT_EQ(Text(1722, FORMAT_MESSAGE_IGNORE_INSERTS), "");
    EXPECT_EQ(Text(1722, kFlags | 0x100u), "");  // allocate-buffer is not offered
}

}  // namespace
