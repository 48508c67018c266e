#include "messaging/sink_peer.h"

#include "items/item_access.h"
#include "items/item_handles.h"
#include "messaging/peer_flags.h"
#include "messaging/source.h"

CSinkPeer::CSinkPeer(CSource* local)
    : name(local != nullptr ? local->GetNameItem() : CCheckedRef<CItem>()),
      processId(0),
      source(CCheckedRef<CSource>::Share(local)),
      flags(peer::kLocal) {
    className = "CSinkPeer";
}

CSinkPeer::CSinkPeer(const char* peerName, uint32_t peerProcessId)
    : name(Tracked(NewStringItem(peerName))), processId(peerProcessId), flags(peer::kRemote) {
    className = "CSinkPeer";
}

CSinkPeer::~CSinkPeer() = default;

uint32_t CSinkPeer::ModifyFlags(uint32_t mask, uint32_t value) {
    ScopedLock hold(*this);
    if (mask != 0) flags = (flags & ~mask) | (mask & value);
    return flags;
}

CCheckedRef<CItem> CSinkPeer::GetName() {
    return name.Clone();
}

void CSinkPeer::SetPid(uint32_t id) {
    ScopedLock hold(*this);
    processId = id;
    if (source) source->SetPid(id);
}

void CSinkPeer::SetSource(CSource* newSource) {
    CCheckedRef<CSource> linked = CCheckedRef<CSource>::Share(newSource);
    ScopedLock hold(*this);
    if (linked) {
        flags |= peer::kLocal;
        linked->SetPid(processId);
    } else {
        flags &= ~peer::kLocal;
    }
    std::swap(source, linked);
}

bool CSinkPeer::Links(CSource* candidate) {
    ScopedLock hold(*this);
    return candidate != nullptr && source.Get() == candidate;
}

bool CSinkPeer::Test() {
    ScopedLock hold(*this);
    CCheckedRef<CSource> linked = source.Clone();
    const bool ok = (flags & peer::kLocal) != 0 && linked && linked->Test();
    flags = ok ? flags & ~peer::kFailed : flags | peer::kFailed;
    return ok;
}
