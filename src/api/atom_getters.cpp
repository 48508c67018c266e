// Exported atom getters and MbItemGetType. Every getter clears its out-arguments before it tests
// anything, so they hold zero, null or an empty text whenever the result is not MbResultOk.
// A handle that is null, unknown, not an item, or an item without atom gives MbResultInvalid;
// an atom of another type gives MbResultWrongType.
#include <mbus/mbus.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "api/guard.h"
#include "api/out_args.h"
#include "items/atom_values.h"
#include "items/item_handles.h"
#include "items/str.h"

namespace {

// The bytes of a Blob or String atom of the wanted type: a Blob without bytes and a String
// without text have none and give MbResultInvalid.
MbResult HeldBytes(MbItem handle, uint32_t type, const char** bytes, uint32_t* length) {
    const CAtom* atom = ResolveAtom(handle);
    if (atom == nullptr) return MbResultInvalid;
    if (atom->GetType() != type) return MbResultWrongType;
    const CStr* string = atom->HeldString();
    *bytes = string != nullptr ? string->GetString(length) : nullptr;
    return *bytes != nullptr ? MbResultOk : MbResultInvalid;
}

// A heap copy of length bytes followed by `extra` zero bytes, for the caller to free.
char* Duplicate(const char* bytes, uint32_t length, uint32_t extra) {
    char* copy = static_cast<char*>(std::malloc(length + extra));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, bytes, length);
    std::memset(copy + length, 0, extra);
    return copy;
}

template <class T, bool (CAtom::*Convert)(T*) const>
MbResult Converted(MbItem handle, T* value) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(value);
        if (value == nullptr) return MbResultInvalid;
        const CAtom* atom = ResolveAtom(handle);
        if (atom == nullptr) return MbResultInvalid;
        return (atom->*Convert)(value) ? MbResultOk : MbResultWrongType;
    });
}

// The time of a LocalTime or UtcTime atom; *utc (when given) is 1 for UtcTime only.
MbResult HeldTime(MbItem handle, int32_t* utc, int64_t* milliseconds) {
    const CAtom* atom = ResolveAtom(handle);
    if (atom == nullptr) return MbResultInvalid;
    switch (atom->GetType()) {
        case MbTypeLocalTime: *milliseconds = atom->GetLocalTime(); return MbResultOk;
        case MbTypeUtcTime:
            *milliseconds = atom->GetUtcTime();
            if (utc != nullptr) *utc = 1;
            return MbResultOk;
        default: return MbResultWrongType;
    }
}

}  // namespace

extern "C" MbResult MbAtomGetBlob(MbItem item, const void** data, uint16_t* length) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(data);
        ClearOut(length);
        if (data == nullptr || length == nullptr) return MbResultInvalid;
        const char* bytes = nullptr;
        uint32_t size = 0;
        const MbResult result = HeldBytes(item, MbTypeBlob, &bytes, &size);
        if (result != MbResultOk) return result;
        *data = bytes;
        *length = Length16(size);
        return MbResultOk;
    });
}

extern "C" MbResult MbAtomCopyBlob(MbItem item, void* buffer, uint16_t* count, uint16_t size) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(count);
        if (buffer == nullptr || size == 0) return MbResultInvalid;
        const char* bytes = nullptr;
        uint32_t length = 0;
        const MbResult result = HeldBytes(item, MbTypeBlob, &bytes, &length);
        if (result != MbResultOk) return result;
        const uint32_t copied = std::min<uint32_t>(length, size);
        std::memcpy(buffer, bytes, copied);
        if (count != nullptr) *count = static_cast<uint16_t>(copied);
        return length > size ? MbResultTruncated : MbResultOk;
    });
}

extern "C" MbResult MbAtomDupBlob(MbItem item, void** buffer, uint16_t* length) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(buffer);
        ClearOut(length);
        if (buffer == nullptr || length == nullptr) return MbResultInvalid;
        const char* bytes = nullptr;
        uint32_t size = 0;
        const MbResult result = HeldBytes(item, MbTypeBlob, &bytes, &size);
        if (result != MbResultOk) return result;
        *buffer = Duplicate(bytes, size, 0);
        if (*buffer == nullptr) return MbResultFailed;
        *length = Length16(size);
        return MbResultOk;
    });
}

extern "C" MbResult MbAtomGetString(MbItem item, const char** text, uint16_t* length) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(text);
        ClearOut(length);
        if (text == nullptr) return MbResultInvalid;
        uint32_t size = 0;
        const MbResult result = HeldBytes(item, MbTypeString, text, &size);
        if (result != MbResultOk) return result;
        if (length != nullptr) *length = Length16(size);
        return MbResultOk;
    });
}

// The length out gets the text's whole length, not the count copied, so a caller can size a
// second buffer after MbResultTruncated.
extern "C" MbResult MbAtomCopyString(MbItem item, char* buffer, uint16_t* length, uint16_t size) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(length);
        if (buffer == nullptr || size == 0) return MbResultInvalid;
        buffer[0] = '\0';
        const char* text = nullptr;
        uint32_t textLength = 0;
        const MbResult result = HeldBytes(item, MbTypeString, &text, &textLength);
        if (result != MbResultOk) return result;
        const uint32_t copied = std::min<uint32_t>(textLength, size - 1u);
        std::memcpy(buffer, text, copied);
        buffer[copied] = '\0';
        if (length != nullptr) *length = Length16(textLength);
        return textLength >= size ? MbResultTruncated : MbResultOk;
    });
}

extern "C" MbResult MbAtomDupString(MbItem item, char** text, uint16_t* length) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(text);
        ClearOut(length);
        if (text == nullptr) return MbResultInvalid;
        const char* held = nullptr;
        uint32_t size = 0;
        const MbResult result = HeldBytes(item, MbTypeString, &held, &size);
        if (result != MbResultOk) return result;
        *text = Duplicate(held, size, 1);
        if (*text == nullptr) return MbResultFailed;
        if (length != nullptr) *length = Length16(size);
        return MbResultOk;
    });
}

extern "C" MbResult MbAtomGetBool(MbItem item, int32_t* value) noexcept {
    return Converted<int32_t, &CAtom::ToBool>(item, value);
}

extern "C" MbResult MbAtomGetInt(MbItem item, int32_t* value) noexcept {
    return Converted<int32_t, &CAtom::ToInt>(item, value);
}

extern "C" MbResult MbAtomGetUnsigned(MbItem item, uint32_t* value) noexcept {
    return Converted<uint32_t, &CAtom::ToUnsigned>(item, value);
}

extern "C" MbResult MbAtomGetReal(MbItem item, double* value) noexcept {
    return Converted<double, &CAtom::ToReal>(item, value);
}

extern "C" MbResult MbAtomGetCookie(MbItem item, uint64_t* value) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(value);
        if (value == nullptr) return MbResultInvalid;
        const CAtom* atom = ResolveAtom(item);
        if (atom == nullptr) return MbResultInvalid;
        if (atom->GetType() != MbTypeCookie) return MbResultWrongType;
        *value = atom->GetCookie();
        return MbResultOk;
    });
}

// The flag out is written on every path: 0 unless the atom is a UtcTime.
extern "C" MbResult MbAtomGetTime(MbItem item, int32_t* utc, int64_t* milliseconds) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(utc);
        ClearOut(milliseconds);
        if (milliseconds == nullptr) return MbResultInvalid;
        return HeldTime(item, utc, milliseconds);
    });
}

// The flag keeps what the time lookup gave it, also when the calendar conversion fails.
extern "C" MbResult MbAtomGetSystemTime(MbItem item, int32_t* utc, MbSystemTime* time) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(utc);
        ClearOut(time);
        if (time == nullptr) return MbResultInvalid;
        int64_t milliseconds = 0;
        const MbResult result = HeldTime(item, utc, &milliseconds);
        if (result != MbResultOk) return result;
        if (MillisecondsToSystemTime(milliseconds, time)) return MbResultOk;
        *time = MbSystemTime{};
        return MbResultFailed;
    });
}

extern "C" MbResult MbItemGetType(MbItem item, uint32_t* type) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        ClearOut(type);
        if (type == nullptr) return MbResultInvalid;
        const CItem* resolved = ResolveItem(item);
        if (resolved == nullptr) return MbResultInvalid;
        *type = resolved->ValueType();
        return MbResultOk;
    });
}
