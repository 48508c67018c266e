// CStr: an owned, counted byte string. Holds the bytes of Blob and String atoms and the names
// of sinks, services and sources.
//
// Invariants: empty content is never held (data_ is null exactly when length_ is 0), and a NUL
// byte always follows the last content byte, so the content can be used as C text.
#pragma once

#include <cstdint>

#include "items/storable.h"

class CStr final : public CStorable {
public:
    CStr() { className = "CStr"; }
    // A copy of the text without its terminator; empty for a null or empty text.
    explicit CStr(const char* text);
    // A copy of length bytes; empty for a null pointer or a zero length.
    CStr(const void* bytes, uint16_t length);
    ~CStr() override;

    // Under the lock: drops the content, then copies the text.
    void Assign(const char* text);
    // Under the lock: drops the content.
    void Clear();

    // The content (NUL-terminated in memory) and its length, or null and 0 when empty.
    // Read without the lock.
    const char* GetString(uint32_t* length = nullptr) const {
        if (length != nullptr) *length = length_;
        return data_;
    }
    uint32_t Length() const { return length_; }
    bool IsEmpty() const { return data_ == nullptr; }

    // The same object is equal; exactly one null pointer is not; else equal lengths and bytes.
    static bool Equals(const CStr* a, const CStr* b);

    // Content longer than 65,535 bytes is never stored or rendered in part: Write and Render
    // refuse it through CStorage::RefuseOversize and append nothing.
    uint16_t Render(CStorage& stream, bool bare) override;
    uint16_t Read(CStorage& stream) override;
    uint16_t Write(CStorage& stream) override;

    // Stored form of a string that may be absent: the length field and the bytes, or 00 00.
    static uint16_t WriteStored(CStorage& stream, CStr* string);
    // A new CStr read as Read would read it (no other thread can see it yet, so no lock is
    // taken); null when it cannot be allocated. *consumed gets the bytes consumed.
    static CStr* ReadNew(CStorage& stream, uint16_t* consumed);

private:
    // Content up to this length lives in the object itself; longer content in a malloc'd block.
    static constexpr uint32_t kInlineCapacity = 31;

    // Storage for length bytes and a NUL: the inline buffer or a new block (null when none).
    char* Reserve(uint32_t length);
    // Installs length bytes written into block (from Reserve) when complete; else gives it back.
    void Settle(char* block, uint32_t length, bool complete);
    // Gives back the content, leaving the string empty.
    void Drop();
    // Copies length bytes into an empty string; nothing for a null pointer or a zero length.
    void Install(const void* bytes, uint32_t length);
    // Reads a stored string into an empty string: the length field, then the content,
    // installed only when complete. Returns the bytes consumed.
    uint16_t ReadContent(CStorage& stream);

    // Null, inline_, or a malloc'd block.
    char* data_ = nullptr;
    uint32_t length_ = 0;
    char inline_[kInlineCapacity + 1];
};
