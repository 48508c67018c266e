// The sink's registry of peers, and the links of the sources it owns.
#include <new>
#include <vector>

#include "items/atom_values.h"
#include "items/item_handles.h"
#include "messaging/connection_notice.h"
#include "messaging/peer_flags.h"
#include "messaging/sink.h"
#include "messaging/sink_peer.h"
#include "messaging/source.h"
#include "runtime/tracer.h"

void CSink::TraceLink(const char* peerName, const char* outcome, uint32_t processId, uint32_t flags) {
    if (!TraceWanted()) return;
    CStrTracer out(trace::kDiagnostic);
    if (!AppendName(out)) return;
    out.Printf(": '%s' %s (PID=0x%08X, %s).", peerName, outcome, processId, peer::FlagsText(flags));
    out.PrintLine(nullptr);
    out.Flush();
}

bool CSink::OnConnect(const char* peerName, uint32_t processId) {
    uint32_t flags = 0;
    bool linked = false;
    {
        ScopedLock hold(*this);
        CSinkPeer* found = FindPeer(peerName);
        if (found == nullptr) {
            CRef<CSinkPeer> made = CRef<CSinkPeer>::Adopt(new (std::nothrow) CSinkPeer(peerName, processId));
            found = made.Get();
            if (!AddPeer(peerName, std::move(made))) found = nullptr;
        } else {
            found->SetPid(processId);
        }
        if (found != nullptr) {
            flags = found->ModifyFlags(peer::kRemote, peer::kRemote);
            linked = true;
        }
    }
    TraceLink(peerName, linked ? "connected" : "CONNECTION FAILED", processId, flags);
    return linked;
}

bool CSink::OnDisconnect(const char* peerName, uint32_t processId) {
    uint32_t flags = 0;
    bool found = false;
    {
        ScopedLock hold(*this);
        if (CSinkPeer* peer = FindPeer(peerName)) {
            found = true;
            flags = peer->ModifyFlags(peer::kRemote, 0);
            if ((flags & peer::kLocal) == 0) Remove(peers_, peerName);
        }
    }
    TraceLink(peerName, found ? "disconnected" : "DISCONNECTION FAILED", processId, flags);
    return found;
}

bool CSink::AddPeer(const char* peerName, CRef<CSinkPeer> peer) {
    std::string key;
    if (!peer || !RegistryKey(peerName, key)) return false;
    ScopedLock hold(*this);
    return peers_.emplace(key, std::move(peer)).second;
}

CSinkPeer* CSink::FindPeer(const char* peerName) {
    return Find(peers_, peerName);
}

uint32_t CSink::GetPeerFlags(const char* peerName) {
    ScopedLock hold(*this);
    CSinkPeer* peer = FindPeer(peerName);
    return peer != nullptr ? peer->GetFlags() : 0;
}

CCheckedRef<CItem> CSink::GetPeers() {
    ScopedLock hold(*this);
    if (peers_.empty()) return CCheckedRef<CItem>();
    CCheckedRef<CItem> result = Tracked(CItem::NewMap());
    if (!result) return result;
    CMap& map = *result->GetMap();
    for (auto& entry : peers_) {
        CCheckedRef<CItem> key = entry.second->GetName();
        CCheckedRef<CItem> value =
            Tracked(NewAtomItem(atom_value::Int(static_cast<int32_t>(entry.second->GetFlags()))));
        if (key && value) map.Set(key->GetAtom(), value.Get());
    }
    return result;
}

bool CSink::TestPeers() {
    ScopedLock hold(*this);
    bool all = true;
    for (auto& entry : peers_) all = entry.second->Test() && all;
    return all;
}

bool CSink::SendConnectionNotice(bool connect, CSource* source) {
    if (source == nullptr || name_.empty()) return false;
    const std::vector<uint8_t> notice = EncodeConnectionNotice(GetCurrentProcessId(), name_);
    CCheckedRef<CSource> shared = CCheckedRef<CSource>::Share(source);
    return shared && shared->Post(nullptr, connect ? MbControlConnect : MbControlDisconnect, MbKindSend, notice.data(),
                                  static_cast<uint16_t>(notice.size()));
}

// The notices of links are queued under the lock, together with the change of the peer's
// record: the peer hears of this sink's links to it in the order in which the record changed.
bool CSink::ConnectSource(CSource* source, const char* endpointName) {
    if (source == nullptr || endpointName == nullptr) return false;
    ScopedLock hold(*this);
    const bool ok = SendConnectionNotice(true, source);
    CSinkPeer* peer = FindPeer(endpointName);
    if (!ok) {
        if (peer != nullptr) peer->SetSource(nullptr);
        return false;
    }
    if (peer != nullptr) {
        peer->SetSource(source);
        return true;
    }
    return AddPeer(endpointName, CRef<CSinkPeer>::Adopt(new CSinkPeer(source)));
}

// Only the linked source withdraws the link. A source that a newer link to the same peer has
// replaced (a second source opened to it, or one opened while this one's close waited for
// pending requests) leaves the record alone and sends nothing: its notice would reach the peer
// after the newer link's and undo it.
void CSink::DisconnectSource(CSource* source, const char* endpointName) {
    if (source == nullptr || endpointName == nullptr) return;
    ScopedLock hold(*this);
    CSinkPeer* peer = FindPeer(endpointName);
    if (peer == nullptr || !peer->Links(source)) return;
    SendConnectionNotice(false, source);
    peer->SetSource(nullptr);
}
