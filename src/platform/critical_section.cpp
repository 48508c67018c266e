// CRITICAL_SECTION: a recursive pthread mutex in the caller's opaque storage.
#include "platform/platform.h"

#include <pthread.h>

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque),
              "a pthread mutex must fit in CRITICAL_SECTION");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "CRITICAL_SECTION must be aligned for a pthread mutex");

pthread_mutex_t* Mutex(CRITICAL_SECTION* section) noexcept {
    return reinterpret_cast<pthread_mutex_t*>(section->opaque);
}

}  // namespace

extern "C" void InitializeCriticalSection(CRITICAL_SECTION* section) noexcept {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(Mutex(section), &attributes);
    pthread_mutexattr_destroy(&attributes);
}

extern "C" void EnterCriticalSection(CRITICAL_SECTION* section) noexcept {
    pthread_mutex_lock(Mutex(section));
}

extern "C" void LeaveCriticalSection(CRITICAL_SECTION* section) noexcept {
    pthread_mutex_unlock(Mutex(section));
}

extern "C" void DeleteCriticalSection(CRITICAL_SECTION* section) noexcept {
    pthread_mutex_destroy(Mutex(section));
}
