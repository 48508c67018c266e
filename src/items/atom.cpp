#include "items/atom.h"

#include <array>
#include <cmath>
#include <cstdio>

#include "base/coding.h"
#include "items/item_report.h"
#include "items/key_order.h"
#include "items/storage.h"
#include "items/str.h"
#include "platform/platform.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

namespace {

// Payload widths of the fixed-size types; the others have none or a string form.
uint32_t PayloadWidth(uint32_t type) {
    switch (type) {
        case MbTypeInt:
        case MbTypeUnsigned: return 4;
        case MbTypeCookie:
        case MbTypeLocalTime:
        case MbTypeReal:
        case MbTypeUtcTime: return 8;
        default: return 0;
    }
}

// "nil" for 0; otherwise the calendar fields of the value as a file time, without a time-zone
// change. A value whose file time has its top bit set does not convert: all fields are 0.
void FormatTime(char* text, size_t size, int64_t milliseconds, const char* label) {
    if (milliseconds == 0) {
        std::snprintf(text, size, "nil");
        return;
    }
    const uint64_t ticks = static_cast<uint64_t>(milliseconds) * 10000u;
    const FILETIME fileTime{LowHalf(ticks), HighHalf(ticks)};
    SYSTEMTIME fields{};
    if (!FileTimeToSystemTime(&fileTime, &fields)) fields = SYSTEMTIME{};
    std::snprintf(text, size, "%02u-%02u-%04u %02u:%02u:%02u.%04u %s", fields.wMonth, fields.wDay, fields.wYear,
                  fields.wHour, fields.wMinute, fields.wSecond, fields.wMilliseconds, label);
}

}  // namespace

void CAtom::Reset(uint32_t type) {
    if (IsBytes(type_)) string_.Drop();
    cell_.bits = 0;
    type_ = type;
}

void CAtom::SetBool(int32_t value) {
    Reset(MbTypeBool);
    cell_.bits = static_cast<uint32_t>(value);
}

void CAtom::SetCookie(uint32_t low, uint32_t high) {
    Reset(MbTypeCookie);
    cell_.bits = JoinHalves(low, high);
}

// The new content is copied before the old goes (CStr::Assign), so it may come from the atom.
bool CAtom::SetBlob(const void* bytes, uint16_t length) {
    const bool given = bytes != nullptr && length != 0;
    const bool copied = !given || string_.Assign(bytes, length);
    HoldString(MbTypeBlob, given && copied);
    return copied;
}

void CAtom::TakeBlob(CStorage& stream) {
    uint32_t length = 0;
    uint8_t* contents = stream.TakeContents(&length);
    if (contents != nullptr) string_.Adopt(reinterpret_cast<char*>(contents), length);
    HoldString(MbTypeBlob, contents != nullptr);
}

void CAtom::SetInt(int32_t value) {
    Reset(MbTypeInt);
    cell_.bits = static_cast<uint32_t>(value);
}

void CAtom::SetLocalTime(int64_t milliseconds) {
    Reset(MbTypeLocalTime);
    cell_.bits = static_cast<uint64_t>(milliseconds);
}

void CAtom::SetReal(double value) {
    Reset(MbTypeReal);
    cell_.real = value;
}

void CAtom::SetUtcTime(int64_t milliseconds) {
    Reset(MbTypeUtcTime);
    cell_.bits = static_cast<uint64_t>(milliseconds);
}

bool CAtom::SetString(const char* text) {
    const bool copied = text == nullptr || string_.Assign(text);
    HoldString(MbTypeString, text != nullptr && copied);
    return copied;
}

bool CAtom::SetString(const void* bytes, uint32_t length) {
    const bool copied = string_.Assign(bytes, length);
    HoldString(MbTypeString, copied);
    return copied;
}

void CAtom::HoldString(uint32_t type, bool held) {
    if (!held) string_.Drop();
    cell_.string = held ? &string_ : nullptr;
    type_ = type;
}

void CAtom::SetUnsigned(uint32_t value) {
    Reset(MbTypeUnsigned);
    cell_.bits = value;
}

bool CAtom::ToBool(int32_t* out) const {
    switch (type_) {
        case MbTypeBool: *out = Low(); return true;
        case MbTypeInt:
        case MbTypeUnsigned: *out = Low() != 0 ? 1 : 0; return true;
        case MbTypeReal: *out = cell_.real <= -0.5 || cell_.real >= 0.5 ? 1 : 0; return true;
        default: return false;
    }
}

// Reals round to the nearest integer with halves away from zero. The lower bound of the signed
// range is -2147483647, one above the type's minimum.
bool CAtom::ToInt(int32_t* out) const {
    switch (type_) {
        case MbTypeBool: *out = Low() != 0 ? 1 : 0; return true;
        case MbTypeInt: *out = Low(); return true;
        case MbTypeUnsigned:
            if (static_cast<uint32_t>(cell_.bits) > 2147483647u) return false;
            *out = Low();
            return true;
        case MbTypeReal: {
            const double value = cell_.real;
            if (value < 0) {
                const double rounded = std::ceil(value - 0.5);
                if (!(rounded >= -2147483647.0)) return false;
                *out = static_cast<int32_t>(rounded);
                return true;
            }
            const double rounded = std::floor(value + 0.5);
            if (!(rounded <= 2147483647.0)) return false;
            *out = static_cast<int32_t>(rounded);
            return true;
        }
        default: return false;
    }
}

bool CAtom::ToReal(double* out) const {
    switch (type_) {
        case MbTypeBool: *out = Low() != 0 ? 1.0 : 0.0; return true;
        case MbTypeInt: *out = Low(); return true;
        case MbTypeUnsigned: *out = static_cast<uint32_t>(cell_.bits); return true;
        case MbTypeReal: *out = cell_.real; return true;
        default: return false;
    }
}

bool CAtom::ToUnsigned(uint32_t* out) const {
    switch (type_) {
        case MbTypeBool: *out = Low() != 0 ? 1 : 0; return true;
        case MbTypeInt:
            if (Low() < 0) return false;
            *out = static_cast<uint32_t>(Low());
            return true;
        case MbTypeUnsigned: *out = static_cast<uint32_t>(cell_.bits); return true;
        case MbTypeReal: {
            const double value = cell_.real;
            if (value < 0.0 || std::isnan(value)) return false;
            const double rounded = std::floor(value + 0.5);
            if (!(rounded <= 4294967295.0)) return false;
            *out = static_cast<uint32_t>(rounded);
            return true;
        }
        default: return false;
    }
}

bool CAtom::Less(const CAtom* a, const CAtom* b) {
    if (a == b || b == nullptr) return false;
    if (a == nullptr) return true;
    return CompareKeys(*a, *b) < 0;
}

bool CAtom::Equals(const CAtom& a, const CAtom& b) {
    switch (a.type_) {
        case MbTypeNone: return b.type_ == MbTypeNone;
        case MbTypeBlob:
        case MbTypeString: return b.type_ == a.type_ && CStr::Equals(a.cell_.string, b.cell_.string);
        case MbTypeCookie:
        case MbTypeLocalTime:
        case MbTypeUtcTime: return b.type_ == a.type_ && b.cell_.bits == a.cell_.bits;
        case MbTypeBool: {
            int32_t value;
            return b.ToBool(&value) && value == a.Low();
        }
        case MbTypeInt: {
            int32_t value;
            return b.ToInt(&value) && value == a.Low();
        }
        case MbTypeReal: {
            double value;
            return b.ToReal(&value) && value == a.cell_.real;
        }
        case MbTypeUnsigned: {
            uint32_t value;
            return b.ToUnsigned(&value) && value == static_cast<uint32_t>(a.cell_.bits);
        }
        default: return false;
    }
}

uint16_t CAtom::RenderBytes(CStorage& stream, bool bare, const char* data, uint32_t length, bool held) {
    if (bare) return 0;
    if (held) return CStr::RenderBytes(stream, data, length, false);
    return stream.WriteText("\"\"");
}

uint16_t CAtom::Render(CStorage& stream, bool bare) {
    if (IsBytes(type_)) {
        const CStr* string = cell_.string;
        return string != nullptr ? RenderBytes(stream, bare, string->GetString(), string->Length(), true)
                                 : RenderBytes(stream, bare, nullptr, 0, false);
    }
    if (bare) return 0;
    char text[256];
    switch (type_) {
        case MbTypeNone: return stream.WriteText("None");
        case MbTypeBool: return stream.WriteText(Low() != 0 ? "True" : "False");
        case MbTypeCookie:
            std::snprintf(text, sizeof text, "%08X-%08X", HighHalf(cell_.bits), LowHalf(cell_.bits));
            break;
        case MbTypeInt: std::snprintf(text, sizeof text, "%d", Low()); break;
        case MbTypeReal: std::snprintf(text, sizeof text, "%g", cell_.real); break;
        case MbTypeUnsigned: std::snprintf(text, sizeof text, "%u", static_cast<unsigned>(cell_.bits)); break;
        case MbTypeLocalTime: FormatTime(text, sizeof text, static_cast<int64_t>(cell_.bits), "local"); break;
        case MbTypeUtcTime: FormatTime(text, sizeof text, static_cast<int64_t>(cell_.bits), "UTC"); break;
        default: std::snprintf(text, sizeof text, "(unknown atom type 0x%02X)", type_); break;
    }
    return stream.WriteText(text);
}

// On a stream that is not open for writing the letter alone is tried, so the failure is
// reported for that one byte.
uint16_t CAtom::WriteBytes(CStorage& stream, uint32_t type, const char* data, uint32_t length, bool held) {
    const uint8_t letter = static_cast<uint8_t>(kTypeLetters[type]);
    if (!stream.IsWriting()) return stream.WriteByte(letter) ? 1 : 0;
    if (!stream.WriteByte(letter)) return 0;
    if (!held) {
        const uint8_t none[2] = {0, 0};
        return static_cast<uint16_t>(1 + stream.WriteBytes(none, 2));
    }
    return static_cast<uint16_t>(1 + CStr::WriteBytes(stream, data, length));
}

// The letter and a fixed payload go out in one append, as the letter alone does on a stream
// that is not open for writing.
uint16_t CAtom::Write(CStorage& stream) {
    if (IsBytes(type_)) {
        const CStr* string = cell_.string;
        return string != nullptr ? WriteBytes(stream, type_, string->GetString(), string->Length(), true)
                                 : WriteBytes(stream, type_, nullptr, 0, false);
    }
    if (type_ == MbTypeUnknown || type_ >= kTypeCount) return 0;
    const uint8_t letter = type_ == MbTypeBool && Low() != 0 ? 'B' : static_cast<uint8_t>(kTypeLetters[type_]);
    if (!stream.IsWriting()) return stream.WriteByte(letter) ? 1 : 0;
    if (type_ >= MbTypeItem) {
        if (!stream.WriteByte(letter)) return 0;
        ReportItemError("unknown atom type written to storage (0x%02X)", letter);
        return 1;
    }
    // The payload is the low `width` bytes of the cell.
    uint8_t bytes[9] = {letter};
    EncodeFixed64(bytes + 1, cell_.bits);
    return stream.WriteBytes(bytes, static_cast<uint16_t>(1 + PayloadWidth(type_)));
}

uint32_t CAtom::TypeOfLetter(uint8_t letter) {
    // Every byte's type code, from the letters: one load per atom read.
    static constexpr auto kTypes = [] {
        std::array<uint8_t, 256> types{};
        for (uint32_t type = 1; type < kTypeCount; ++type) types[static_cast<uint8_t>(kTypeLetters[type])] = type;
        types['B'] = MbTypeBool;
        return types;
    }();
    return kTypes[letter];
}

uint16_t CAtom::Read(CStorage& stream) {
    uint8_t letter;
    if (!stream.ReadByte(&letter)) return 0;
    const uint32_t type = TypeOfLetter(letter);
    if (IsBytes(type)) {
        type_ = type;
        cell_.string = &string_;
        return static_cast<uint16_t>(1 + string_.Read(stream));
    }
    if (type == MbTypeUnknown || type >= MbTypeItem) {
        Reset(type_);
        return 1;
    }
    Reset(type);
    if (type == MbTypeBool) cell_.bits = letter != 'b' ? 1 : 0;
    const uint32_t width = PayloadWidth(type);
    if (width == 0) return 1;
    // The bytes a short stream does not hold stay 0.
    uint8_t payload[8] = {};
    const uint16_t read = stream.ReadBytes(payload, static_cast<uint16_t>(width));
    cell_.bits = DecodeFixed64(payload);
    return static_cast<uint16_t>(1 + read);
}
