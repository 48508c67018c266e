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

// The first, a middle and the last entry of the table, and ids just beside entries; the text and
// its terminator must fit; only system texts, only in English or neutral language.
TEST(MessageText, SystemTextsTruncationLanguageAndSource) {
    const std::string unavailable = "The RPC server is unavailable.\r\n";
    const DWORD exact = static_cast<DWORD>(unavailable.size() + 1);
    const struct { DWORD id; std::string text; DWORD flags = kFlags, language = kLanguage, size = 4095; } cases[] = {
        {0, "The operation completed successfully.\r\n"}, {1722, unavailable},
        {1723, "The RPC server is too busy to complete this operation.\r\n"}, {1761, "The entry is not found.\r\n"},
        {3, ""}, {1699, ""}, {1724, ""}, {1762, ""}, {0xFFFFFFFF, ""},
        {1722, unavailable, kFlags, kLanguage, exact}, {1722, "", kFlags, kLanguage, exact - 1},
        {1722, "", kFlags, kLanguage, 0}, {1722, unavailable, kFlags, MAKELANGID(0x09u, 0x01u)},
        {1722, "", kFlags, MAKELANGID(0x07u, 0x01u)}, {1722, "", FORMAT_MESSAGE_IGNORE_INSERTS},
        {1722, "", kFlags | 0x100u},  // allocate-buffer is not offered
    };
    for (const auto& c : cases) EXPECT_EQ(Text(c.id, c.flags, c.language, c.size), c.text) << "row " << &c - cases;
}

}  // namespace
