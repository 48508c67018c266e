#include "messaging/service.h"

#include <mbus/mbus.h>

#include "messaging/source.h"
#include "requests/request_threads.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"

CService::CService(CSource* owner, const char* serviceName)
    : name(serviceName != nullptr ? serviceName : ""), source(nullptr) {
    className = "CService";
    if (CheckedAddRef(owner)) source = owner;
}

CService::~CService() {
    ScopedLock hold(*this);
    if (source != nullptr) CheckedRelease(source);
}

// The tracker check guards against a source that a caller released once too often; the
// reference it adds is then given back directly.
CSource* CService::ShareSource() {
    return source != nullptr && CheckedAddRef(source) ? source : nullptr;
}

bool CService::IsConnected() {
    ScopedLock hold(*this);
    CSource* shared = ShareSource();
    if (shared == nullptr) return false;
    const bool open = shared->IsOpen();
    shared->Release();
    return open;
}

// The source and the name are fixed at construction, and the proxy's own reference keeps the
// source alive while the caller holds the proxy: no lock is needed. The request takes a
// reference of its own, so the source needs only the tracker's check here, with the warning
// that a counted reference to an unknown source would give.
bool CService::Send(uint32_t flags, int32_t kind, const void* data, uint16_t length) {
    if (source == nullptr) return false;
    if (!IsKnownObject(source)) {
        ReportWarning("attempt to add a reference to an unknown object at", source);
        return false;
    }
    return source->Post(name.empty() ? nullptr : name.c_str(), flags, kind, data, length);
}

bool CService::Test() {
    return Send(MbControlTest, MbKindSend, nullptr, 0);
}
