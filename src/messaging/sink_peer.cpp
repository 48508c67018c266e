#include "messaging/sink_peer.h"

#include "items/item_access.h"
#include "items/item_handles.h"
#include "messaging/peer_flags.h"
#include "messaging/source.h"

CSinkPeer::CSinkPeer(CSource* local)
    : name_(local != nullptr ? local->GetNameItem() : CCheckedRef<CItem>()),
      processId_(0),
      source_(CCheckedRef<CSource>::Share(local)),
      flags_(peer::kLocal) {
    className_ = "CSinkPeer";
}

CSinkPeer::CSinkPeer(const char* peerName, uint32_t peerProcessId)
    : name_(Tracked(NewStringItem(peerName))), processId_(peerProcessId), flags_(peer::kRemote) {
    className_ = "CSinkPeer";
}

CSinkPeer::~CSinkPeer() = default;

uint32_t CSinkPeer::ModifyFlags(uint32_t mask, uint32_t value) {
    ScopedLock hold(*this);
    if (mask != 0) flags_ = (flags_ & ~mask) | (mask & value);
    return flags_;
}

CCheckedRef<CItem> CSinkPeer::GetName() {
    return name_.Clone();
}

void CSinkPeer::SetPid(uint32_t id) {
    ScopedLock hold(*this);
    processId_ = id;
    if (source_) source_->SetPid(id);
}

void CSinkPeer::SetSource(CSource* newSource) {
    CCheckedRef<CSource> linked = CCheckedRef<CSource>::Share(newSource);
    ScopedLock hold(*this);
    if (linked) {
        flags_ |= peer::kLocal;
        linked->SetPid(processId_);
    } else {
        flags_ &= ~peer::kLocal;
    }
    std::swap(source_, linked);
}

bool CSinkPeer::Links(CSource* candidate) {
    ScopedLock hold(*this);
    return candidate != nullptr && source_.Get() == candidate;
}

bool CSinkPeer::Test() {
    ScopedLock hold(*this);
    CCheckedRef<CSource> linked = source_.Clone();
    const bool ok = (flags_ & peer::kLocal) != 0 && linked && linked->Test();
    flags_ = ok ? flags_ & ~peer::kFailed : flags_ | peer::kFailed;
    return ok;
}
