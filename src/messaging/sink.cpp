#include "messaging/sink.h"

#include <cstdio>
#include <cstring>

#include "items/str.h"
#include "messaging/connection_notice.h"
#include "messaging/delivery.h"
#include "messaging/session_name.h"
#include "messaging/sink_peer.h"
#include "messaging/source.h"
#include "requests/inline_hold.h"
#include "runtime/object_memory.h"
#include "runtime/tracer.h"

// Every incoming message checks its reference to the sink: from slab memory, by its stamp.
static_assert(sizeof(CSink) <= kLargestSlabBlock);

namespace {

constexpr size_t kMaxKeyLength = 255;

std::string DecoratedName(const char* name, uint32_t options) {
    if (name == nullptr || name[0] == '\0') return "#" + std::to_string(GetCurrentProcessId());
    return (options & MbOptionSession) != 0 ? WithSessionSuffix(name) : std::string(name);
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

CSink::CSink(const char* sinkName, HANDLE readyEvent, uint32_t options)
    : event_(readyEvent), name_(DecoratedName(sinkName, options)) {
    className_ = "CSink";
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
        oldServices.swap(services_);
        ForgetLastService();
        oldPeers.swap(peers_);
    }
}

bool CSink::Register() {
    ScopedLock hold(*this);
    return RegisterEndpoint(this);
}

bool CSink::Unregister(bool wait) {
    return UnregisterEndpoint(this, wait);
}

bool CSink::AppendName(CTracer& out) {
    if (name_.empty()) return false;
    out.Print(name_.c_str());
    return true;
}

bool CSink::AppendName(std::string& text) {
    if (name_.empty()) return false;
    text += name_;
    return true;
}

bool CSink::Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) {
    const uint32_t control = flags & MbControlMask;
    HANDLE sinkEvent = GetEvent();
    const char* target = service != nullptr && service[0] != '\0' ? service : CSinkService::kDefaultName;
    if (kind != MbKindSend || control == 0) {
        CSinkService* found;
        {
            // Held for the look-up only, so that no other lock is ever taken under it here.
            const CInlineHold inlineHold(this);
            if (!inlineHold.Ok()) return false;
            found = HoldService(target);
        }
        return found != nullptr && found->Dispatch(sinkEvent, flags, kind, data, length);
    }
    if (control == MbControlTest) {
        const bool found = FindService(target) != nullptr;
        OnTest();
        return found;
    }
    return OnConnectionNotice(control == MbControlConnect, data, length, flags);
}

// The peer's record changes first; the sink's event is signalled once it did, and the default
// service then takes the update like any other.
bool CSink::OnConnectionNotice(bool connect, const uint8_t* data, uint16_t length, uint32_t flags) {
    uint32_t processId = 0;
    std::string peerName;
    if (!DecodeConnectionNotice(data, length, &processId, &peerName)) return false;
    if (!(connect ? OnConnect(peerName.c_str(), processId) : OnDisconnect(peerName.c_str(), processId))) return false;
    CRef<CItem> update = StoredConnectionUpdate(peerName, connect);
    if (!update) return false;
    HANDLE sinkEvent = GetEvent();
    if (sinkEvent != nullptr) SetEvent(sinkEvent);
    CSinkService* fallback = HoldService(CSinkService::kDefaultName);
    if (fallback == nullptr) return true;
    const CStr* bytes = update->GetAtom()->GetBlob();
    return bytes != nullptr && !bytes->IsEmpty() &&
           fallback->Dispatch(sinkEvent, flags & ~static_cast<uint32_t>(MbControlMask), MbKindUpdate,
                              reinterpret_cast<const uint8_t*>(bytes->GetString()),
                              static_cast<uint16_t>(bytes->Length()));
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

CSource* CSink::OpenSource(const char* sinkName, uint32_t options) {
    CRef<CSource> source = CRef<CSource>::Adopt(new CSource(sinkName, options, this));
    return source->Open() ? source.Detach() : nullptr;
}

template <class T>
T* CSink::Find(Registry<T>& registry, const char* key) {
    std::string k;
    if (!RegistryKey(key, k)) return nullptr;
    ScopedLock hold(*this);
    if (registry.empty()) return nullptr;
    auto it = registry.find(k);
    return it == registry.end() ? nullptr : it->second.Get();
}

template <class T>
void CSink::Remove(Registry<T>& registry, const char* key, const T* only) {
    std::string k;
    if (!RegistryKey(key, k)) return;
    CRef<T> removed;
    {
        ScopedLock hold(*this);
        auto it = registry.find(k);
        if (it == registry.end() || (only != nullptr && it->second.Get() != only)) return;
        removed = std::move(it->second);
        registry.erase(it);
        ForgetLastService();
    }
}

template CSinkService* CSink::Find(Registry<CSinkService>&, const char*);
template CSinkPeer* CSink::Find(Registry<CSinkPeer>&, const char*);
template void CSink::Remove(Registry<CSinkService>&, const char*, const CSinkService*);
template void CSink::Remove(Registry<CSinkPeer>&, const char*, const CSinkPeer*);
