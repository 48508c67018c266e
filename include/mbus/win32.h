/* The Win32 event and wait subset that callers of mbus use on Linux. */
#ifndef MBUS_WIN32_H
#define MBUS_WIN32_H

#include <mbus/mbus.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Each name is declared only when no earlier header declared it as a macro; an earlier typedef
   of the same type is no conflict in C11 and C++. */
#ifndef HANDLE
typedef void* HANDLE;
#endif
#ifndef BOOL
typedef int BOOL; /* TRUE 1, FALSE 0 */
#endif
#ifndef DWORD
typedef uint32_t DWORD;
#endif
#ifndef SYSTEMTIME
typedef MbSystemTime SYSTEMTIME;
#endif

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif
#ifndef WAIT_OBJECT_0
#define WAIT_OBJECT_0 0u
#endif
#ifndef WAIT_TIMEOUT
#define WAIT_TIMEOUT 258u
#endif
#ifndef WAIT_FAILED
#define WAIT_FAILED 0xFFFFFFFFu
#endif

/* A new event: manual-reset (stays signalled until ResetEvent) or auto-reset (a wait that
   reports it resets it), signalled at first when initialState is TRUE. attributes and name
   must be NULL. NULL on failure; given back with CloseHandle. */
MB_API HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState, const char* name) MB_NOEXCEPT;
/* Signals the event, waking its waiters. FALSE for a handle that is not an event. */
MB_API BOOL   SetEvent(HANDLE event) MB_NOEXCEPT;
/* Clears the event's signal. FALSE for a handle that is not an event. */
MB_API BOOL   ResetEvent(HANDLE event) MB_NOEXCEPT;
/* Waits until the event (or thread) is signalled, at most milliseconds (INFINITE: no limit).
   WAIT_OBJECT_0, WAIT_TIMEOUT, or WAIT_FAILED for an unknown handle. A wait that does not end
   at once may spin up to 50 us (yielding the processor between looks) before it sleeps, while
   recent waits on the handle were signalled within 100 us and more than one processor is
   usable. */
MB_API DWORD  WaitForSingleObject(HANDLE handle, DWORD milliseconds) MB_NOEXCEPT;
/* Waits until one of count (1 to 64, all different) handles is signalled and returns
   WAIT_OBJECT_0 + the index of the first signalled in list order; waitAll must be FALSE.
   WAIT_TIMEOUT, or WAIT_FAILED for bad arguments. */
MB_API DWORD  WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) MB_NOEXCEPT;
/* Closes the handle and the descriptor EventGetFd gave for it. FALSE for an unknown handle. */
MB_API BOOL   CloseHandle(HANDLE handle) MB_NOEXCEPT;
/* Linux extra, for poll(), select() or epoll loops: a descriptor that polls readable exactly
   while the event is signalled. SetEvent (the library's, after handled messages) makes it
   readable; ResetEvent, or a wait that reports an auto-reset event (WaitForSingleObject(event,
   0) after poll() woke), makes it unreadable. Reading it is harmless: read() fails and changes
   nothing. One descriptor per event, owned by the event: do not close it. -1 for a handle that
   is not an event or when no descriptor can be made. */
MB_API int    EventGetFd(HANDLE event) MB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MBUS_WIN32_H */
