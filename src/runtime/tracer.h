// Tracers: where the library's text goes. A report is assembled in a short-lived CStrTracer and
// flushed in one piece, with the OR of its pieces' categories, to the one CUserTracer, which
// hands it to the callback the program installed.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>

#include "runtime/ref_count.h"

namespace trace {
constexpr uint32_t kWarning = 1;
constexpr uint32_t kError = 2;
constexpr uint32_t kDiagnostic = 16;
constexpr uint32_t kWarningReport = 17;
constexpr uint32_t kErrorReport = 18;
constexpr uint32_t kBlankSeparator = 256;
}  // namespace trace

using TraceCallback = void (*)(const char* text, uint32_t category);

class CTracer : public CCountable {
public:
    // flags: the tracer's own category; with kBlankSeparator the separator is a blank.
    explicit CTracer(uint32_t flags);

    // Takes one non-empty piece of text with its category.
    virtual void Emit(const char* text, uint32_t category) = 0;

    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void PrintfAt(uint32_t category, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void VPrintfAt(uint32_t category, const char* format, va_list arguments);
    // A null or empty text emits nothing.
    void Print(const char* text) { PrintAt(text, flags_); }
    void PrintAt(const char* text, uint32_t category);
    // The text, then the separator as a piece of its own at the same category.
    void PrintLine(const char* text) { PrintLineAt(text, flags_); }
    void PrintLineAt(const char* text, uint32_t category);
    // The zero character emits nothing.
    void PrintChar(char character);

protected:
    char separator_;
    uint32_t flags_;

private:
    void EmitLocked(const char* text, uint32_t category);
};

class CStrTracer : public CTracer {
public:
    explicit CStrTracer(uint32_t traceFlags) : CTracer(traceFlags), collectedCategory_(0) { className_ = "CStrTracer"; }

    void Emit(const char* text, uint32_t category) override;
    // Hands the text collected since the last flush to the user tracer in one call, with every
    // category collected since construction; then empties the text.
    void Flush();

    const std::string& Text() const { return text_; }
    uint32_t CollectedCategory() const { return collectedCategory_; }

private:
    uint32_t collectedCategory_;
    std::string text_;
};

class CUserTracer : public CTracer {
public:
    CUserTracer() : CTracer(trace::kDiagnostic), callback_(nullptr) { className_ = "CUserTracer"; }

    void Emit(const char* text, uint32_t category) override;
    // Under the tracer's lock: the separator becomes a blank when options hold
    // kBlankSeparator, a newline otherwise; a null callback removes the callback.
    void SetCallback(TraceCallback callback, uint32_t options);
    // A lock-free read: asking must not wait for a callback that is running.
    bool HasCallback() const { return callback_.load(std::memory_order_relaxed) != nullptr; }

private:
    std::atomic<TraceCallback> callback_;
};

// True when a flushed message would reach a callback. Code that only traces may skip
// formatting when this is false; nothing observable changes.
bool TraceWanted();
