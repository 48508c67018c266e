// CAtom: one tagged scalar value of one of ten types. Atoms are the leaves of item trees and
// the keys of maps. Atoms do not lock: callers that share one serialise access themselves.
//
// Cell use by type: Blob and String hold a pointer to the atom's own string_, or null when the
// atom holds no string (string_ is then empty); Bool, Int and Unsigned the 32-bit value in the
// low half (high half 0); Cookie, LocalTime, UtcTime the 64-bit value; Real the double.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>

#include "items/storable.h"
#include "items/str.h"

class CAtom final : public CReadable {
public:
    // The stored type letters by type code; position 0 is "?".
    static constexpr char kTypeLetters[] = "?ndbcigrtsuIALM";
    static constexpr uint32_t kTypeCount = 15;

    CAtom() : CReadable(MbTypeNone) {
        className_ = "CAtom";
        cell_.bits = 0;
    }

    // Setters: drop a held string, zero the cell, set the type, store the value.
    void SetBool(int32_t value);
    void SetCookie(uint32_t low, uint32_t high);
    // A string holding a copy when bytes is not null and length is not 0, otherwise none. The
    // bytes may be the atom's own. False, holding none, when the copy found no memory.
    bool SetBlob(const void* bytes, uint16_t length);
    // A Blob of every byte of the stream, taking over its buffer (CStorage::TakeContents);
    // holding none when the stream holds none.
    void TakeBlob(CStorage& stream);
    void SetInt(int32_t value);
    void SetLocalTime(int64_t milliseconds);
    void SetReal(double value);
    void SetUtcTime(int64_t milliseconds);
    // A string for a non-null text (holding nothing for ""), none for a null text. The text may
    // be the atom's own. False, holding none, when the copy found no memory.
    bool SetString(const char* text);
    // A String holding a copy of length bytes (holding nothing for 0). False, holding none,
    // when the copy found no memory.
    bool SetString(const void* bytes, uint32_t length);
    void SetUnsigned(uint32_t value);
    // LocalTime or UtcTime by the flag.
    void SetTime(bool utc, int64_t milliseconds) { utc ? SetUtcTime(milliseconds) : SetLocalTime(milliseconds); }

    // Exact getters: the value when the atom has exactly that type, else 0, 0.0 or null.
    // The CStr getters hand out the atom's own string.
    int32_t GetBool() const { return type_ == MbTypeBool ? Low() : 0; }
    uint64_t GetCookie() const { return type_ == MbTypeCookie ? cell_.bits : 0; }
    CStr* GetBlob() const { return type_ == MbTypeBlob ? cell_.string : nullptr; }
    int32_t GetInt() const { return type_ == MbTypeInt ? Low() : 0; }
    int64_t GetLocalTime() const { return type_ == MbTypeLocalTime ? static_cast<int64_t>(cell_.bits) : 0; }
    double GetReal() const { return type_ == MbTypeReal ? cell_.real : 0.0; }
    int64_t GetUtcTime() const { return type_ == MbTypeUtcTime ? static_cast<int64_t>(cell_.bits) : 0; }
    CStr* GetString() const { return type_ == MbTypeString ? cell_.string : nullptr; }
    uint32_t GetUnsigned() const { return type_ == MbTypeUnsigned ? static_cast<uint32_t>(cell_.bits) : 0; }
    // The raw cell: for comparisons of whole trees and for tests.
    uint64_t CellBits() const { return cell_.bits; }
    // The held CStr of a Blob or String atom (null when none, or for any other type).
    CStr* HeldString() const { return IsBytes(type_) ? cell_.string : nullptr; }

    // Converting getters (Bool, Int, Real and Unsigned convert; every other type fails). The
    // out-argument is written on success only.
    bool ToBool(int32_t* out) const;
    bool ToInt(int32_t* out) const;
    bool ToReal(double* out) const;
    bool ToUnsigned(uint32_t* out) const;

    // The map key order: a strict weak order over atoms of every type (see key_order.h).
    // Null a is less than any atom; the same atom or a null b is not less.
    static bool Less(const CAtom* a, const CAtom* b);
    // Equality chosen by a's type, converting b where a's type converts (not symmetric).
    static bool Equals(const CAtom& a, const CAtom& b);

    // Text form (nothing at all when bare), stored form (type letter and payload), reading.
    uint16_t Render(CStorage& stream, bool bare) override;
    uint16_t Read(CStorage& stream) override;
    uint16_t Write(CStorage& stream) override;
    // An atom releases nothing when it goes, so its destruction never recurses: it is
    // destroyed at once, without the thread's destruction queue.
    void OnFinalRelease() override { delete this; }

    // Render and Write of a Blob or String atom holding length bytes at data, or holding no
    // string (held false); also for keys that a map keeps as their bytes (map_key.h).
    static uint16_t RenderBytes(CStorage& stream, bool bare, const char* data, uint32_t length, bool held);
    static uint16_t WriteBytes(CStorage& stream, uint32_t type, const char* data, uint32_t length, bool held);

    // The type code a stored letter stands for ("B" is a true Bool); 0 for a non-letter.
    static uint32_t TypeOfLetter(uint8_t letter);
    static bool IsBytes(uint32_t type) { return type == MbTypeBlob || type == MbTypeString; }

private:
    int32_t Low() const { return static_cast<int32_t>(static_cast<uint32_t>(cell_.bits)); }
    // Drops a held string, zeroes the cell and sets the type.
    void Reset(uint32_t type);

    // Makes the atom a Blob or String: holding string_ (given its content already), or none.
    void HoldString(uint32_t type, bool held);

    union {
        uint64_t bits;
        double real;
        CStr* string;
    } cell_;
    // The content of a Blob or String, inside the atom so that a string costs no allocation of
    // its own; empty whenever cell_.string is null.
    CStr string_;
};
