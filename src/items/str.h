// CStr: an owned byte string, the bytes of a Blob or String atom. Each string is part of exactly
// one atom, which serialises every use of it (atoms do not lock), so a string has no lock, no
// count and no handle of its own: it lives and dies with its atom.
//
// Invariants: empty content is never held (data_ is null exactly when length_ is 0), and a NUL
// byte always follows the last content byte, so the content can be used as C text.
#pragma once

#include <cstdint>

class CStorage;

class CStr final {
public:
    CStr() = default;
    // A copy of the text without its terminator; empty for a null or empty text.
    explicit CStr(const char* text);
    // A copy of length bytes; empty for a null pointer or a zero length.
    CStr(const void* bytes, uint16_t length);
    ~CStr();
    CStr(const CStr&) = delete;
    CStr& operator=(const CStr&) = delete;

    // Replaces the content by a copy of length bytes, which may lie in the content itself;
    // empty for a null pointer or a zero length. The text form copies a text without its
    // terminator. False, with the string left empty, when the copy found no memory.
    bool Assign(const void* bytes, uint32_t length);
    bool Assign(const char* text);
    // Takes over a block from malloc that holds length bytes and a NUL after them (length not
    // 0); the block is given back at once when the content fits inline.
    void Adopt(char* block, uint32_t length);
    // Gives back the content, leaving the string empty.
    void Drop();

    // The content (NUL-terminated in memory) and its length, or null and 0 when empty.
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
    // Text form (quoted unless bare), stored form (length field and bytes), and reading the
    // stored form in place of the content.
    uint16_t Render(CStorage& stream, bool bare);
    uint16_t Read(CStorage& stream);
    uint16_t Write(CStorage& stream);

    // Render and Write of content held elsewhere (length bytes at data, null when 0).
    static uint16_t RenderBytes(CStorage& stream, const char* data, uint32_t length, bool bare);
    static uint16_t WriteBytes(CStorage& stream, const char* data, uint32_t length);

private:
    // Content up to this length lives in the object itself; longer content in a malloc'd block.
    static constexpr uint32_t kInlineCapacity = 31;

    // True when the content lives in a block of its own (most atoms hold none, and an empty
    // string asks nothing of free).
    bool OnHeap() const { return data_ != nullptr && data_ != inline_; }
    // Storage for length bytes and a NUL: the inline buffer or a new block (null when none).
    char* Reserve(uint32_t length);
    // Installs length bytes written into block (from Reserve) when complete; else gives it back.
    void Settle(char* block, uint32_t length, bool complete);
    // Reads a stored string into an empty string: the length field, then the content,
    // installed only when complete. Returns the bytes consumed.
    uint16_t ReadContent(CStorage& stream);

    // Null, inline_, or a malloc'd block.
    char* data_ = nullptr;
    uint32_t length_ = 0;
    char inline_[kInlineCapacity + 1];
};
