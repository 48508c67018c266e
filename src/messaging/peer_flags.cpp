#include "messaging/peer_flags.h"

namespace peer {

const char* FlagsText(uint32_t flags) {
    static const char* const kTexts[8] = {
        "", "Failed", "Local", "Local|Failed", "Remote", "Remote|Failed", "Remote|Local", "Remote|Local|Failed",
    };
    return kTexts[flags & 7];
}

}  // namespace peer
