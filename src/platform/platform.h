// The Win32 subset the library is written against, implemented on Linux in this folder.
// Library code above src/platform includes this header and no Linux header.
#pragma once

#include <mbus/win32.h>

#include <cstddef>
#include <cstdint>

extern "C" {

// The most handles one WaitForMultipleObjects call accepts.
#define MAXIMUM_WAIT_OBJECTS 64u

// A recursive lock. The storage is opaque here so that callers need no Linux header; the
// implementation checks at compile time that its lock fits.
typedef struct CRITICAL_SECTION {
    alignas(8) unsigned char opaque[16];
} CRITICAL_SECTION;

void InitializeCriticalSection(CRITICAL_SECTION* section) noexcept;
void EnterCriticalSection(CRITICAL_SECTION* section) noexcept;
void LeaveCriticalSection(CRITICAL_SECTION* section) noexcept;
void DeleteCriticalSection(CRITICAL_SECTION* section) noexcept;

// Milliseconds of CLOCK_MONOTONIC, wrapping at 32 bits.
DWORD GetTickCount(void) noexcept;
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
#define FORMAT_MESSAGE_FROM_SYSTEM    0x00001000u
#define LANG_NEUTRAL                  0x00u
#define SUBLANG_DEFAULT               0x01u
#define MAKELANGID(p, s)              ((((DWORD)(s)) << 10) | (DWORD)(p))

// System message texts for the statuses the library can produce. Writes at most size bytes
// including the terminator; returns the text length, 0 for an unknown code.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                     char* buffer, DWORD size, va_list* arguments) noexcept;

typedef DWORD (*LPTHREAD_START_ROUTINE)(void* parameter);

// Starts procedure(parameter) on a new thread named name (cut to 15 characters; may be null).
// The handle is waitable (signalled when the thread ends) and closed with CloseHandle.
HANDLE CreateNamedThread(LPTHREAD_START_ROUTINE procedure, void* parameter, size_t stackSize,
                         const char* name, DWORD* threadId) noexcept;

}  // extern "C"

// The calling thread's kernel id, cached per thread: every object lock and unlock reads it.
// The initial-exec model keeps the read a single instruction in the shared library.
extern thread_local DWORD cachedThreadId __attribute__((tls_model("initial-exec")));

inline DWORD GetCurrentThreadId(void) noexcept {
    const DWORD id = cachedThreadId;
    return id != 0 ? id : FetchCurrentThreadId();
}
