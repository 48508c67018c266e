#include "items/item_report.h"

#include <cstdarg>
#include <cstdio>

#include "runtime/reports.h"
#include "runtime/tracer.h"

void ReportItemError(const char* format, ...) {
    if (!TraceWanted()) return;
    char text[128];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    ReportError(text);
}
