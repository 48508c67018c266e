#include "messaging/service.h"

#include <mbus/mbus.h>

#include "messaging/source.h"
#include "requests/request_threads.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

CService::CService(CSource* owner, const char* serviceName)
    : name_(serviceName != nullptr ? serviceName : ""), source_(CCheckedRef<CSource>::Share(owner)) {
    className_ = "CService";
}

CService::~CService() = default;

// The tracker check of the added reference guards against a source that a caller released
// once too often.
bool CService::IsConnected() {
    CCheckedRef<CSource> shared = source_.Clone();
    return shared && shared->IsOpen();
}

// The source and the name are fixed at construction, and the proxy's own reference keeps the
// source alive while the caller holds the proxy: no lock is needed. The request takes a
// reference of its own, so the source needs only the tracker's check here, with the warning
// that a counted reference to an unknown source would give.
bool CService::Send(uint32_t flags, int32_t kind, const void* data, uint16_t length) {
    if (!source_) return false;
    if (!IsKnownHeldObject(source_.Get())) {
        ReportWarning("attempt to add a reference to an unknown object at", source_.Get());
        return false;
    }
    return source_->Post(name_.empty() ? nullptr : name_.c_str(), flags, kind, data, length);
}

bool CService::Test() {
    return Send(MbControlTest, MbKindSend, nullptr, 0);
}
