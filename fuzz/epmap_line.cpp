// Feeds arbitrary lines to the /proc/net/unix line reader of the endpoint map. An accepted
// entry's annotation must escape back to the name it was read from.
#include "platform/rpc/epmap.h"

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::optional<CEndpointMapEntry> entry = EndpointMapParseLine(line);
    if (entry) {
        const std::optional<std::string> again = EndpointMapUnescape(EndpointMapEscape(entry->annotation));
        if (!again || *again != entry->annotation) __builtin_trap();
        if (!EndpointMapUuidParse(EndpointMapUuidText(entry->uuid))) __builtin_trap();
    }
    return 0;
}
