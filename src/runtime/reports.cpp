#include "runtime/reports.h"

#include <cstdarg>

#include "platform/platform.h"
#include "runtime/tracer.h"

void ReportError(const char* text) {
    CStrTracer out(trace::kErrorReport);
    out.Printf("**Error: %s.", text);
    out.PrintLine(nullptr);
    out.Flush();
}

void ReportWarning(const char* text, const void* address) {
    ReportWarningText("%s %p", text, address);
}

void ReportWarningText(const char* format, ...) {
    CStrTracer out(trace::kWarningReport);
    out.Print("**Warning: ");
    va_list arguments;
    va_start(arguments, format);
    out.VPrintfAt(trace::kWarningReport, format, arguments);
    va_end(arguments);
    out.Print(".");
    out.PrintLine(nullptr);
    out.Flush();
}

namespace {
void WriteRpcException(CTracer& out, const char* place, uint32_t status) {
    char message[4096] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, status,
                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), message, sizeof message, nullptr);
    out.PrintfAt(trace::kError, "** RPC Exception 0x%08X: %s.", status, place);
    out.PrintLineAt(nullptr, trace::kError);
    out.PrintAt(message, trace::kWarning);
}
}  // namespace

void ReportRpcException(const char* place, uint32_t status, CTracer* tracer) {
    if (tracer != nullptr) {
        WriteRpcException(*tracer, place, status);
        return;
    }
    CStrTracer out(trace::kError);
    WriteRpcException(out, place, status);
    out.Flush();
}

void DiagnosticLine(const char* format, ...) {
    CStrTracer out(trace::kDiagnostic);
    va_list arguments;
    va_start(arguments, format);
    out.VPrintfAt(trace::kDiagnostic, format, arguments);
    va_end(arguments);
    out.Flush();
}
