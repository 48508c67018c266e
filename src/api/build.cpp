// Exported MbBuild and MbBuildV: one pass over the format, one item per value code, taking each
// code's arguments in order. The first failure stops the parse (no further argument is read)
// and the builder releases everything it still holds.
#include <mbus/mbus.h>

#include <cstdint>

#include "api/guard.h"
#include "api/item_builder.h"
#include "base/coding.h"
#include "items/atom_values.h"
#include "items/item_handles.h"
#include "items/private_build.h"
#include "runtime/handle_cast.h"

namespace {

bool IsBlank(char code) {
    return code == ' ' || code == '\t' || code == '\n' || code == '\v' || code == '\f' || code == '\r';
}

// A LocalTime or UtcTime from a SYSTEMTIME; empty for an invalid one.
CRef<CItem> SystemTime(int32_t utc, const MbSystemTime* time) {
    int64_t milliseconds = 0;
    if (!SystemTimeToMilliseconds(time, &milliseconds)) return CRef<CItem>();
    return NewAtomItem(atom_value::Time(utc, milliseconds));
}

// Makes the item of one value code from its arguments.
CRef<CItem> Produce(char code, va_list& args) {
    switch (code) {
        case 'N': return CItem::NewAtom();
        case 'B': {
            const void* data = va_arg(args, const void*);
            return NewAtomItem(atom_value::Blob(data, va_arg(args, uint32_t)));
        }
        case 'b': return NewAtomItem(atom_value::Bool(va_arg(args, int32_t)));
        case 'c': {
            const uint64_t value = va_arg(args, uint64_t);
            return NewAtomItem(atom_value::Cookie(LowHalf(value), HighHalf(value)));
        }
        case 'i': return NewAtomItem(atom_value::Int(va_arg(args, int32_t)));
        case 'u': return NewAtomItem(atom_value::Unsigned(va_arg(args, uint32_t)));
        case 'r': return NewAtomItem(atom_value::Real(va_arg(args, double)));
        case 's': return NewAtomItem(atom_value::String(va_arg(args, const char*)));
        case 't': return NewAtomItem(atom_value::Time(0, va_arg(args, int64_t)));
        case 'g': return NewAtomItem(atom_value::Time(1, va_arg(args, int64_t)));
        case 'T': return SystemTime(0, va_arg(args, const MbSystemTime*));
        case 'G': return SystemTime(1, va_arg(args, const MbSystemTime*));
        // The caller's own item with one reference added for the builder; empty for a null or
        // unknown handle and for a known object that is not an item.
        case 'H': return ShareAs<CItem>(va_arg(args, MbHandle));
        default: return CRef<CItem>();
    }
}

// The tree is built privately: no other thread can reach it before it is returned.
CRef<CItem> Build(const char* format, va_list& args) {
    CPrivateBuild build;
    CItemBuilder builder;
    for (const char* cursor = format; *cursor != '\0'; ++cursor) {
        const char code = *cursor;
        bool done = true;
        switch (code) {
            case '[': done = builder.Open(false); break;
            case '{': done = builder.Open(true); break;
            case ']': done = builder.Close(false); break;
            case '}': done = builder.Close(true); break;
            case ',':
            case ':': break;
            default:
                if (!IsBlank(code)) {
                    CRef<CItem> item = Produce(code, args);
                    done = item && builder.Place(std::move(item));
                }
        }
        if (!done) return CRef<CItem>();
    }
    return build.Share(builder.Finish());
}

}  // namespace

extern "C" MbItem MbBuildV(const char* format, va_list args) noexcept {
    if (format == nullptr) return nullptr;
    va_list copy;
    va_copy(copy, args);
    MbItem result = Guarded<MbItem>(nullptr, [&] { return MakeItem([&] { return Build(format, copy); }); });
    va_end(copy);
    return result;
}

extern "C" MbItem MbBuild(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    MbItem result = MbBuildV(format, args);
    va_end(args);
    return result;
}
