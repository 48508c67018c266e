// Exported item creators and atom setters. A creator makes an Atom item and writes its value
// with the same writer its setter uses; a setter writes into the item's atom, or into a new atom
// that becomes the item's child, so a setter turns a List, Map or empty item into an Atom item.
#include <mbus/mbus.h>

#include <new>

#include "api/guard.h"
#include "items/atom_values.h"
#include "items/item_handles.h"

namespace {

template <class Write>
MbItem NewValue(Write write) noexcept {
    return Guarded<MbItem>(nullptr, [&] { return MakeItem([&] { return NewAtomItem(write); }); });
}

// A write that cannot take place (an atom or a copy of the bytes cannot be allocated) leaves a
// non-atom item as it was.
template <class Write>
MbResult WriteItem(CItem& item, Write& write) {
    if (CAtom* atom = item.GetAtom()) return write(*atom) ? MbResultOk : MbResultFailed;
    CRef<CAtom> atom = CRef<CAtom>::Adopt(new (std::nothrow) CAtom);
    if (!atom || !write(*atom.Get())) return MbResultFailed;
    item.SetAtom(atom.Get());
    return MbResultOk;
}

template <class Write>
MbResult SetValue(MbItem handle, Write write) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(handle);
        if (item == nullptr) return MbResultInvalid;
        return WriteItem(*item, write);
    });
}

}  // namespace

using namespace atom_value;

extern "C" MbItem MbAtomNewNone(void) noexcept {
    return Guarded<MbItem>(nullptr, [] { return MakeItem(CItem::NewAtom); });
}

extern "C" MbItem MbListNew(void) noexcept {
    return Guarded<MbItem>(nullptr, [] { return MakeItem(CItem::NewList); });
}

extern "C" MbItem MbMapNew(void) noexcept {
    return Guarded<MbItem>(nullptr, [] { return MakeItem(CItem::NewMap); });
}

extern "C" MbItem MbAtomNewBlob(const void* data, uint32_t length) noexcept {
    return NewValue(Blob(data, length));
}

extern "C" MbItem MbAtomNewBool(int32_t value) noexcept {
    return NewValue(Bool(value));
}

extern "C" MbItem MbAtomNewCookie(uint32_t low, uint32_t high) noexcept {
    return NewValue(Cookie(low, high));
}

extern "C" MbItem MbAtomNewInt(int32_t value) noexcept {
    return NewValue(Int(value));
}

extern "C" MbItem MbAtomNewReal(double value) noexcept {
    return NewValue(Real(value));
}

extern "C" MbItem MbAtomNewString(const char* text) noexcept {
    return NewValue(String(text));
}

extern "C" MbItem MbAtomNewTime(int32_t utc, int64_t milliseconds) noexcept {
    return NewValue(Time(utc, milliseconds));
}

extern "C" MbItem MbAtomNewSystemTime(int32_t utc, const MbSystemTime* time) noexcept {
    int64_t milliseconds = 0;
    if (!SystemTimeToMilliseconds(time, &milliseconds)) return nullptr;
    return NewValue(Time(utc, milliseconds));
}

extern "C" MbItem MbAtomNewUnsigned(uint32_t value) noexcept {
    return NewValue(Unsigned(value));
}

extern "C" MbResult MbAtomSetBlob(MbItem item, const void* data, uint32_t length) noexcept {
    return SetValue(item, Blob(data, length));
}

extern "C" MbResult MbAtomSetBool(MbItem item, int32_t value) noexcept {
    return SetValue(item, Bool(value));
}

extern "C" MbResult MbAtomSetCookie(MbItem item, uint32_t low, uint32_t high) noexcept {
    return SetValue(item, Cookie(low, high));
}

extern "C" MbResult MbAtomSetInt(MbItem item, int32_t value) noexcept {
    return SetValue(item, Int(value));
}

extern "C" MbResult MbAtomSetReal(MbItem item, double value) noexcept {
    return SetValue(item, Real(value));
}

extern "C" MbResult MbAtomSetString(MbItem item, const char* text) noexcept {
    return SetValue(item, String(text));
}

extern "C" MbResult MbAtomSetTime(MbItem item, int32_t utc, int64_t milliseconds) noexcept {
    return SetValue(item, Time(utc, milliseconds));
}

// The handle is checked before the time is converted; an invalid SYSTEMTIME changes nothing.
extern "C" MbResult MbAtomSetSystemTime(MbItem handle, int32_t utc, const MbSystemTime* time) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CItem* item = ResolveItem(handle);
        if (item == nullptr) return MbResultInvalid;
        int64_t milliseconds = 0;
        if (!SystemTimeToMilliseconds(time, &milliseconds)) return MbResultFailed;
        auto write = Time(utc, milliseconds);
        return WriteItem(*item, write);
    });
}

extern "C" MbResult MbAtomSetUnsigned(MbItem item, uint32_t value) noexcept {
    return SetValue(item, Unsigned(value));
}
