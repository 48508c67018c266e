// Tells ThreadSanitizer which futex words are locks. The sanitizer knows pthread mutexes by
// their calls; a critical section is atomics and futex calls, so without these marks it
// would see the ordering they give but check no lock order. With them, every object lock is
// a reentrant mutex to it, and an inversion between two of them is reported as a potential
// deadlock even when the run that shows it does not hang. Other builds compile them to
// nothing.
#pragma once

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>

namespace lock_annotations {
inline void Created(void* lock) {
    __tsan_mutex_create(lock, __tsan_mutex_write_reentrant);
}
inline void Destroyed(void* lock) {
    __tsan_mutex_destroy(lock, 0);
}
inline void Locking(void* lock) {
    __tsan_mutex_pre_lock(lock, 0);
}
inline void Locked(void* lock) {
    __tsan_mutex_post_lock(lock, 0, 0);
}
inline void TryLocking(void* lock) {
    __tsan_mutex_pre_lock(lock, __tsan_mutex_try_lock);
}
inline void TryLocked(void* lock, bool acquired) {
    __tsan_mutex_post_lock(lock, acquired ? __tsan_mutex_try_lock : __tsan_mutex_try_lock_failed, 0);
}
inline void Unlocking(void* lock) {
    __tsan_mutex_pre_unlock(lock, 0);
}
inline void Unlocked(void* lock) {
    __tsan_mutex_post_unlock(lock, 0);
}
}  // namespace lock_annotations

#else

namespace lock_annotations {
inline void Created(void*) {}
inline void Destroyed(void*) {}
inline void Locking(void*) {}
inline void Locked(void*) {}
inline void TryLocking(void*) {}
inline void TryLocked(void*, bool) {}
inline void Unlocking(void*) {}
inline void Unlocked(void*) {}
}  // namespace lock_annotations

#endif
