// FILETIME <-> SYSTEMTIME in the proleptic Gregorian calendar, UTC, no time zone.
// A FILETIME counts 100-ns intervals since 1601-01-01 00:00:00, the first day of a 400-year
// cycle, so whole cycles, centuries, four-year groups and years can be peeled off in turn.
#include "platform/platform.h"

#include <cstdint>

#include "base/coding.h"

namespace {

constexpr uint64_t kTicksPerMillisecond = 10000;
constexpr uint64_t kMillisecondsPerDay = 86400000;
constexpr uint64_t kDaysPer400Years = 146097;
constexpr uint64_t kDaysPer100Years = 36524;
constexpr uint64_t kDaysPer4Years = 1461;
constexpr uint64_t kDaysPerYear = 365;
constexpr unsigned kFirstYear = 1601;
constexpr unsigned kLastYear = 30827;
constexpr unsigned kMonday = 1;  // 1601-01-01

// Days before each month in a common year; leap years add one from March on.
constexpr uint16_t kDaysBeforeMonth[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

bool IsLeapYear(unsigned year) noexcept {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned DaysBeforeMonth(unsigned year, unsigned month) noexcept {
    return kDaysBeforeMonth[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0);
}

unsigned DaysInMonth(unsigned year, unsigned month) noexcept {
    return DaysBeforeMonth(year, month + 1) - DaysBeforeMonth(year, month);
}

bool IsValid(const SYSTEMTIME& time) noexcept {
    return time.wYear >= kFirstYear && time.wYear <= kLastYear && time.wMonth >= 1 && time.wMonth <= 12 &&
           time.wDay >= 1 && time.wDay <= DaysInMonth(time.wYear, time.wMonth) && time.wHour < 24 &&
           time.wMinute < 60 && time.wSecond < 60 && time.wMilliseconds < 1000;
}

}  // namespace

extern "C" BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) noexcept {
    if (fileTime == nullptr || systemTime == nullptr) return FALSE;
    uint64_t ticks = JoinHalves(fileTime->dwLowDateTime, fileTime->dwHighDateTime);
    if (ticks >> 63) return FALSE;
    uint64_t milliseconds = ticks / kTicksPerMillisecond;
    uint64_t days = milliseconds / kMillisecondsPerDay;
    uint64_t msOfDay = milliseconds % kMillisecondsPerDay;

    uint64_t cycles = days / kDaysPer400Years;
    uint64_t dayOfCycle = days % kDaysPer400Years;
    // The last day of a cycle (a leap day) would make a fifth century / fifth year: cap at 3.
    uint64_t centuries = dayOfCycle / kDaysPer100Years;
    if (centuries == 4) centuries = 3;
    uint64_t dayOfCentury = dayOfCycle - centuries * kDaysPer100Years;
    uint64_t groups = dayOfCentury / kDaysPer4Years;
    uint64_t dayOfGroup = dayOfCentury % kDaysPer4Years;
    uint64_t years = dayOfGroup / kDaysPerYear;
    if (years == 4) years = 3;
    unsigned dayOfYear = static_cast<unsigned>(dayOfGroup - years * kDaysPerYear);
    unsigned year = static_cast<unsigned>(kFirstYear + cycles * 400 + centuries * 100 + groups * 4 + years);

    unsigned month = 1;
    while (month < 12 && dayOfYear >= DaysBeforeMonth(year, month + 1)) ++month;

    systemTime->wYear = static_cast<uint16_t>(year);
    systemTime->wMonth = static_cast<uint16_t>(month);
    systemTime->wDay = static_cast<uint16_t>(dayOfYear - DaysBeforeMonth(year, month) + 1);
    systemTime->wDayOfWeek = static_cast<uint16_t>((days + kMonday) % 7);
    systemTime->wHour = static_cast<uint16_t>(msOfDay / 3600000);
    systemTime->wMinute = static_cast<uint16_t>(msOfDay / 60000 % 60);
    systemTime->wSecond = static_cast<uint16_t>(msOfDay / 1000 % 60);
    systemTime->wMilliseconds = static_cast<uint16_t>(msOfDay % 1000);
    return TRUE;
}

extern "C" BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) noexcept {
    if (systemTime == nullptr || fileTime == nullptr || !IsValid(*systemTime)) return FALSE;
    uint64_t years = systemTime->wYear - kFirstYear;
    uint64_t days = years * kDaysPerYear + years / 4 - years / 100 + years / 400 +
                    DaysBeforeMonth(systemTime->wYear, systemTime->wMonth) + systemTime->wDay - 1;
    uint64_t milliseconds = days * kMillisecondsPerDay + systemTime->wHour * 3600000ull +
                            systemTime->wMinute * 60000ull + systemTime->wSecond * 1000ull + systemTime->wMilliseconds;
    uint64_t ticks = milliseconds * kTicksPerMillisecond;
    fileTime->dwLowDateTime = LowHalf(ticks);
    fileTime->dwHighDateTime = HighHalf(ticks);
    return TRUE;
}
