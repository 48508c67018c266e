// WaitForSingleObject and WaitForMultipleObjects over the objects' descriptors.
#include "platform/handle.h"

#include <poll.h>
#include <time.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>

using mbus::platform::CHandleObject;
using mbus::platform::CHandleTable;

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kNanosPerMilli = 1000000;

int64_t MonotonicNanos() noexcept {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kNanosPerSecond + now.tv_nsec;
}

// Checks the objects in list order; the first signalled one wins and, when auto-reset, is reset
// by this check alone. Returns its index, or count when none is signalled.
DWORD FirstSignalled(const std::shared_ptr<CHandleObject>* objects, DWORD count) noexcept {
    for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->Signal().TryAcquire())
            return i;
    }
    return count;
}

// The wait loop: check, sleep in poll() until some descriptor turns readable or the deadline
// passes, check again. A signal set after a check makes its descriptor readable, so it ends the
// following poll() and no wake-up is lost; a readable descriptor whose signal another waiter took
// first only costs one more round.
DWORD WaitForObjects(const std::shared_ptr<CHandleObject>* objects, DWORD count, DWORD milliseconds) {
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds;
    for (DWORD i = 0; i < count; ++i)
        fds[i] = pollfd{objects[i]->Signal().Fd(), POLLIN, 0};
    const bool infinite = milliseconds == INFINITE;
    const int64_t deadline = infinite ? 0 : MonotonicNanos() + int64_t{milliseconds} * kNanosPerMilli;
    for (;;) {
        DWORD index = FirstSignalled(objects, count);
        if (index < count)
            return WAIT_OBJECT_0 + index;
        timespec remaining{};
        if (!infinite) {
            int64_t left = deadline - MonotonicNanos();
            if (left <= 0)
                return WAIT_TIMEOUT;
            remaining = timespec{static_cast<time_t>(left / kNanosPerSecond), static_cast<long>(left % kNanosPerSecond)};
        }
        if (ppoll(fds.data(), count, infinite ? nullptr : &remaining, nullptr) < 0 && errno != EINTR)
            return WAIT_FAILED;
    }
}

}  // namespace

extern "C" DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll,
                                        DWORD milliseconds) noexcept {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr || waitAll != FALSE)
        return WAIT_FAILED;
    try {
        std::array<std::shared_ptr<CHandleObject>, MAXIMUM_WAIT_OBJECTS> objects;
        for (DWORD i = 0; i < count; ++i) {
            objects[i] = CHandleTable::Instance().Find(handles[i]);
            if (!objects[i])
                return WAIT_FAILED;
            // One object may appear only once in a list.
            for (DWORD j = 0; j < i; ++j) {
                if (objects[j] == objects[i])
                    return WAIT_FAILED;
            }
        }
        return WaitForObjects(objects.data(), count, milliseconds);
    } catch (...) {
        return WAIT_FAILED;
    }
}

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) noexcept {
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}
