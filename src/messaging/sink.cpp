#include "messaging/sink.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "messaging/delivery.h"
#include "messaging/item_ref.h"
#include "messaging/peer_flags.h"
#include "messaging/sink_peer.h"
#include "messaging/sink_service.h"
#include "messaging/source.h"
#include "messaging/trace_line.h"
#include "requests/request_threads.h"
#include "runtime/tracer.h"
#include "runtime/tracker.h"

namespace {

constexpr size_t kMaxKeyLength = 255;
const char kDefaultService[] = "_default";

uint32_t SessionNumber() {
    DWORD session = 0;
    return ProcessIdToSessionId(GetCurrentProcessId(), &session) ? session : 0;
}

std::string DecoratedName(const char* name, uint32_t options) {
    char suffix[32];
    if (name == nullptr || name[0] == '\0') {
        std::snprintf(suffix, sizeof suffix, "#%u", GetCurrentProcessId());
        return suffix;
    }
    if ((options & MbOptionSession) == 0) return name;
    std::snprintf(suffix, sizeof suffix, "(%u)", SessionNumber());
    return std::string(name) + suffix;
}

}  // namespace

bool RegistryKey(const char* name, std::string& key) {
    if (name == nullptr || name[0] == '\0') return false;
    const size_t length = strnlen(name, kMaxKeyLength);
    key.assign(name, length);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return true;
}

CSink::CSink(const char* sinkName, HANDLE readyEvent, uint32_t sinkOptions)
    : options(sinkOptions), event(readyEvent), name(DecoratedName(sinkName, sinkOptions)) {
    className = "CSink";
}

CSink::~CSink() {
    Unregister(true);
    Shutdown();
}

void CSink::Shutdown() {
    Registry<CSinkService> oldServices;
    Registry<CSinkPeer> oldPeers;
    {
        ScopedLock hold(*this);
        oldServices.swap(services);
        ForgetLastService();
        oldPeers.swap(peers);
    }
    for (auto& entry : oldServices) entry.second->Release();
    for (auto& entry : oldPeers) entry.second->Release();
}

bool CSink::Register() {
    ScopedLock hold(*this);
    return RegisterEndpoint(this);
}

bool CSink::Unregister(bool wait) {
    return UnregisterEndpoint(this, wait);
}

bool CSink::AppendName(CTracer& out) {
    if (name.empty()) return false;
    out.Print(name.c_str());
    return true;
}

bool CSink::AppendName(CTraceLine& line) {
    if (name.empty()) return false;
    line.Append(name);
    return true;
}

bool CSink::AppendName(std::string& text) {
    if (name.empty()) return false;
    text += name;
    return true;
}

MbItem CSink::GetNameItem() {
    return name.empty() ? nullptr : MbAtomNewString(name.c_str());
}

bool CSink::Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) {
    const uint32_t control = flags & MbControlMask;
    HANDLE sinkEvent = GetEvent();
    const char* target = service != nullptr && service[0] != '\0' ? service : kDefaultService;
    if (kind != MbKindSend || control == 0) {
        CSinkService* found = HoldService(target);
        return found != nullptr && found->Dispatch(sinkEvent, flags, kind, data, length);
    }
    if (control == MbControlTest) {
        const bool found = FindService(target) != nullptr;
        OnTest();
        return found;
    }
    return OnConnectionNotice(control == MbControlConnect, data, length, flags);
}

bool CSink::OnConnectionNotice(bool connect, const uint8_t* data, uint16_t length, uint32_t flags) {
    if (length < 5) return false;
    const uint32_t processId = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
    const std::string peerName(reinterpret_cast<const char*>(data + 4), strnlen(reinterpret_cast<const char*>(data + 4), length - 4u));
    if (!(connect ? OnConnect(peerName.c_str(), processId) : OnDisconnect(peerName.c_str(), processId))) return false;
    CItemRef update(MbBuild("{s:b}", peerName.c_str(), connect ? 1 : 0));
    if (update.Get() == nullptr) return false;
    HANDLE sinkEvent = GetEvent();
    if (sinkEvent != nullptr) SetEvent(sinkEvent);
    CSinkService* fallback = HoldService(kDefaultService);
    if (fallback == nullptr) return true;
    CItemRef blob(MbItemToBytes(update.Get()));
    const void* bytes = nullptr;
    uint16_t size = 0;
    return MbAtomGetBlob(blob.Get(), &bytes, &size) == MbResultOk && size != 0 &&
           fallback->Dispatch(sinkEvent, flags & ~static_cast<uint32_t>(MbControlMask), MbKindUpdate,
                              static_cast<const uint8_t*>(bytes), size);
}

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
            CSinkPeer* made = new (std::nothrow) CSinkPeer(peerName, processId);
            if (made != nullptr && AddPeer(peerName, made)) {
                found = made;
            } else if (made != nullptr) {
                made->Release();
            }
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
            if ((flags & peer::kLocal) == 0) RemovePeer(peerName);
        }
    }
    TraceLink(peerName, found ? "disconnected" : "DISCONNECTION FAILED", processId, flags);
    return found;
}

bool CSink::OnTest() {
    if (!TraceWanted()) return true;
    CStrTracer out(trace::kDiagnostic);
    if (AppendName(out)) {
        out.PrintLine(": was tested.");
        out.Flush();
    }
    return true;
}

template <class T>
T* CSink::Find(Registry<T>& registry, const char* key) {
    std::string k;
    if (!RegistryKey(key, k)) return nullptr;
    ScopedLock hold(*this);
    if (registry.empty()) return nullptr;
    auto it = registry.find(k);
    return it == registry.end() ? nullptr : it->second;
}

template <class T>
void CSink::Remove(Registry<T>& registry, const char* key) {
    std::string k;
    if (!RegistryKey(key, k)) return;
    T* removed = nullptr;
    {
        ScopedLock hold(*this);
        auto it = registry.find(k);
        if (it == registry.end()) return;
        removed = it->second;
        registry.erase(it);
        ForgetLastService();
    }
    removed->Release();
}

CSinkService* CSink::AddService(const char* serviceName, HANDLE serviceEvent) {
    if (serviceName == nullptr) return nullptr;
    std::string key;
    CSinkService* service = new CSinkService(this, serviceName, serviceEvent);
    if (!RegistryKey(serviceName, key)) {
        service->Release();
        return nullptr;
    }
    RemoveService(serviceName);
    ScopedLock hold(*this);
    try {
        services[key] = service;
        ForgetLastService();
    } catch (...) {
        service->Release();
        throw;
    }
    return service;
}

void CSink::RemoveService(const char* serviceName) {
    Remove(services, serviceName);
}

CSinkService* CSink::FindService(const char* serviceName) {
    return Find(services, serviceName);
}

// Messages for one service usually follow each other: the service found last is kept with the
// exact name it was asked for, so the next message for that name skips the key and the registry.
// Every change of the registry forgets it, under the lock that guards both, and counts a new
// generation: while the generation stays, the held service is what the registry gives for its
// name, and the next message for that name takes neither the lock nor a reference. A service no
// longer held is released after the lock is left: releasing locks the service, which comes first.
CSinkService* CSink::HoldService(const char* serviceName) {
    if (held && serviceName != nullptr && heldGeneration == registryGeneration.load(std::memory_order_acquire) &&
        heldName == serviceName) {
        return held.Get();
    }
    CRef<CSinkService> dropped;
    {
        ScopedLock hold(*this);
        if (lastService == nullptr || serviceName == nullptr || lastServiceName != serviceName) {
            lastService = FindService(serviceName);
            lastServiceName = lastService != nullptr ? serviceName : "";
        }
        if (held.Get() != lastService) {
            dropped = std::move(held);
            held = CRef<CSinkService>::Share(lastService);
        }
        heldName = lastServiceName;
        heldGeneration = registryGeneration.load(std::memory_order_relaxed);
    }
    return held.Get();
}

void CSink::OnBatchDone() {
    CRef<CSinkService> dropped = std::move(held);
}

void CSink::ForgetLastService() {
    lastService = nullptr;
    lastServiceName.clear();
    registryGeneration.fetch_add(1, std::memory_order_release);
}

bool CSink::AddPeer(const char* peerName, CSinkPeer* peer) {
    std::string key;
    if (peer == nullptr || !RegistryKey(peerName, key)) return false;
    ScopedLock hold(*this);
    return peers.emplace(key, peer).second;
}

void CSink::RemovePeer(const char* peerName) {
    Remove(peers, peerName);
}

CSinkPeer* CSink::FindPeer(const char* peerName) {
    return Find(peers, peerName);
}

uint32_t CSink::GetPeerFlags(const char* peerName) {
    ScopedLock hold(*this);
    CSinkPeer* peer = FindPeer(peerName);
    return peer != nullptr ? peer->GetFlags() : 0;
}

MbItem CSink::GetPeers() {
    ScopedLock hold(*this);
    if (peers.empty()) return nullptr;
    MbItem map = MbMapNew();
    if (map == nullptr) return nullptr;
    for (auto& entry : peers) {
        MbItem key = entry.second->GetName();
        MbItem value = MbAtomNewInt(static_cast<int32_t>(entry.second->GetFlags()));
        if (key != nullptr && value != nullptr) MbItemSet(map, key, value);
        if (value != nullptr) MbHandleRelease(value);
        if (key != nullptr) MbHandleRelease(key);
    }
    return map;
}

bool CSink::TestPeers() {
    ScopedLock hold(*this);
    bool all = true;
    for (auto& entry : peers) all = entry.second->Test() && all;
    return all;
}

CSource* CSink::OpenSource(const char* sinkName, uint32_t sourceOptions) {
    CSource* source = new CSource(sinkName, sourceOptions, this);
    if (source->Open()) return source;
    source->Release();
    return nullptr;
}

bool CSink::SendConnectionNotice(bool connect, CSource* source) {
    if (source == nullptr) return false;
    if (name.empty()) return false;
    std::vector<uint8_t> notice(name.size() + 5);
    const uint32_t pid = GetCurrentProcessId();
    for (int i = 0; i < 4; ++i) notice[i] = static_cast<uint8_t>(pid >> (8 * i));
    std::memcpy(notice.data() + 4, name.data(), name.size());
    notice.back() = 0;
    if (!CheckedAddRef(source)) return false;
    const bool posted = source->Post(nullptr, connect ? MbControlConnect : MbControlDisconnect, MbKindSend,
                                     notice.data(), static_cast<uint16_t>(notice.size()));
    CheckedRelease(source);
    return posted;
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
    CSinkPeer* made = new CSinkPeer(source);
    if (AddPeer(endpointName, made)) return true;
    made->Release();
    return false;
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
