/* Resolving mbus functions through the library's private export table. */
#ifndef MBUS_LOADER_H
#define MBUS_LOADER_H

#include <mbus/mbus.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Layout: uint32_t 0x1F00; uint32_t count; count entry points (pointer-sized);
   count uint32_t name hashes in ascending order, entry i belonging to hash i. */
MB_API const void* LumbraExportTable(void) MB_NOEXCEPT;
MB_API void*       LumbraGetProcAddress(const char* name) MB_NOEXCEPT;
MB_API uint32_t    LumbraHashName(const char* name) MB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MBUS_LOADER_H */
