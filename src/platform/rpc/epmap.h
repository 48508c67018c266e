// The endpoint map's entries as abstract socket names, "mbus/epmap/" + interface UUID + "/" +
// escaped annotation. The escape keeps the name one line of /proc/net/unix and unambiguous:
// NUL, newline and '%' become "%XX" (upper-case hex); every other byte stands as it is. (Hex
// for every byte would not fit: a socket name holds at most 107 bytes.)
#pragma once

#include "platform/rpc/rpc.h"

#include <optional>
#include <string>
#include <string_view>

std::string EndpointMapUuidText(const UUID& uuid);
std::optional<UUID> EndpointMapUuidParse(std::string_view text);
std::string EndpointMapEscape(std::string_view annotation);
std::optional<std::string> EndpointMapUnescape(std::string_view escaped);

struct CEndpointMapEntry {
    UUID uuid;
    std::string annotation;
};

// The entry named by one line of /proc/net/unix, if the line is one.
std::optional<CEndpointMapEntry> EndpointMapParseLine(std::string_view line);
