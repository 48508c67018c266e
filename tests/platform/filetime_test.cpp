#include <gtest/gtest.h>

#include "platform/platform.h"

#include <time.h>

#include <cstring>
#include <random>

namespace {

// In SYSTEMTIME order: the day of the week comes before the day.
SYSTEMTIME Date(int year, int month, int dayOfWeek, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0) {
    auto w = [](int value) { return static_cast<uint16_t>(value); };
    return SYSTEMTIME{w(year), w(month), w(dayOfWeek), w(day), w(hour), w(minute), w(second), w(ms)};
}

FILETIME ToFileTime(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t Ticks(const FILETIME& fileTime) {
    return (uint64_t{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
}

bool Same(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Boundaries of the range and of the leap rules, converted both ways.
TEST(FileTime, CalendarBoundaries) {
    constexpr uint64_t kDay = 864000000000;
    const std::pair<uint64_t, SYSTEMTIME> cases[] = {
        {0, Date(1601, 1, 1, 1)},
        {116444736000000000, Date(1970, 1, 4, 1)},
        {116444736000000000 + 123456780000, Date(1970, 1, 4, 1, 3, 25, 45, 678)},
        {125911584000000000, Date(2000, 1, 6, 1)},
        {125962560000000000, Date(2000, 2, 2, 29)},
        {252190368000000000, Date(2400, 2, 2, 29)},
        {31291488000000000, Date(1700, 2, 0, 28)},
        {31291488000000000 + kDay, Date(1700, 3, 1, 1)},
        {94404960000000000, Date(1900, 2, 3, 28)},
        {94404960000000000 + kDay, Date(1900, 3, 4, 1)},
        {9223149887999990000u, Date(30827, 12, 5, 31, 23, 59, 59, 999)},
    };
    for (const auto& [ticks, date] : cases) {
        FILETIME fileTime = ToFileTime(ticks);
        SYSTEMTIME time{};
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time)) << ticks;
        EXPECT_TRUE(Same(time, date)) << ticks << ": " << time.wYear << "-" << time.wMonth << "-" << time.wDay
                                      << " dow " << time.wDayOfWeek;
        SYSTEMTIME anyWeekday = date;
        anyWeekday.wDayOfWeek = 65535;  // ignored on input
        ASSERT_TRUE(SystemTimeToFileTime(&anyWeekday, &fileTime)) << ticks;
        EXPECT_EQ(Ticks(fileTime), ticks);
    }
    // The largest FILETIME lies in 30828, which does not convert back; the top bit fails.
    SYSTEMTIME time{};
    FILETIME fileTime = ToFileTime(0x7FFFFFFFFFFFFFFFu);
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
    EXPECT_TRUE(Same(time, Date(30828, 9, 4, 14, 2, 48, 5, 477)));
    EXPECT_FALSE(SystemTimeToFileTime(&time, &fileTime));
    fileTime = ToFileTime(0x8000000000000000u);
    EXPECT_FALSE(FileTimeToSystemTime(&fileTime, &time));
}

TEST(FileTime, EveryFieldIsValidated) {
    const SYSTEMTIME invalid[] = {
        Date(1600, 12, 0, 31), Date(30828, 1, 0, 1), Date(2000, 0, 0, 1), Date(2000, 13, 0, 1), Date(2000, 1, 0, 0),
        Date(2000, 1, 0, 32), Date(2001, 2, 0, 29), Date(1700, 2, 0, 29), Date(1900, 2, 0, 29), Date(2000, 4, 0, 31),
        Date(2000, 1, 0, 1, 24), Date(2000, 1, 0, 1, 0, 60), Date(2000, 1, 0, 1, 0, 0, 60),
        Date(2000, 1, 0, 1, 0, 0, 0, 1000),
    };
    for (const SYSTEMTIME& time : invalid) {
        FILETIME fileTime{123, 456};
        EXPECT_FALSE(SystemTimeToFileTime(&time, &fileTime)) << time.wYear << "-" << time.wMonth << "-" << time.wDay;
        EXPECT_EQ(fileTime.dwLowDateTime, 123u);
    }
    SYSTEMTIME time = invalid[0];
    FILETIME fileTime{};
    EXPECT_FALSE(SystemTimeToFileTime(nullptr, &fileTime));
    EXPECT_FALSE(SystemTimeToFileTime(&time, nullptr));
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &time));
    EXPECT_FALSE(FileTimeToSystemTime(&fileTime, nullptr));
}

// gmtime (proleptic Gregorian, 64-bit time_t) is the reference; back means cut to milliseconds.
TEST(FileTime, RandomValuesMatchGmtimeAndRoundTrip) {
    constexpr int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
    std::mt19937_64 random(20240601);
    for (int i = 0; i < 200000; ++i) {
        uint64_t ticks = random() >> 1;
        FILETIME fileTime = ToFileTime(ticks);
        SYSTEMTIME time{};
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
        time_t seconds = static_cast<time_t>(ticks / 10000000) - kUnixEpochSeconds;
        tm r{};
        ASSERT_NE(gmtime_r(&seconds, &r), nullptr);
        ASSERT_TRUE(Same(time, Date(r.tm_year + 1900, r.tm_mon + 1, r.tm_wday, r.tm_mday, r.tm_hour, r.tm_min,
                                    r.tm_sec, static_cast<int>(ticks / 10000 % 1000))))
            << ticks;
        FILETIME back{};
        const bool convertsBack = time.wYear <= 30827;
        ASSERT_EQ(SystemTimeToFileTime(&time, &back), convertsBack) << ticks;
        ASSERT_EQ(Ticks(back), convertsBack ? ticks - ticks % 10000 : 0) << ticks;
    }
}

}  // namespace
