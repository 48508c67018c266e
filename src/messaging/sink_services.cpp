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
        CRef<CSinkService>& entry = services_[key];
        replaced = std::move(entry);
        entry = std::move(service);
        ForgetLastService();
    }
    return added;
}

void CSink::RemoveService(const char* serviceName, const CSinkService* only) {
    Remove(services_, serviceName, only);
}

CSinkService* CSink::FindService(const char* serviceName) {
    return Find(services_, serviceName);
}

// Messages for one service usually follow each other: the service found last is kept with the
// exact name it was asked for, so the next message for that name skips the key and the registry.
// Every change of the registry forgets it, under the lock that guards both, and counts a new
// generation: while the generation stays, the held service is what the registry gives for its
// name, and the next message for that name takes neither the lock nor a reference. A service no
// longer held is released after the lock is left: releasing locks the service, which comes first.
CSinkService* CSink::HoldService(const char* serviceName) {
    if (held_ && serviceName != nullptr && heldGeneration_ == registryGeneration_.load(std::memory_order_acquire) &&
        heldName_ == serviceName) {
        return held_.Get();
    }
    CRef<CSinkService> dropped;
    {
        ScopedLock hold(*this);
        if (lastService_ == nullptr || serviceName == nullptr || lastServiceName_ != serviceName) {
            lastService_ = FindService(serviceName);
            lastServiceName_ = lastService_ != nullptr ? serviceName : "";
        }
        if (held_.Get() != lastService_) {
            dropped = std::move(held_);
            held_ = CRef<CSinkService>::Share(lastService_);
        }
        heldName_ = lastServiceName_;
        heldGeneration_ = registryGeneration_.load(std::memory_order_relaxed);
    }
    return held_.Get();
}

void CSink::OnBatchDone() {
    CRef<CSinkService> dropped = std::move(held_);
}

void CSink::ForgetLastService() {
    lastService_ = nullptr;
    lastServiceName_.clear();
    registryGeneration_.fetch_add(1, std::memory_order_release);
}
