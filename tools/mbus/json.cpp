// Rendering items as JSON, with an explicit stack of the lists and maps being written.
#include "json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "tool.h"

namespace {

// The length of the valid UTF-8 sequence at `text`, or 0 when none starts there: no overlong
// forms, no surrogates, nothing above U+10FFFF.
size_t Utf8Length(const unsigned char* text, size_t left) {
    const unsigned char lead = text[0];
    const size_t length = lead < 0x80                    ? 1
                          : lead >= 0xC2 && lead <= 0xDF ? 2
                          : lead >= 0xE0 && lead <= 0xEF ? 3
                          : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                         : 0;
    if (length == 0 || length > left) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) return 0;
    }
    if ((lead == 0xE0 && text[1] < 0xA0) || (lead == 0xED && text[1] > 0x9F) || (lead == 0xF0 && text[1] < 0x90) ||
        (lead == 0xF4 && text[1] > 0x8F)) {
        return 0;
    }
    return length;
}

// The bytes in base64 (with padding) as a JSON string.
std::string Base64String(const unsigned char* bytes, size_t length) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "\"";
    for (size_t at = 0; at < length; at += 3) {
        const uint32_t group = static_cast<uint32_t>(bytes[at]) << 16 |
                               (at + 1 < length ? static_cast<uint32_t>(bytes[at + 1]) << 8 : 0) |
                               (at + 2 < length ? bytes[at + 2] : 0);
        out += kDigits[group >> 18 & 63];
        out += kDigits[group >> 12 & 63];
        out += at + 1 < length ? kDigits[group >> 6 & 63] : '=';
        out += at + 2 < length ? kDigits[group & 63] : '=';
    }
    return out + '"';
}

// The shortest of 15, 16 or 17 significant digits that reads back as the same double.
std::string RealJson(double value) {
    if (std::isnan(value)) return "\"NaN\"";
    if (std::isinf(value)) return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    char text[32];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(text, sizeof text, "%.*g", digits, value);
        if (std::strtod(text, nullptr) == value) break;
    }
    return text;
}

std::string TimeJson(MbItem item) {
    int32_t utc = 0;
    MbSystemTime time{};
    if (MbAtomGetSystemTime(item, &utc, &time) == MbResultOk) {
        char text[64];
        std::snprintf(text, sizeof text, "\"%04u-%02u-%02uT%02u:%02u:%02u.%03u%s\"", time.wYear, time.wMonth, time.wDay,
                      time.wHour, time.wMinute, time.wSecond, time.wMilliseconds, utc != 0 ? "Z" : "");
        return text;
    }
    int64_t milliseconds = 0;
    MbAtomGetTime(item, &utc, &milliseconds);
    return std::to_string(milliseconds);
}

// A Blob or String without bytes gives MbResultInvalid and stands for the empty value.
std::string AtomJson(MbItem item, uint32_t type) {
    int32_t whole = 0;
    uint32_t positive = 0;
    uint64_t cookie = 0;
    double real = 0;
    const void* bytes = nullptr;
    uint16_t length = 0;
    switch (type) {
        case MbTypeBool: MbAtomGetBool(item, &whole); return whole != 0 ? "true" : "false";
        case MbTypeInt: MbAtomGetInt(item, &whole); return std::to_string(whole);
        case MbTypeUnsigned: MbAtomGetUnsigned(item, &positive); return std::to_string(positive);
        case MbTypeReal: MbAtomGetReal(item, &real); return RealJson(real);
        case MbTypeLocalTime:
        case MbTypeUtcTime: return TimeJson(item);
        case MbTypeString: return JsonString(StringOf(item));
        case MbTypeCookie: {
            MbAtomGetCookie(item, &cookie);
            char text[24];
            std::snprintf(text, sizeof text, "\"%08X-%08X\"", static_cast<unsigned>(cookie >> 32),
                          static_cast<unsigned>(cookie & 0xFFFFFFFFu));
            return text;
        }
        case MbTypeBlob:
            MbAtomGetBlob(item, &bytes, &length);
            return Base64String(static_cast<const unsigned char*>(bytes), length);
        default: return "null";
    }
}

// A list or map being written: the entries written so far, of the count it had when opened.
struct CLevel {
    CLevel(MbItem item, bool isMap) : container(item), map(isMap) { MbItemGetCount(item, &count); }
    CItemRef container;
    const bool map;
    uint16_t count = 0;
    uint16_t next = 0;
};

// Writes an atom, or opens a list or map: writes its bracket and pushes its level, which takes a
// reference of its own.
void OpenValue(MbItem item, std::deque<CLevel>& levels, std::string& out) {
    uint32_t type = MbTypeUnknown;
    MbItemGetType(item, &type);
    if (type != MbTypeList && type != MbTypeMap) {
        out += AtomJson(item, type);
        return;
    }
    MbHandleAddRef(item);
    levels.emplace_back(item, type == MbTypeMap);
    out += type == MbTypeMap ? '{' : '[';
}

}  // namespace

std::string JsonString(const std::string& bytes) {
    const auto* text = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string out = "\"";
    for (size_t at = 0; at < bytes.size();) {
        const unsigned char byte = text[at];
        const size_t length = Utf8Length(text + at, bytes.size() - at);
        char escape[8];
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\udc%02x", byte);
            out += escape;
            ++at;
            continue;
        }
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20) {
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out.append(bytes, at, length);
        }
        at += length;
    }
    return out + "\"";
}

std::string ItemJson(MbItem item) {
    std::string out;
    std::deque<CLevel> levels;
    OpenValue(item, levels, out);
    while (!levels.empty()) {
        CLevel& level = levels.back();
        if (level.next == level.count) {
            out += level.map ? '}' : ']';
            levels.pop_back();
            continue;
        }
        if (level.next > 0) out += ',';
        CItemRef element;
        if (level.map) {
            CItemRef key;
            MbMapGetKeyAt(level.container.Get(), level.next, key.Out());
            uint32_t type = MbTypeUnknown;
            MbItemGetType(key.Get(), &type);
            const std::string name = AtomJson(key.Get(), type);
            out += (name[0] == '"' ? name : JsonString(name)) + ':';
            MbItemGet(level.container.Get(), key.Get(), element.Out());
        } else {
            MbItemGetAt(level.container.Get(), level.next, element.Out());
        }
        ++level.next;
        OpenValue(element.Get(), levels, out);
    }
    return out;
}
