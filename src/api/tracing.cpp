// Exported tracing functions. Both do nothing while the library is not initialised.
#include <mbus/mbus.h>

#include "api/guard.h"
#include "runtime/process.h"
#include "runtime/tracer.h"

extern "C" void MbTracerSetEx(MbTraceCallback callback, uint32_t options) noexcept {
    GuardedVoid([=] {
        if (CUserTracer* user = process::UserTracer()) user->SetCallback(callback, options);
    });
}

extern "C" void MbTracerSet(MbTraceCallback callback) noexcept {
    MbTracerSetEx(callback, 0);
}
