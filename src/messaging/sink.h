// CSink: the receiving end of a process. The registered sink owns the process's endpoint, the
// registry of its services and the registry of its peers; the sink request thread hands it
// every incoming message. Its work is split by job: sink.cpp (endpoint, names, incoming
// messages), sink_services.cpp (the service registry), sink_peers.cpp (the peer registry and
// the links of owned sources).
#pragma once

#include <mbus/mbus.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "base/thread_safety.h"
#include "items/item.h"
#include "messaging/sink_service.h"
#include "platform/platform.h"
#include "requests/request_handler.h"

class CSinkPeer;
class CSource;
class CTracer;

class CSink final : public CRequestHandler {
public:
    // An absent or empty name becomes "#<pid>"; with MbOptionSession the session number is
    // appended as "(<session>)".
    CSink(const char* sinkName, HANDLE readyEvent, uint32_t options);
    // Unregisters (waiting) when still the process sink, then releases services and peers.
    ~CSink() override;

    // Registers the endpoint under the name and creates the default service. The sink is
    // locked throughout.
    bool Register();
    bool Unregister(bool wait);
    // Releases every service and peer. Services hold a reference to their sink, and peers
    // reach it through owned sources: closing the sink breaks those cycles so it can go.
    void Shutdown();

    const char* Name() override { return name_.c_str(); }
    bool Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) override;
    // Lets go of the service held for the batch.
    void OnBatchDone() override;

    // The event and the name are fixed at construction: read without the lock.
    HANDLE GetEvent() const { return event_; }
    // Appends the name to a trace line; false when there is none.
    bool AppendName(CTracer& out);
    bool AppendName(std::string& text);

    // Registers a new service under the name, replacing one of the same key. The registry holds
    // one reference; the result carries none of its own.
    CSinkService* AddService(const char* serviceName, HANDLE serviceEvent);
    // Removes the service of that name; with `only` given, only when it is that service (a
    // replaced service that closes leaves its successor registered).
    void RemoveService(const char* serviceName, const CSinkService* only = nullptr);
    CSinkService* FindService(const char* serviceName);

    uint32_t GetPeerFlags(const char* peerName);
    // A new Map from each peer's name to its flags as Int; empty without peers.
    CCheckedRef<CItem> GetPeers();
    bool TestPeers();

    // A source owned by this sink, bound to the named sink and announced to it; null on failure.
    CSource* OpenSource(const char* sinkName, uint32_t options);
    // Queues the connection notice through `source` and links it to the peer's record, made when
    // missing.
    bool ConnectSource(CSource* source, const char* endpointName);
    // Queues the disconnection notice through `source` and unlinks it, when it is the source the
    // peer's record links; does nothing otherwise.
    void DisconnectSource(CSource* source, const char* endpointName);

private:
    template <class T>
    using Registry = std::map<std::string, CRef<T>>;

    bool OnConnect(const char* peerName, uint32_t processId);
    bool OnDisconnect(const char* peerName, uint32_t processId);
    bool OnTest();
    bool OnConnectionNotice(bool connect, const uint8_t* data, uint16_t length, uint32_t flags);
    bool SendConnectionNotice(bool connect, CSource* source);
    void TraceLink(const char* peerName, const char* outcome, uint32_t processId, uint32_t flags);
    // False when a peer of that key exists already or the name has no key; atomic.
    bool AddPeer(const char* peerName, CRef<CSinkPeer> peer);
    CSinkPeer* FindPeer(const char* peerName);
    // Called under the lock by every change of the service registry.
    void ForgetLastService() REQUIRES(this);
    // As FindService, held with a reference (a caller may close the service while a message for
    // it is handled) until the batch ends or another service is asked for, so that consecutive
    // messages for one service take no reference each. Sink request thread only.
    CSinkService* HoldService(const char* serviceName);

    template <class T>
    T* Find(Registry<T>& registry, const char* key);
    // Takes the entry out under the lock and releases it after the lock is left; with `only`
    // given, only when the entry holds that object.
    template <class T>
    void Remove(Registry<T>& registry, const char* key, const T* only = nullptr);

    const HANDLE event_;
    const std::string name_;
    Registry<CSinkPeer> peers_;
    Registry<CSinkService> services_;
    // The service HoldService found last (the registry holds its reference) and the name it was
    // asked for; null when forgotten.
    CSinkService* lastService_ = nullptr;
    std::string lastServiceName_;
    // Counts the changes of the service registry (ForgetLastService); written under the lock.
    std::atomic<uint32_t> registryGeneration_{0};
    // The service held for the current batch, the name it was asked for and the registry's
    // generation when it was found. Sink request thread only, without the lock.
    CRef<CSinkService> held_;
    std::string heldName_;
    uint32_t heldGeneration_ = 0;
};

// The registry key of a name: cut to 255 characters and lower-cased; false when the name is
// absent or empty (such a name has no key).
bool RegistryKey(const char* name, std::string& key);
