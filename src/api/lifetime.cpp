// Exported lifetime functions.
#include <mbus/mbus.h>

extern "C" uint32_t MbVersionGet(void) noexcept {
    return MbLibraryVersion;
}
