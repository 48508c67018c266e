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

/* attributes and name must be NULL */
MB_API HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState, const char* name) MB_NOEXCEPT;
MB_API BOOL   SetEvent(HANDLE event) MB_NOEXCEPT;
MB_API BOOL   ResetEvent(HANDLE event) MB_NOEXCEPT;
MB_API DWORD  WaitForSingleObject(HANDLE handle, DWORD milliseconds) MB_NOEXCEPT;
MB_API DWORD  WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds) MB_NOEXCEPT;
MB_API BOOL   CloseHandle(HANDLE handle) MB_NOEXCEPT;
/* Linux extra: a descriptor that polls readable while the event is signalled (ResetEvent, or a
   wait that takes an auto-reset event, clears it); one per event, owned by the event. Poll it,
   never read or close it: a read fails and changes nothing. */
MB_API int    EventGetFd(HANDLE event) MB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MBUS_WIN32_H */
