// CTraceLine: one diagnostic line of the message handlers, assembled in a buffer on the stack
// and handed whole to the user tracer. The callback receives what a string tracer gives for
// PrintLine and Flush: the text and its newline in one piece, category 16. Building the line
// here spares each traced message a tracer object, a lock per piece and heap buffers.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

class CTraceLine {
public:
    CTraceLine() = default;
    CTraceLine(const CTraceLine&) = delete;
    CTraceLine& operator=(const CTraceLine&) = delete;

    // Text without NUL bytes (a caller's text ends at its first NUL, as a printed piece does).
    // Inline, so that a literal piece becomes a few stores. Two bytes of inline_ stay free for
    // the newline and the terminator, so Emit never spills.
    void Append(const char* text, size_t length) {
        if (spilled_.empty() && size_ + length + 2 <= kInlineBytes) {
            std::memcpy(inline_ + size_, text, length);
            size_ += length;
        } else {
            Spill(text, length);
        }
    }
    void Append(const char* text) { Append(text, std::strlen(text)); }
    void Append(const std::string& text) { Append(text.data(), text.size()); }
    // Ends the line with a newline and hands it to the user tracer, if there is one.
    void Emit();

private:
    // Appends to the heap copy, making it from inline_ first.
    void Spill(const char* text, size_t length);

    // Room for a typical line; a longer one moves to the heap once.
    static constexpr size_t kInlineBytes = 256;
    char inline_[kInlineBytes];
    size_t size_ = 0;
    // The line once it outgrew inline_; empty until then.
    std::string spilled_;
};
