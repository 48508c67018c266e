#include "runtime/tracer.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/process.h"

CTracer::CTracer(uint32_t traceFlags)
    : separator_((traceFlags & trace::kBlankSeparator) != 0 ? ' ' : '\n'), flags_(traceFlags) {
    className_ = "CTracer";
}

void CTracer::EmitLocked(const char* text, uint32_t category) {
    ScopedLock hold(*this);
    Emit(text, category);
}

void CTracer::Printf(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    VPrintfAt(flags_, format, arguments);
    va_end(arguments);
}

void CTracer::PrintfAt(uint32_t category, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    VPrintfAt(category, format, arguments);
    va_end(arguments);
}

// Formats into a stack buffer when the text fits, else into one exact heap allocation. A
// formatting error, an empty result or a failed allocation emits nothing.
void CTracer::VPrintfAt(uint32_t category, const char* format, va_list arguments) {
    char local[256];
    va_list copy;
    va_copy(copy, arguments);
    const int length = std::vsnprintf(local, sizeof local, format, copy);
    va_end(copy);
    if (length <= 0) return;
    if (static_cast<size_t>(length) < sizeof local) {
        EmitLocked(local, category);
        return;
    }
    char* buffer = static_cast<char*>(std::malloc(static_cast<size_t>(length) + 1));
    if (buffer == nullptr) return;
    if (std::vsnprintf(buffer, static_cast<size_t>(length) + 1, format, arguments) == length) {
        EmitLocked(buffer, category);
    }
    std::free(buffer);
}

void CTracer::PrintAt(const char* text, uint32_t category) {
    if (text != nullptr && text[0] != '\0') EmitLocked(text, category);
}

void CTracer::PrintLineAt(const char* text, uint32_t category) {
    PrintAt(text, category);
    if (separator_ != '\0') {
        const char piece[2] = {separator_, '\0'};
        EmitLocked(piece, category);
    }
}

void CTracer::PrintChar(char character) {
    if (character == '\0') return;
    const char piece[2] = {character, '\0'};
    EmitLocked(piece, flags_);
}

void CStrTracer::Emit(const char* piece, uint32_t category) {
    collectedCategory_ |= category;
    text_.append(piece);
}

void CStrTracer::Flush() {
    CUserTracer* user = process::UserTracer();
    if (user != nullptr && !text_.empty()) {
        ScopedLock hold(*user);
        user->Emit(text_.c_str(), collectedCategory_);
    }
    text_.clear();
}

void CUserTracer::Emit(const char* text, uint32_t category) {
    const TraceCallback current = callback_.load(std::memory_order_relaxed);
    if (current != nullptr) current(text, category);
}

void CUserTracer::SetCallback(TraceCallback newCallback, uint32_t options) {
    ScopedLock hold(*this);
    separator_ = (options & trace::kBlankSeparator) != 0 ? ' ' : '\n';
    callback_ = newCallback;
}

bool TraceWanted() {
    CUserTracer* user = process::UserTracer();
    return user != nullptr && user->HasCallback();
}
