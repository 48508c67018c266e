/* Another header got there first: every name that mbus/win32.h provides is already defined,
   as a typedef of the same type or, with PREDEFINED_AS_MACROS, as a macro. Valid C and C++. */
#include <stddef.h>
#include <stdint.h>

#ifdef PREDEFINED_AS_MACROS
#define BOOL       int
#define HANDLE     void*
#define DWORD      unsigned int
#define SYSTEMTIME struct MbSystemTime
#else
typedef int      BOOL;
typedef void*    HANDLE;
typedef uint32_t DWORD;
#endif
#define TRUE          1
#define FALSE         0
#define INFINITE      0xFFFFFFFF
#define WAIT_OBJECT_0 0
#define WAIT_TIMEOUT  258
#define WAIT_FAILED   ((DWORD)-1)

#include <mbus/win32.h>

int main(void) {
    SYSTEMTIME time = {2024, 1, 0, 1, 0, 0, 0, 0};
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, NULL);
    BOOL ok = WaitForSingleObject(event, 0) == WAIT_TIMEOUT && time.wYear == 2024;
    return CloseHandle(event) && ok ? 0 : 1;
}
