#include "platform/rpc/epmap.h"

#include "platform/rpc/socket.h"

#include <cstdio>

namespace {

constexpr char kHexUpper[] = "0123456789ABCDEF";
constexpr size_t kUuidTextSize = 36;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads the 2*count hex digits at text[*at] as a big-endian number.
bool ReadHex(std::string_view text, size_t* at, int count, uint64_t* value) {
    *value = 0;
    for (int i = 0; i < 2 * count; ++i, ++*at) {
        const int digit = *at < text.size() ? HexValue(text[*at]) : -1;
        if (digit < 0) return false;
        *value = (*value << 4) | static_cast<uint64_t>(digit);
    }
    return true;
}

}  // namespace

std::string EndpointMapUuidText(const UUID& uuid) {
    char text[kUuidTextSize + 1];
    std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", uuid.Data1, uuid.Data2,
                  uuid.Data3, uuid.Data4[0], uuid.Data4[1], uuid.Data4[2], uuid.Data4[3], uuid.Data4[4], uuid.Data4[5],
                  uuid.Data4[6], uuid.Data4[7]);
    return text;
}

std::optional<UUID> EndpointMapUuidParse(std::string_view text) {
    if (text.size() != kUuidTextSize) return std::nullopt;
    UUID uuid{};
    size_t at = 0;
    uint64_t value;
    auto dash = [&]() { return text[at++] == '-'; };
    if (!ReadHex(text, &at, 4, &value) || !dash()) return std::nullopt;
    uuid.Data1 = static_cast<uint32_t>(value);
    if (!ReadHex(text, &at, 2, &value) || !dash()) return std::nullopt;
    uuid.Data2 = static_cast<uint16_t>(value);
    if (!ReadHex(text, &at, 2, &value) || !dash()) return std::nullopt;
    uuid.Data3 = static_cast<uint16_t>(value);
    for (int i = 0; i < 8; ++i) {
        if (i == 2 && !dash()) return std::nullopt;
        if (!ReadHex(text, &at, 1, &value)) return std::nullopt;
        uuid.Data4[i] = static_cast<uint8_t>(value);
    }
    return uuid;
}

std::string EndpointMapEscape(std::string_view annotation) {
    std::string escaped;
    for (char c : annotation) {
        if (c == '\0' || c == '\n' || c == '%') {
            const auto byte = static_cast<unsigned char>(c);
            escaped += '%';
            escaped += kHexUpper[byte >> 4];
            escaped += kHexUpper[byte & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::optional<std::string> EndpointMapUnescape(std::string_view escaped) {
    std::string annotation;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            annotation += escaped[i];
            continue;
        }
        const int high = i + 1 < escaped.size() ? HexValue(escaped[i + 1]) : -1;
        const int low = i + 2 < escaped.size() ? HexValue(escaped[i + 2]) : -1;
        if (high < 0 || low < 0) return std::nullopt;
        annotation += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return annotation;
}

std::optional<CEndpointMapEntry> EndpointMapParseLine(std::string_view line) {
    // "Num RefCount Protocol Flags Type St Inode Path": the path starts after the seventh field
    // and its one separating blank; an abstract name shows its leading NUL as '@'.
    size_t at = 0;
    for (int field = 0; field < 7; ++field) {
        while (at < line.size() && line[at] == ' ') ++at;
        if (at == line.size()) return std::nullopt;
        while (at < line.size() && line[at] != ' ') ++at;
    }
    if (at == line.size()) return std::nullopt;
    std::string_view path = line.substr(at + 1);
    if (path.empty() || path[0] != '@') return std::nullopt;
    path.remove_prefix(1);
    if (path.substr(0, kEndpointMapPrefix.size()) != kEndpointMapPrefix) return std::nullopt;
    path.remove_prefix(kEndpointMapPrefix.size());
    if (path.size() < kUuidTextSize + 1 || path[kUuidTextSize] != '/') return std::nullopt;
    std::optional<UUID> uuid = EndpointMapUuidParse(path.substr(0, kUuidTextSize));
    std::optional<std::string> annotation = EndpointMapUnescape(path.substr(kUuidTextSize + 1));
    if (!uuid || !annotation) return std::nullopt;
    return CEndpointMapEntry{*uuid, std::move(*annotation)};
}
