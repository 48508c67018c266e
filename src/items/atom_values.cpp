#include "items/atom_values.h"

#include <cstring>

#include "base/coding.h"
#include "platform/platform.h"

namespace {
constexpr int64_t kTicksPerMillisecond = 10000;
constexpr int64_t kMaxMilliseconds = INT64_MAX / kTicksPerMillisecond;
}  // namespace

bool SystemTimeToMilliseconds(const MbSystemTime* time, int64_t* milliseconds) {
    *milliseconds = 0;
    if (time == nullptr) return true;
    FILETIME fileTime{};
    if (SystemTimeToFileTime(time, &fileTime)) {
        const uint64_t ticks = JoinHalves(fileTime.dwLowDateTime, fileTime.dwHighDateTime);
        *milliseconds = static_cast<int64_t>(ticks / kTicksPerMillisecond);
        return true;
    }
    static constexpr MbSystemTime kZero{};
    return std::memcmp(time, &kZero, sizeof kZero) == 0;
}

bool MillisecondsToSystemTime(int64_t milliseconds, MbSystemTime* time) {
    if (milliseconds < 0 || milliseconds > kMaxMilliseconds) return false;
    const uint64_t ticks = static_cast<uint64_t>(milliseconds * kTicksPerMillisecond);
    const FILETIME fileTime{LowHalf(ticks), HighHalf(ticks)};
    return FileTimeToSystemTime(&fileTime, time) != FALSE;
}
