// CStorage: the growable in-memory byte stream through which items are stored, loaded and
// rendered. It owns one buffer (always followed by a NUL byte that the length does not count),
// a read cursor and the 16-byte header that marks a buffer as holding stored items.
//
// Size limit: every reading length is 16 bits, so a stream never holds more than 65,535 bytes.
// An append that would pass that size is refused: nothing is appended, the error
// "storage full: cannot hold %u more byte(s)" is reported once, and the stream stays failed
// (Failed()) for the rest of its life and takes no more bytes. An append whose buffer cannot be
// allocated fails the stream the same way ("failed to allocate %u byte(s) of storage"). So a
// store that lost bytes is never handed out as if it were whole.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/ref_count.h"

class CStorage final : public CCountable {
public:
    static constexpr uint32_t kHeaderSize = 16;
    static constexpr uint32_t kMaxLength = 65535;
    static constexpr uint32_t kInitialGrowthStep = 250;
    static constexpr uint16_t kFormatVersion = 1;
    static constexpr uint32_t kLibraryVersion = 82;

    CStorage();
    ~CStorage() override;

    // Writes the header behind the buffer's current content and opens for writing.
    bool OpenForWriting();
    // Opens for writing without a header.
    bool OpenForAppending();
    // Reads and checks the header at offset 0; the cursor stays behind it unless rewind is set.
    bool OpenForReading(bool rewind);
    // OpenForReading(false) over length bytes of the caller's, read where they are: the caller
    // keeps them unchanged until the stream is closed or goes. The stream must hold no bytes;
    // closing it leaves it empty.
    bool OpenForReading(const void* bytes, uint32_t length);
    // Hands the caller the buffer that holds every byte of the stream (from malloc, followed by a
    // NUL) and their count, or null when the stream holds none; the stream is then closed and
    // empty.
    uint8_t* TakeContents(uint32_t* length);
    // Clears both flags and the cursor; the buffer and its content stay (the caller's bytes that
    // were read in place do not).
    void Close();

    // Appends count bytes and returns count; 0 for a null pointer or a zero count (no report),
    // for a stream not open for writing, and for an append that is refused.
    uint16_t WriteBytes(const void* bytes, uint16_t count) {
        if (length_ + count <= writeLimit_ && bytes != nullptr && count != 0) {
            std::memcpy(buffer_ + length_, bytes, count);
            length_ += count;
            buffer_[length_] = 0;
            return count;
        }
        return WriteBytesSlow(bytes, count);
    }
    // Inlined everywhere: the tree writer calls it for every item and atom, and the call cost
    // more than the append (left to the compiler, it was not always inlined).
    __attribute__((always_inline)) bool WriteByte(uint8_t byte) {
        if (length_ < writeLimit_) {
            buffer_[length_++] = byte;
            buffer_[length_] = 0;
            return true;
        }
        return WriteBytesSlow(&byte, 1) == 1;
    }
    // Appends count bytes for the caller to fill in place when WriteBytes would append them
    // inline; null otherwise, and then nothing is appended.
    uint8_t* AppendInPlace(uint32_t count) {
        if (count == 0 || length_ + count > writeLimit_) return nullptr;
        uint8_t* at = buffer_ + length_;
        length_ += count;
        buffer_[length_] = 0;
        return at;
    }
    // Appends the text without its terminator; 0 for a null text.
    uint16_t WriteText(const char* text);
    // Fails the stream because `count` more bytes cannot be held; reports once.
    void RefuseOversize(uint64_t count);

    // Copies up to count bytes from the cursor and advances it; reports a short read.
    uint16_t ReadBytes(void* destination, uint16_t count) {
        if (reading_ && destination != nullptr && count != 0 && cursor_ + count <= length_) {
            std::memcpy(destination, view_ + cursor_, count);
            cursor_ += count;
            return count;
        }
        return ReadBytesSlow(destination, count);
    }
    // True when exactly one byte was read.
    bool ReadByte(uint8_t* destination) {
        if (reading_ && destination != nullptr && cursor_ < length_) {
            *destination = view_[cursor_++];
            return true;
        }
        return ReadBytesSlow(destination, 1) == 1;
    }
    // The unread bytes without moving the cursor, or null (count 0) when there are none.
    const uint8_t* PeekRemaining(uint16_t* count);
    // Moves the cursor over up to count unread bytes (those PeekRemaining shows); no report.
    void Skip(uint16_t count) {
        if (reading_) cursor_ = cursor_ + count < length_ ? cursor_ + count : length_;
    }
    // Every byte of the buffer (never null while open for reading), or null when not open.
    const uint8_t* GetContents(uint16_t* count);

    bool IsWriting() const { return writing_; }
    bool IsReading() const { return reading_; }
    bool Failed() const { return failed_; }
    // True while open for reading with no unread byte left.
    bool Exhausted() const { return reading_ && cursor_ >= length_; }
    uint32_t Length() const { return length_; }
    uint32_t Capacity() const { return capacity_; }
    uint32_t Cursor() const { return cursor_; }
    uint32_t GrowthStep() const { return growthStep_; }
    const uint8_t* Header() const { return header_; }

private:
    // Opens for reading the length_ bytes at view and checks the header.
    bool OpenView(const uint8_t* view, bool rewind);
    uint16_t WriteBytesSlow(const void* bytes, uint16_t count);
    uint16_t ReadBytesSlow(void* destination, uint16_t count);
    bool Append(const void* bytes, uint32_t count);
    bool Reserve(uint32_t required);
    // Sets writeLimit_ from the state; called after every change of it.
    void UpdateWriteLimit();

    bool reading_ = false;
    bool writing_ = false;
    // Set by the first refused or failed append and never cleared.
    bool failed_ = false;
    // Extra room asked for when an append overflows the capacity; doubled after each overflow.
    uint32_t growthStep_ = kInitialGrowthStep;
    uint8_t* buffer_ = nullptr;
    uint32_t capacity_ = 0;
    // What reads see while open for reading: the buffer, or the caller's bytes (buffer_ is then
    // null); null otherwise.
    const uint8_t* view_ = nullptr;
    // Invariant: length_ <= kMaxLength, and buffer_[length_] == 0 while buffer_ exists.
    uint32_t length_ = 0;
    uint32_t cursor_ = 0;
    // The length up to which WriteBytes and WriteByte append inline: while open for writing,
    // not failed and not empty, the capacity less the NUL byte, at most kMaxLength; else 0.
    // Every other append takes the slow path, which keeps the growth and failure rules.
    uint32_t writeLimit_ = 0;
    uint8_t header_[kHeaderSize] = {};
};
