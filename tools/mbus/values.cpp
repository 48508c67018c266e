// Values from the command line: numbers, cookies, times, and items built from a format and words.
#include "values.h"

#include <strings.h>

#include <charconv>
#include <cstring>
#include <deque>

#include "tool.h"

namespace {

// What one character of a build format is.
enum class CCode { kSkip, kValue, kNone, kOpen, kClose, kBad };

bool OneOf(const char* codes, char code) {
    return code != '\0' && std::strchr(codes, code) != nullptr;
}

CCode Classify(char code) {
    if (OneOf(" \t\n\v\f\r,:", code)) return CCode::kSkip;
    if (OneOf("BbciurstgTG", code)) return CCode::kValue;
    if (code == 'N') return CCode::kNone;
    if (OneOf("[{", code)) return CCode::kOpen;
    if (OneOf("]}", code)) return CCode::kClose;
    return CCode::kBad;
}

// "format 'F', character N: what", or without the character when `at` is npos.
std::string FormatFault(const std::string& format, size_t at, const std::string& what) {
    return "format '" + format + "'" + (at != std::string::npos ? ", character " + std::to_string(at + 1) : "") + ": " +
           what;
}

std::string BadCodeReason(char code) {
    if (code == 'H') return "the code H takes an item handle, which a command line cannot give";
    return std::string("'") + code + "' is no format code";
}

// The whole of `text` as a number of type T, read by std::from_chars (no blanks, no '+') with
// the `base` given for an integer.
template <class T, class... Base>
bool ParseWhole(const std::string& text, T* value, Base... base) {
    const char* end = text.data() + text.size();
    const auto [stop, failure] = std::from_chars(text.data(), end, *value, base...);
    return !text.empty() && failure == std::errc() && stop == end;
}

// Exactly `count` decimal digits at `*at`, which then moves past them.
bool ReadDigits(const char*& at, int count, uint16_t* value) {
    *value = 0;
    for (int i = 0; i < count; ++i, ++at) {
        if (*at < '0' || *at > '9') return false;
        *value = static_cast<uint16_t>(*value * 10 + (*at - '0'));
    }
    return true;
}

// YYYY-MM-DDTHH:MM:SS (or a blank for the T), then an optional fraction of up to three digits,
// then "Z" for a UTC time. The library checks the fields' ranges when it makes the atom.
bool ParseCalendar(const std::string& text, bool utc, MbSystemTime* time) {
    const char* at = text.c_str();
    if (!ReadDigits(at, 4, &time->wYear) || *at++ != '-' || !ReadDigits(at, 2, &time->wMonth) || *at++ != '-' ||
        !ReadDigits(at, 2, &time->wDay) || (*at != 'T' && *at != ' ') || !ReadDigits(++at, 2, &time->wHour) ||
        *at++ != ':' || !ReadDigits(at, 2, &time->wMinute) || *at++ != ':' || !ReadDigits(at, 2, &time->wSecond)) {
        return false;
    }
    if (*at == '.') {
        int digits = 0;
        for (++at; digits < 3 && *at >= '0' && *at <= '9'; ++digits, ++at) {
            time->wMilliseconds = static_cast<uint16_t>(time->wMilliseconds * 10 + (*at - '0'));
        }
        if (digits == 0) return false;
        for (; digits < 3; ++digits) time->wMilliseconds = static_cast<uint16_t>(time->wMilliseconds * 10);
    }
    if (utc && *at == 'Z') ++at;
    return *at == '\0';
}

// A cookie as its text form shows it, HIGH-LOW with 1 to 8 hexadecimal digits in each half
// ("00000001-00000002"), or as one decimal number.
bool ParseCookie(const std::string& text, uint64_t* value) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos) return ParseWhole(text, value, 10);
    uint32_t high = 0;
    uint32_t low = 0;
    const std::string highText = text.substr(0, dash);
    const std::string lowText = text.substr(dash + 1);
    if (highText.size() > 8 || lowText.size() > 8 || !ParseWhole(highText, &high, 16) ||
        !ParseWhole(lowText, &low, 16)) {
        return false;
    }
    *value = static_cast<uint64_t>(high) << 32 | low;
    return true;
}

// A word as messages quote it: at most 40 characters of it.
std::string Quoted(const std::string& word) {
    return "'" + (word.size() > 40 ? word.substr(0, 37) + "..." : word) + "'";
}

MbItem NewTime(const std::string& word, bool utc, std::string* why) {
    int64_t milliseconds = 0;
    if (ParseWhole(word, &milliseconds)) return MbAtomNewTime(utc ? 1 : 0, milliseconds);
    MbSystemTime time{};
    MbItem made = ParseCalendar(word, utc, &time) ? MbAtomNewSystemTime(utc ? 1 : 0, &time) : nullptr;
    if (made == nullptr) {
        *why = Quoted(word) + " is no " + (utc ? "UTC" : "local") + " time: YYYY-MM-DDTHH:MM:SS[.mmm]" +
               (utc ? "[Z]" : "") + " or milliseconds since 1601";
    }
    return made;
}

// Blobs and Strings hold at most 65,535 bytes.
MbItem NewBytes(const std::string& word, bool blob, std::string* why) {
    if (word.size() > 65535) {
        *why = Quoted(word) + " has " + std::to_string(word.size()) + " bytes; a value holds at most 65535";
        return nullptr;
    }
    return blob ? MbAtomNewBlob(word.data(), static_cast<uint32_t>(word.size())) : MbAtomNewString(word.c_str());
}

// A list or map still open while the format is read, with a map's key waiting for its value.
struct COpen {
    explicit COpen(bool isMap) : map(isMap), container(isMap ? MbMapNew() : MbListNew()) {}
    const bool map;
    CItemRef container;
    CItemRef key;
};

}  // namespace

bool ParseNumber(const std::string& text, unsigned long minimum, unsigned long maximum, unsigned long* value) {
    return ParseWhole(text, value) && *value >= minimum && *value <= maximum;
}

MbItem WordItem(char code, const std::string& word, std::string* why) {
    int32_t whole = 0;
    uint32_t positive = 0;
    uint64_t cookie = 0;
    double real = 0;
    switch (code) {
        case 'B': return NewBytes(word, true, why);
        case 's': return NewBytes(word, false, why);
        case 't':
        case 'T': return NewTime(word, false, why);
        case 'g':
        case 'G': return NewTime(word, true, why);
        case 'b':
            if (word == "1" || strcasecmp(word.c_str(), "true") == 0) return MbAtomNewBool(1);
            if (word == "0" || strcasecmp(word.c_str(), "false") == 0) return MbAtomNewBool(0);
            *why = Quoted(word) + " is no Bool: true, false, 1 or 0";
            return nullptr;
        case 'c':
            if (ParseCookie(word, &cookie))
                return MbAtomNewCookie(static_cast<uint32_t>(cookie), static_cast<uint32_t>(cookie >> 32));
            *why = Quoted(word) + " is no Cookie: HIGH-LOW in hexadecimal (00000001-00000002) or a decimal number";
            return nullptr;
        case 'i':
            if (ParseWhole(word, &whole)) return MbAtomNewInt(whole);
            *why = Quoted(word) + " is no Int: a whole number from -2147483648 to 2147483647";
            return nullptr;
        case 'u':
            if (ParseWhole(word, &positive)) return MbAtomNewUnsigned(positive);
            *why = Quoted(word) + " is no Unsigned: a whole number from 0 to 4294967295";
            return nullptr;
        default:
            if (ParseWhole(word, &real)) return MbAtomNewReal(real);
            *why = Quoted(word) + " is no Real: a decimal number such as 21.5 or 1e-3";
            return nullptr;
    }
}

std::optional<size_t> FormatValueCount(const std::string& format, std::string* error) {
    size_t count = 0;
    for (size_t at = 0; at < format.size(); ++at) {
        const CCode code = Classify(format[at]);
        if (code == CCode::kBad) {
            *error = FormatFault(format, at, BadCodeReason(format[at]));
            return std::nullopt;
        }
        count += code == CCode::kValue;
    }
    return count;
}

// Places each item as MbBuild does: the first with no container open is the result, in a list
// it is appended, in a map items alternate between key and value.
MbItem BuildItem(const std::string& format, const CArgs& values, std::string* error) {
    constexpr size_t kMaxOpen = 16;
    std::deque<COpen> open;
    CItemRef result;
    size_t used = 0;
    const auto fail = [&](size_t at, const std::string& what) -> MbItem {
        *error = FormatFault(format, at, what);
        return nullptr;
    };
    for (size_t at = 0; at < format.size(); ++at) {
        const char code = format[at];
        CItemRef made;
        switch (Classify(code)) {
            case CCode::kSkip: continue;
            case CCode::kBad: return fail(at, BadCodeReason(code));
            case CCode::kNone: made.Reset(MbAtomNewNone()); break;
            case CCode::kValue: {
                if (used == values.size()) return fail(at, std::string("no value left for '") + code + "'");
                std::string why;
                made.Reset(WordItem(code, values[used], &why));
                if (made.Get() == nullptr) return fail(at, why);
                ++used;
                break;
            }
            case CCode::kOpen:
                if (open.size() == kMaxOpen) return fail(at, "more than 16 lists and maps inside each other");
                open.emplace_back(code == '{');
                continue;
            case CCode::kClose:
                if (open.empty() || open.back().map != (code == '}')) {
                    return fail(at, std::string("'") + code + "' closes no open " + (code == '}' ? "map" : "list"));
                }
                if (open.back().key.Get() != nullptr) return fail(at, "the map's last key has no value");
                made.Reset(open.back().container.Release());
                open.pop_back();
                break;
        }
        if (made.Get() == nullptr) return fail(at, "out of memory");
        if (open.empty()) {
            if (result.Get() != nullptr) return fail(at, "a second item; the format describes one item");
            result.Reset(made.Release());
        } else if (!open.back().map) {
            if (MbListAppend(open.back().container.Get(), made.Get(), nullptr) != MbResultOk) {
                return fail(at, "the item cannot be added to its list");
            }
        } else if (open.back().key.Get() == nullptr) {
            uint32_t type = MbTypeUnknown;
            MbItemGetType(made.Get(), &type);
            if (type == MbTypeList || type == MbTypeMap) return fail(at, "a list or map cannot be a map key");
            open.back().key.Reset(made.Release());
        } else {
            if (MbItemSet(open.back().container.Get(), open.back().key.Get(), made.Get()) != MbResultOk) {
                return fail(at, "the entry cannot be set in its map");
            }
            open.back().key.Reset();
        }
    }
    if (!open.empty())
        return fail(std::string::npos, std::string("a ") + (open.back().map ? "map" : "list") + " is not closed");
    if (result.Get() == nullptr) return fail(std::string::npos, "it describes no item");
    if (used != values.size()) return fail(std::string::npos, "more values than it takes");
    return result.Release();
}

bool GivenWord(char code, const std::string& word, CItemRef* item) {
    std::string error;
    item->Reset(WordItem(code, word, &error));
    if (item->Get() != nullptr) return true;
    UsageError(error);
    return false;
}

bool GivenItem(const CCommandLine& line, size_t position, CItemRef* item) {
    const bool word = line.args.size() > position;
    if (word && line.format) {
        UsageError("give the value as a word or by -f, not both");
        return false;
    }
    if (word) return GivenWord('s', line.args[position], item);
    if (!line.format) return true;
    std::string error;
    item->Reset(BuildItem(*line.format, line.values, &error));
    if (item->Get() != nullptr) return true;
    UsageError(error);
    return false;
}
