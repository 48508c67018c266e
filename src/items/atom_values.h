// The value writers shared by the atom creators, the atom setters and the build format: each
// writes one typed value into an atom with the atom's own setter.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>

#include "items/item.h"

// SYSTEMTIME to milliseconds since 1601. A null pointer gives 0; so does an all-zero
// SYSTEMTIME, which the platform refuses. False for any other SYSTEMTIME the platform refuses.
bool SystemTimeToMilliseconds(const MbSystemTime* time, int64_t* milliseconds);
// Milliseconds since 1601 to SYSTEMTIME; false when the value has no file time (negative, or
// too large to be multiplied by 10,000) or the platform refuses it.
bool MillisecondsToSystemTime(int64_t milliseconds, MbSystemTime* time);

// Writers of one value each, for NewAtomItem and the setters: each returns false when the
// value could not be stored.
namespace atom_value {
// A Blob of the low 16 bits of the length; a null pointer or a zero length gives one without
// bytes.
inline auto Blob(const void* data, uint32_t length) {
    return [=](CAtom& atom) { return atom.SetBlob(data, static_cast<uint16_t>(length)); };
}
inline auto Bool(int32_t value) {
    return [=](CAtom& atom) { return atom.SetBool(value), true; };
}
inline auto Cookie(uint32_t low, uint32_t high) {
    return [=](CAtom& atom) { return atom.SetCookie(low, high), true; };
}
inline auto Int(int32_t value) {
    return [=](CAtom& atom) { return atom.SetInt(value), true; };
}
inline auto Real(double value) {
    return [=](CAtom& atom) { return atom.SetReal(value), true; };
}
// A null text gives a String without a string.
inline auto String(const char* text) {
    return [=](CAtom& atom) { return atom.SetString(text); };
}
// UtcTime for a non-zero flag, LocalTime otherwise.
inline auto Time(int32_t utc, int64_t milliseconds) {
    return [=](CAtom& atom) { return atom.SetTime(utc != 0, milliseconds), true; };
}
inline auto Unsigned(uint32_t value) {
    return [=](CAtom& atom) { return atom.SetUnsigned(value), true; };
}
}  // namespace atom_value

// A new Atom item whose atom `write` fills; empty when an allocation failed.
template <class Write>
CRef<CItem> NewAtomItem(Write&& write) {
    CRef<CItem> item = CItem::NewAtom();
    if (item && !write(*item->GetAtom())) item.Reset();
    return item;
}
