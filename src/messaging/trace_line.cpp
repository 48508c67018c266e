#include "messaging/trace_line.h"

#include "runtime/process.h"
#include "runtime/tracer.h"

void CTraceLine::Spill(const char* text, size_t length) {
    if (spilled_.empty()) spilled_.assign(inline_, size_);
    spilled_.append(text, length);
}

void CTraceLine::Emit() {
    const char* text;
    if (spilled_.empty()) {
        inline_[size_] = '\n';
        inline_[size_ + 1] = '\0';
        text = inline_;
    } else {
        spilled_ += '\n';
        text = spilled_.c_str();
    }
    CUserTracer* user = process::UserTracer();
    if (user == nullptr) return;
    ScopedLock hold(*user);
    user->Emit(text, trace::kDiagnostic);
}
