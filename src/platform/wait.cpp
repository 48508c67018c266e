// WaitForSingleObject and WaitForMultipleObjects over the objects' descriptors.
#include "platform/handle.h"
#include "platform/monotonic.h"

#include <poll.h>
#include <sched.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>

using mbus::platform::CHandleObject;
using mbus::platform::CHandleTable;
using mbus::platform::CSignal;
using mbus::platform::CSpinBudget;
using mbus::platform::MonotonicNanos;

namespace {

constexpr int64_t kNanosPerSecond = 1000000000;
constexpr int64_t kNanosPerMilli = 1000000;

// Checks the objects in list order; the first signalled one wins and, when auto-reset, is reset
// by this check alone. Returns its index, or count when none is signalled.
DWORD FirstSignalled(const std::shared_ptr<CHandleObject>* objects, DWORD count) noexcept {
    for (DWORD i = 0; i < count; ++i) {
        if (objects[i]->Signal().TryAcquire()) return i;
    }
    return count;
}

// The time left until deadline (never less than zero), or infinite.
struct CDeadline {
    CDeadline(int64_t start, DWORD milliseconds)
        : infinite(milliseconds == INFINITE), at(infinite ? 0 : start + int64_t{milliseconds} * kNanosPerMilli) {}
    int64_t LeftNanos() const noexcept { return infinite ? INT64_MAX : std::max<int64_t>(at - MonotonicNanos(), 0); }

    const bool infinite;
    const int64_t at;
};

// Takes the signal if it comes before `nanos` passed since `start`. A spin reads the flag
// without writing it, so it does not take the signal's cache line from its setter. Between two
// looks it yields: a thread woken onto this processor (the transport's, with the message that
// will signal) runs at once instead of waiting for the spin to end, which kept the slowest
// query round trips at twice their time.
bool SpinAcquire(CSignal& signal, int64_t start, int64_t nanos) noexcept {
    while (MonotonicNanos() - start < nanos) {
        if (signal.TryAcquire()) return true;
        sched_yield();
    }
    return false;
}

// One object: check; spin for the object's budget (a wait of 1 ms or more always outlasts it);
// then sleep on its change count until a Set() or the deadline, and check again. A Set() after
// the check changes the count read before it, so the sleep ends at once and no wake-up is lost;
// a signal that another waiter took first only costs one more round. A wait that slept tells
// the budget when its signal came.
DWORD WaitForOne(CHandleObject& object, DWORD milliseconds) noexcept {
    CSignal& signal = object.Signal();
    if (signal.TryAcquire()) return WAIT_OBJECT_0;
    if (milliseconds == 0) return WAIT_TIMEOUT;
    const int64_t start = MonotonicNanos();
    CSpinBudget& budget = signal.Budget();
    if (CSpinBudget::Usable() && SpinAcquire(signal, start, budget.Nanos())) return WAIT_OBJECT_0;
    const CDeadline deadline(start, milliseconds);
    for (;;) {
        const uint32_t changes = signal.Changes();
        if (signal.TryAcquire()) {
            // A wake-up stamps the time of its Set(); a signal taken without one came just now.
            const int64_t wokeAt = signal.WokeAt();
            budget.Learn((wokeAt > start ? wokeAt : MonotonicNanos()) - start);
            return WAIT_OBJECT_0;
        }
        const int64_t left = deadline.LeftNanos();
        if (left == 0) {
            budget.Learn(CSpinBudget::kNever);
            return WAIT_TIMEOUT;
        }
        // Rounded up, so that a sleep never ends before the deadline it was given.
        signal.Sleep(changes,
                     deadline.infinite ? INFINITE : static_cast<DWORD>((left + kNanosPerMilli - 1) / kNanosPerMilli));
    }
}

// Several objects: the same loop over their descriptors. A signal set after a check makes its
// descriptor readable, so it ends the following poll() and no wake-up is lost.
DWORD WaitForObjects(const std::shared_ptr<CHandleObject>* objects, DWORD count, DWORD milliseconds) {
    std::array<pollfd, MAXIMUM_WAIT_OBJECTS> fds;
    for (DWORD i = 0; i < count; ++i) fds[i] = pollfd{objects[i]->Signal().Fd(), POLLIN, 0};
    const CDeadline deadline(MonotonicNanos(), milliseconds);
    for (;;) {
        DWORD index = FirstSignalled(objects, count);
        if (index < count) return WAIT_OBJECT_0 + index;
        const int64_t left = deadline.LeftNanos();
        if (left == 0) return WAIT_TIMEOUT;
        const timespec remaining{static_cast<time_t>(left / kNanosPerSecond),
                                 static_cast<long>(left % kNanosPerSecond)};
        if (ppoll(fds.data(), count, deadline.infinite ? nullptr : &remaining, nullptr) < 0 && errno != EINTR)
            return WAIT_FAILED;
    }
}

}  // namespace

extern "C" DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) noexcept {
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || handles == nullptr || waitAll != FALSE) return WAIT_FAILED;
    if (count == 1) return WaitForSingleObject(handles[0], milliseconds);
    try {
        std::array<std::shared_ptr<CHandleObject>, MAXIMUM_WAIT_OBJECTS> objects;
        for (DWORD i = 0; i < count; ++i) {
            objects[i] = CHandleTable::Instance().Find(handles[i]);
            if (!objects[i]) return WAIT_FAILED;
            // One object may appear only once in a list.
            for (DWORD j = 0; j < i; ++j) {
                if (objects[j] == objects[i]) return WAIT_FAILED;
            }
        }
        return WaitForObjects(objects.data(), count, milliseconds);
    } catch (...) {
        return WAIT_FAILED;
    }
}

// One object needs no table of 64 references: waits on one event are the common case.
extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) noexcept {
    try {
        const std::shared_ptr<CHandleObject> object = CHandleTable::Instance().Find(handle);
        return object ? WaitForOne(*object, milliseconds) : WAIT_FAILED;
    } catch (...) {
        return WAIT_FAILED;
    }
}
