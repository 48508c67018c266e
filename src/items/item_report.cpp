#include "items/item_report.h"

#include <cstdarg>
#include <cstdio>

#include "runtime/reports.h"
#include "runtime/tracer.h"

namespace {
// The innermost scope of this thread, or null.
thread_local CFirstItemReportOnly* currentScope __attribute__((tls_model("initial-exec"))) = nullptr;
}  // namespace

CFirstItemReportOnly::CFirstItemReportOnly() : outer_(currentScope) {
    currentScope = this;
}

CFirstItemReportOnly::~CFirstItemReportOnly() {
    currentScope = outer_;
}

void ReportItemError(const char* format, ...) {
    CFirstItemReportOnly* scope = currentScope;
    if (scope != nullptr) {
        if (scope->reported_) return;
        scope->reported_ = true;
    }
    if (!TraceWanted()) return;
    char text[128];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    currentScope = nullptr;
    ReportError(text);
    currentScope = scope;
}
