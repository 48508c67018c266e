// The sink's registry of services.
#include "messaging/sink.h"

CSinkService* CSink::AddService(const char* serviceName, HANDLE serviceEvent) {
    std::string key;
    if (!RegistryKey(serviceName, key)) return nullptr;
    CRef<CSinkService> service = CRef<CSinkService>::Adopt(new CSinkService(this, serviceName, serviceEvent));
    RemoveService(serviceName);
    CSinkService* added = service.Get();
    // A service that another thread registered meanwhile is replaced and released after the
    // lock is left.
    CRef<CSinkService> replaced;
    {
        ScopedLock hold(*this);
        CRef<CSinkService>& entry = services[key];
        replaced = std::move(entry);
        entry = std::move(service);
        ForgetLastService();
    }
    return added;
}

void CSink::RemoveService(const char* serviceName, const CSinkService* only) {
    Remove(services, serviceName, only);
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
