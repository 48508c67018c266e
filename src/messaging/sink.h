// CSink: the receiving end of a process. The registered sink owns the process's endpoint, the
// registry of its services and the registry of its peers; the sink request thread hands it
// every incoming message.
#pragma once

#include <mbus/mbus.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "platform/platform.h"
#include "messaging/sink_service.h"
#include "requests/request_handler.h"

class CSinkPeer;
class CSource;
class CTraceLine;
class CTracer;

class CSink final : public CRequestHandler {
public:
    // An absent or empty name becomes "#<pid>"; with options bit 0 the session number is
    // appended as "(<session>)".
    CSink(const char* name, HANDLE event, uint32_t options);
    // Unregisters (waiting) when still the process sink, then releases services and peers.
    ~CSink() override;

    // Registers the endpoint under the name and creates the default service. The sink is
    // locked throughout.
    bool Register();
    bool Unregister(bool wait);
    // Releases every service and peer. Services hold a reference to their sink, and peers
    // reach it through owned sources: closing the sink breaks those cycles so it can go.
    void Shutdown();

    const char* Name() override { return name.c_str(); }
    bool Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) override;
    // Lets go of the service held for the batch.
    void OnBatchDone() override;

    // The event and the name are fixed at construction: read without the lock.
    HANDLE GetEvent() const { return event; }
    // Appends the name to a trace line; false when there is none.
    bool AppendName(CTracer& out);
    bool AppendName(CTraceLine& line);
    bool AppendName(std::string& text);
    // A new String item of the name, or null.
    MbItem GetNameItem();

    // The registry holds one reference; the result carries none of its own.
    CSinkService* AddService(const char* serviceName, HANDLE serviceEvent);
    void RemoveService(const char* serviceName);
    CSinkService* FindService(const char* serviceName);

    // False when a peer of that key exists already or the name has no key; atomic.
    bool AddPeer(const char* peerName, CSinkPeer* peer);
    void RemovePeer(const char* peerName);
    CSinkPeer* FindPeer(const char* peerName);
    uint32_t GetPeerFlags(const char* peerName);
    // A new Map from each peer's name to its flags as Int, or null without peers.
    MbItem GetPeers();
    bool TestPeers();

    // A source owned by this sink, bound to the named sink and announced to it; null on failure.
    CSource* OpenSource(const char* sinkName, uint32_t options);
    // Queues the connection notice through `source` and links it to the peer's record, made when
    // missing.
    bool ConnectSource(CSource* source, const char* endpointName);
    // Queues the disconnection notice through `source` and unlinks it, when it is the source the
    // peer's record links; does nothing otherwise.
    void DisconnectSource(CSource* source, const char* endpointName);
    bool SendConnectionNotice(bool connect, CSource* source);

private:
    bool OnConnect(const char* peerName, uint32_t processId);
    bool OnDisconnect(const char* peerName, uint32_t processId);
    bool OnTest();
    bool OnConnectionNotice(bool connect, const uint8_t* data, uint16_t length, uint32_t flags);
    void TraceLink(const char* peerName, const char* outcome, uint32_t processId, uint32_t flags);
    // Called under the lock by every change of the service registry.
    void ForgetLastService() REQUIRES(this);
    // As FindService, held with a reference (a caller may close the service while a message for
    // it is handled) until the batch ends or another service is asked for, so that consecutive
    // messages for one service take no reference each. Sink request thread only.
    CSinkService* HoldService(const char* serviceName);

    template <class T>
    using Registry = std::map<std::string, T*>;

    template <class T>
    T* Find(Registry<T>& registry, const char* key);
    template <class T>
    void Remove(Registry<T>& registry, const char* key);

    // Kept as given: bit 0 is applied to the name at construction, other bits mean nothing yet.
    [[maybe_unused]] uint32_t options;
    const HANDLE event;
    const std::string name;
    Registry<CSinkPeer> peers;
    Registry<CSinkService> services;
    // The service HoldService found last (the registry holds its reference) and the name it was
    // asked for; null when forgotten.
    CSinkService* lastService = nullptr;
    std::string lastServiceName;
    // Counts the changes of the service registry (ForgetLastService); written under the lock.
    std::atomic<uint32_t> registryGeneration{0};
    // The service held for the current batch, the name it was asked for and the registry's
    // generation when it was found. Sink request thread only, without the lock.
    CRef<CSinkService> held;
    std::string heldName;
    uint32_t heldGeneration = 0;
};

// The registry key of a name: cut to 255 characters and lower-cased; false when the name is
// absent or empty (such a name has no key).
bool RegistryKey(const char* name, std::string& key);
