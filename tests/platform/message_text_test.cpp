#include <gtest/gtest.h>

#include "platform/platform.h"

#include <cstring>
#include <string>

namespace {

constexpr DWORD kFlags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
constexpr DWORD kLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);

std::string Text(DWORD id) {
    char buffer[4096];
    std::memset(buffer, 'x', sizeof buffer);
    DWORD length = FormatMessageA(kFlags, nullptr, id, kLanguage, buffer, sizeof buffer, nullptr);
    EXPECT_EQ(length, std::strlen(buffer)) << id;
    return buffer;
}

TEST(MessageText, SystemTextsOfTransportAndGeneralStatuses) {
    EXPECT_EQ(Text(1722), "The RPC server is unavailable.\r\n");
    EXPECT_EQ(Text(1723), "The RPC server is too busy to complete this operation.\r\n");
    EXPECT_EQ(Text(1726), "The remote procedure call failed.\r\n");
    EXPECT_EQ(Text(1727), "The remote procedure call failed and did not execute.\r\n");
    EXPECT_EQ(Text(1702), "The binding handle is invalid.\r\n");
    EXPECT_EQ(Text(1703), "The RPC protocol sequence is not supported.\r\n");
    EXPECT_EQ(Text(1706), "The endpoint format is invalid.\r\n");
    EXPECT_EQ(Text(1717), "The interface is unknown.\r\n");
    EXPECT_EQ(Text(1719), "There are no protocol sequences.\r\n");
    EXPECT_EQ(Text(1740), "The endpoint is a duplicate.\r\n");
    EXPECT_EQ(Text(1753), "There are no more endpoints available from the endpoint mapper.\r\n");
    EXPECT_EQ(Text(1761), "The entry is not found.\r\n");
    EXPECT_EQ(Text(0), "The operation completed successfully.\r\n");
    EXPECT_EQ(Text(8), "Not enough memory resources are available to process this command.\r\n");
    EXPECT_EQ(Text(87), "The parameter is incorrect.\r\n");
}

TEST(MessageText, UnknownIdGivesZeroAndAnEmptyText) {
    for (DWORD id : {3u, 1699u, 1724u, 1729u, 1762u, 0xFFFFFFFFu})
        EXPECT_EQ(Text(id), "") << id;
}

TEST(MessageText, TextMustFitWithItsTerminator) {
    const std::string expected = "The RPC server is unavailable.\r\n";
    const DWORD exact = static_cast<DWORD>(expected.size() + 1);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 1722, kLanguage, buffer, exact, nullptr), expected.size());
    EXPECT_EQ(std::string(buffer), expected);

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 1722, kLanguage, buffer, exact - 1, nullptr), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[exact - 1], 'x');  // nothing written past the given size

    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 1722, kLanguage, buffer, 0, nullptr), 0u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 1722, kLanguage, nullptr, 64, nullptr), 0u);
}

TEST(MessageText, OnlySystemTextsInEnglishOrNeutralLanguage) {
    char buffer[256];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, 1722, kLanguage, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_GT(FormatMessageA(kFlags, nullptr, 1722, 0, buffer, sizeof buffer, nullptr), 0u);
    EXPECT_GT(FormatMessageA(kFlags, nullptr, 1722, MAKELANGID(0x09u, 0x01u), buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(FormatMessageA(kFlags, nullptr, 1722, MAKELANGID(0x07u, 0x01u), buffer, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(FormatMessageA(kFlags | 0x100u, nullptr, 1722, kLanguage, buffer, sizeof buffer, nullptr), 0u);
}

}  // namespace
