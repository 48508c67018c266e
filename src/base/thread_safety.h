// Marks for clang's thread-safety analysis (-Wthread-safety): which types are locks, which
// fields a lock guards, and which functions need a lock held or free. Other compilers see
// nothing.
#pragma once

#if defined(__clang__)
#define MBUS_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define MBUS_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(name) MBUS_THREAD_ATTRIBUTE(capability(name))
#define SCOPED_CAPABILITY MBUS_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(lock) MBUS_THREAD_ATTRIBUTE(guarded_by(lock))
#define REQUIRES(...) MBUS_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) MBUS_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) MBUS_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) MBUS_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) MBUS_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define RETURN_CAPABILITY(lock) MBUS_THREAD_ATTRIBUTE(lock_returned(lock))
#define NO_THREAD_SAFETY_ANALYSIS MBUS_THREAD_ATTRIBUTE(no_thread_safety_analysis)
