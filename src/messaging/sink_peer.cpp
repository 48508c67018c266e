#include "messaging/sink_peer.h"

#include "messaging/peer_flags.h"
#include "messaging/source.h"
#include "runtime/tracker.h"

CSinkPeer::CSinkPeer(CSource* local) : name(nullptr), processId(0), source(nullptr), flags(peer::kLocal) {
    className = "CSinkPeer";
    if (local != nullptr) name = local->GetNameItem();
    if (CheckedAddRef(local)) source = local;
}

CSinkPeer::CSinkPeer(const char* peerName, uint32_t peerProcessId)
    : name(MbAtomNewString(peerName)), processId(peerProcessId), source(nullptr), flags(peer::kRemote) {
    className = "CSinkPeer";
}

CSinkPeer::~CSinkPeer() {
    SetSource(nullptr);
    if (name != nullptr) MbHandleRelease(name);
}

uint32_t CSinkPeer::ModifyFlags(uint32_t mask, uint32_t value) {
    ScopedLock hold(*this);
    if (mask != 0) flags = (flags & ~mask) | (mask & value);
    return flags;
}

MbItem CSinkPeer::GetName() {
    ScopedLock hold(*this);
    if (name != nullptr && MbHandleAddRef(name) == MbResultOk) return name;
    return nullptr;
}

void CSinkPeer::SetPid(uint32_t id) {
    ScopedLock hold(*this);
    processId = id;
    if (source != nullptr) source->SetPid(id);
}

void CSinkPeer::SetSource(CSource* newSource) {
    ScopedLock hold(*this);
    if (!CheckedAddRef(newSource)) newSource = nullptr;
    if (source != nullptr) CheckedRelease(source);
    source = newSource;
    if (source != nullptr) {
        flags |= peer::kLocal;
        source->SetPid(processId);
    } else {
        flags &= ~peer::kLocal;
    }
}

bool CSinkPeer::Links(CSource* candidate) {
    ScopedLock hold(*this);
    return candidate != nullptr && source == candidate;
}

bool CSinkPeer::Test() {
    ScopedLock hold(*this);
    CSource* linked = CheckedAddRef(source) ? source : nullptr;
    const bool ok = (flags & peer::kLocal) != 0 && linked != nullptr && linked->Test();
    flags = ok ? flags & ~peer::kFailed : flags | peer::kFailed;
    if (linked != nullptr) CheckedRelease(linked);
    return ok;
}
