// The Win32 subset the library is written against, implemented on Linux in this folder.
// Library code above src/platform includes this header and no Linux header.
#pragma once

#include <mbus/win32.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/thread_safety.h"
#include "platform/lock_annotations.h"

extern "C" {

// The most handles one WaitForMultipleObjects call accepts.
#define MAXIMUM_WAIT_OBJECTS 64u

// A recursive lock on a futex. Every object of the library carries one and takes it for each
// operation, so the uncontended paths below are inline: one compare-and-swap to enter, one
// exchange to leave. Only a contended enter and a leave with a sleeper call out.
typedef struct CAPABILITY("mutex") CRITICAL_SECTION {
    // 0 free, 1 held, 2 held and a thread may be sleeping on it.
    std::atomic<uint32_t> state;
    // Thread id of the holder, 0 when free. Only the holder writes its own id, so a thread
    // that reads its own id holds the lock.
    std::atomic<uint32_t> owner;
    // Nesting depth of the holder; touched by the holder only.
    uint32_t depth;
} CRITICAL_SECTION;

void InitializeCriticalSection(CRITICAL_SECTION* section) noexcept;
void DeleteCriticalSection(CRITICAL_SECTION* section) noexcept;
// The slow paths of the inline enter and leave.
void AcquireContendedCriticalSection(CRITICAL_SECTION* section) noexcept;
void WakeCriticalSectionWaiter(CRITICAL_SECTION* section) noexcept;

// Milliseconds of CLOCK_MONOTONIC, wrapping at 32 bits.
DWORD GetTickCount(void) noexcept;
// Microseconds of the precise CLOCK_MONOTONIC.
uint64_t GetMicrosecondCount(void) noexcept;
// Fills the calling thread's cached id (gettid) and returns it.
DWORD FetchCurrentThreadId(void) noexcept;
DWORD GetCurrentProcessId(void) noexcept;
// The login session number of a process; FALSE when unreadable or unset.
BOOL ProcessIdToSessionId(DWORD processId, DWORD* sessionId) noexcept;

typedef struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) noexcept;
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) noexcept;

#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200u
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000u
#define LANG_NEUTRAL 0x00u
#define SUBLANG_DEFAULT 0x01u
#define MAKELANGID(p, s) ((((DWORD)(s)) << 10) | (DWORD)(p))

// System message texts for the statuses the library can produce. Writes at most size bytes
// including the terminator; returns the text length, 0 for an unknown code.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                     va_list* arguments) noexcept;

typedef DWORD (*LPTHREAD_START_ROUTINE)(void* parameter);

// Starts procedure(parameter) on a new thread named name (cut to 15 characters; may be null).
// The handle is waitable (signalled when the thread ends) and closed with CloseHandle.
HANDLE CreateNamedThread(LPTHREAD_START_ROUTINE procedure, void* parameter, size_t stackSize, const char* name,
                         DWORD* threadId) noexcept;

}  // extern "C"

// Where a class reads its tick count: GetTickCount, unless a test hands it a clock of its own.
using TickSource = DWORD (*)() noexcept;

// The calling thread's kernel id, cached per thread: every object lock and unlock reads it.
// The initial-exec model keeps the read a single instruction in the shared library.
extern constinit thread_local DWORD cachedThreadId __attribute__((tls_model("initial-exec")));

inline DWORD GetCurrentThreadId(void) noexcept {
    const DWORD id = cachedThreadId;
    return id != 0 ? id : FetchCurrentThreadId();
}

// The lock primitive itself: the analysis sees its callers acquire and release the section.
inline void EnterCriticalSection(CRITICAL_SECTION* section) noexcept ACQUIRE(*section) NO_THREAD_SAFETY_ANALYSIS {
    const uint32_t self = GetCurrentThreadId();
    lock_annotations::Locking(section);
    if (section->owner.load(std::memory_order_relaxed) == self) {
        ++section->depth;
    } else {
        uint32_t expected = 0;
        if (!section->state.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
            AcquireContendedCriticalSection(section);
        }
        section->owner.store(self, std::memory_order_relaxed);
        section->depth = 1;
    }
    lock_annotations::Locked(section);
}

// Enters only when the section is free or already the calling thread's; true when it entered.
inline bool TryEnterCriticalSection(CRITICAL_SECTION* section) noexcept NO_THREAD_SAFETY_ANALYSIS {
    const uint32_t self = GetCurrentThreadId();
    lock_annotations::TryLocking(section);
    bool entered = true;
    if (section->owner.load(std::memory_order_relaxed) == self) {
        ++section->depth;
    } else {
        uint32_t expected = 0;
        entered = section->state.compare_exchange_strong(expected, 1, std::memory_order_acquire);
        if (entered) {
            section->owner.store(self, std::memory_order_relaxed);
            section->depth = 1;
        }
    }
    lock_annotations::TryLocked(section, entered);
    return entered;
}

// A thread that does not hold the lock leaves nothing.
inline void LeaveCriticalSection(CRITICAL_SECTION* section) noexcept RELEASE(*section) NO_THREAD_SAFETY_ANALYSIS {
    if (section->owner.load(std::memory_order_relaxed) != GetCurrentThreadId()) return;
    lock_annotations::Unlocking(section);
    if (--section->depth == 0) {
        section->owner.store(0, std::memory_order_relaxed);
        if (section->state.exchange(0, std::memory_order_release) == 2) WakeCriticalSectionWaiter(section);
    }
    lock_annotations::Unlocked(section);
}
