// The fixed report shapes. Each report is assembled in its own string tracer and reaches the
// callback as one call with one text (ending in its newline) and one category.
#pragma once

#include <cstdint>

class CTracer;

// "**Error: <text>." + newline, category 18.
void ReportError(const char* text);
// "**Warning: <text> <address as %p>." + newline, category 17.
void ReportWarning(const char* text, const void* address);
// "**Warning: <formatted text>." + newline, category 17.
void ReportWarningText(const char* format, ...) __attribute__((format(printf, 1, 2)));
// "** RPC Exception 0x%08X: <place>." + separator at category 2, then the system text of the
// status at category 1. Written into `tracer` when given (its owner flushes), else flushed now.
void ReportRpcException(const char* place, uint32_t status, CTracer* tracer);
// A formatted diagnostic line at category 16, flushed at once.
void DiagnosticLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
