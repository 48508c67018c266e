#include <gtest/gtest.h>

#include "platform/platform.h"

#include <time.h>

#include <cstdint>
#include <cstring>
#include <random>

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr int64_t kUnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01

FILETIME ToFileTime(uint64_t ticks) {
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

uint64_t Ticks(const FILETIME& fileTime) {
    return (uint64_t{fileTime.dwHighDateTime} << 32) | fileTime.dwLowDateTime;
}

SYSTEMTIME Date(uint16_t year, uint16_t month, uint16_t day, uint16_t hour = 0, uint16_t minute = 0,
                uint16_t second = 0, uint16_t milliseconds = 0) {
    SYSTEMTIME time{};
    time.wYear = year;
    time.wMonth = month;
    time.wDay = day;
    time.wHour = hour;
    time.wMinute = minute;
    time.wSecond = second;
    time.wMilliseconds = milliseconds;
    return time;
}

// Converts both ways and checks the pair, including the computed day of the week.
void ExpectPair(uint64_t ticks, SYSTEMTIME date, uint16_t dayOfWeek) {
    FILETIME fileTime{};
    ASSERT_TRUE(SystemTimeToFileTime(&date, &fileTime));
    EXPECT_EQ(Ticks(fileTime), ticks);
    SYSTEMTIME back{};
    FILETIME given = ToFileTime(ticks);
    ASSERT_TRUE(FileTimeToSystemTime(&given, &back));
    date.wDayOfWeek = dayOfWeek;
    EXPECT_EQ(std::memcmp(&back, &date, sizeof date), 0)
        << back.wYear << "-" << back.wMonth << "-" << back.wDay << " " << back.wHour << ":" << back.wMinute << ":"
        << back.wSecond << "." << back.wMilliseconds << " dow " << back.wDayOfWeek;
}

TEST(FileTime, KnownDates) {
    ExpectPair(0, Date(1601, 1, 1), 1);
    ExpectPair(116444736000000000, Date(1970, 1, 1), 4);
    ExpectPair(125911584000000000, Date(2000, 1, 1), 6);
    ExpectPair(125962560000000000, Date(2000, 2, 29), 2);
    ExpectPair(252190368000000000, Date(2400, 2, 29), 2);
    ExpectPair(31291488000000000, Date(1700, 2, 28), 0);
    ExpectPair(31291488000000000 + 864000000000, Date(1700, 3, 1), 1);
    ExpectPair(94404960000000000, Date(1900, 2, 28), 3);
    ExpectPair(94404960000000000 + 864000000000, Date(1900, 3, 1), 4);
    ExpectPair(9223149887999990000u, Date(30827, 12, 31, 23, 59, 59, 999), 5);
    ExpectPair(116444736000000000 + 12345 * kTicksPerSecond + 6780000, Date(1970, 1, 1, 3, 25, 45, 678), 4);
}

TEST(FileTime, LargestFileTimeIsInYear30828AndTheTopBitFails) {
    SYSTEMTIME time{};
    FILETIME largest = ToFileTime(0x7FFFFFFFFFFFFFFFu);
    ASSERT_TRUE(FileTimeToSystemTime(&largest, &time));
    SYSTEMTIME expected = Date(30828, 9, 14, 2, 48, 5, 477);
    expected.wDayOfWeek = 4;
    EXPECT_EQ(std::memcmp(&time, &expected, sizeof time), 0);
    for (uint64_t ticks : {0x8000000000000000u, 0xFFFFFFFFFFFFFFFFu}) {
        FILETIME fileTime = ToFileTime(ticks);
        EXPECT_FALSE(FileTimeToSystemTime(&fileTime, &time));
    }
    // Valid on the way out, but no SYSTEMTIME in year 30828 converts back.
    FILETIME back{};
    EXPECT_FALSE(SystemTimeToFileTime(&time, &back));
}

TEST(FileTime, SubMillisecondTicksAreDropped) {
    SYSTEMTIME time{};
    FILETIME fileTime = ToFileTime(9999);
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
    EXPECT_EQ(time.wMilliseconds, 0);
    fileTime = ToFileTime(10000);
    ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));
    EXPECT_EQ(time.wMilliseconds, 1);
}

TEST(FileTime, EveryFieldIsValidated) {
    const SYSTEMTIME invalid[] = {
        Date(1600, 12, 31), Date(30828, 1, 1), Date(2000, 0, 1), Date(2000, 13, 1), Date(2000, 1, 0),
        Date(2000, 1, 32), Date(2001, 2, 29), Date(1700, 2, 29), Date(1900, 2, 29), Date(2000, 4, 31),
        Date(2000, 1, 1, 24), Date(2000, 1, 1, 0, 60), Date(2000, 1, 1, 0, 0, 60), Date(2000, 1, 1, 0, 0, 0, 1000),
    };
    for (const SYSTEMTIME& time : invalid) {
        FILETIME fileTime{123, 456};
        EXPECT_FALSE(SystemTimeToFileTime(&time, &fileTime)) << time.wYear << "-" << time.wMonth << "-" << time.wDay;
        EXPECT_EQ(fileTime.dwLowDateTime, 123u);
    }
    FILETIME fileTime{};
    SYSTEMTIME anyWeekday = Date(2000, 2, 29);
    anyWeekday.wDayOfWeek = 65535;
    EXPECT_TRUE(SystemTimeToFileTime(&anyWeekday, &fileTime));
    EXPECT_EQ(Ticks(fileTime), 125962560000000000u);
}

TEST(FileTime, NullPointersFail) {
    SYSTEMTIME time = Date(2000, 1, 1);
    FILETIME fileTime{};
    EXPECT_FALSE(SystemTimeToFileTime(nullptr, &fileTime));
    EXPECT_FALSE(SystemTimeToFileTime(&time, nullptr));
    EXPECT_FALSE(FileTimeToSystemTime(nullptr, &time));
    EXPECT_FALSE(FileTimeToSystemTime(&fileTime, nullptr));
}

// The C library's gmtime (proleptic Gregorian on 64-bit time_t) serves as an independent
// reference over the whole range; converting back must give the value cut to milliseconds.
TEST(FileTime, RandomValuesMatchGmtimeAndRoundTrip) {
    std::mt19937_64 random(20240601);
    for (int i = 0; i < 200000; ++i) {
        uint64_t ticks = random() >> 1;
        FILETIME fileTime = ToFileTime(ticks);
        SYSTEMTIME time{};
        ASSERT_TRUE(FileTimeToSystemTime(&fileTime, &time));

        time_t seconds = static_cast<time_t>(ticks / kTicksPerSecond) - kUnixEpochSeconds;
        tm reference{};
        ASSERT_NE(gmtime_r(&seconds, &reference), nullptr);
        ASSERT_EQ(time.wYear, reference.tm_year + 1900) << ticks;
        ASSERT_EQ(time.wMonth, reference.tm_mon + 1) << ticks;
        ASSERT_EQ(time.wDay, reference.tm_mday) << ticks;
        ASSERT_EQ(time.wDayOfWeek, reference.tm_wday) << ticks;
        ASSERT_EQ(time.wHour, reference.tm_hour) << ticks;
        ASSERT_EQ(time.wMinute, reference.tm_min) << ticks;
        ASSERT_EQ(time.wSecond, reference.tm_sec) << ticks;
        ASSERT_EQ(time.wMilliseconds, ticks / 10000 % 1000) << ticks;

        FILETIME back{};
        if (time.wYear <= 30827) {
            ASSERT_TRUE(SystemTimeToFileTime(&time, &back));
            ASSERT_EQ(Ticks(back), ticks - ticks % 10000);
        } else {
            ASSERT_FALSE(SystemTimeToFileTime(&time, &back));
        }
    }
}

}  // namespace
