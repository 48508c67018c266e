// Server registration: the process's one interface, its endpoints and its dispatcher.
#include "platform/rpc/binding.h"
#include "platform/rpc/dispatcher.h"

#include <cstring>
#include <mutex>
#include <new>

namespace {

struct CServerState {
    std::mutex mutex;
    std::shared_ptr<CDispatcher> dispatcher;  // exists from the first registration or endpoint
};

// Never destroyed: a detached dispatcher may outlive static destruction.
CServerState& Server() {
    static CServerState* state = new CServerState;
    return *state;
}

bool SameUuid(const UUID& a, const UUID& b) {
    return std::memcmp(&a, &b, sizeof(UUID)) == 0;
}

// The dispatcher, created when missing. Called with the server mutex held.
RPC_STATUS DispatcherLocked(CServerState& server, std::shared_ptr<CDispatcher>* dispatcher) {
    if (!server.dispatcher) server.dispatcher = CDispatcher::Create();
    *dispatcher = server.dispatcher;
    return *dispatcher ? RPC_S_OK : RPC_S_OUT_OF_MEMORY;
}

}  // namespace

RPC_STATUS RpcServerRegisterIfEx(RPC_IF_HANDLE ifSpec, const UUID* mgrTypeUuid, RPC_MGR_EPV* mgrEpv, unsigned int flags,
                                 unsigned int, RPC_IF_CALLBACK_FN callback) {
    if (ifSpec == nullptr || mgrEpv == nullptr || !(flags & RPC_IF_AUTOLISTEN)) return RPC_S_INVALID_ARG;
    if (mgrTypeUuid != nullptr) return RPC_S_INVALID_ARG;
    CServerState& server = Server();
    std::lock_guard<std::mutex> lock(server.mutex);
    std::shared_ptr<CDispatcher> dispatcher;
    try {
        if (RPC_STATUS status = DispatcherLocked(server, &dispatcher)) return status;
    } catch (const std::bad_alloc&) {
        return RPC_S_OUT_OF_MEMORY;
    }
    if (dispatcher->Interface() != nullptr) {
        return dispatcher->Interface() == ifSpec && dispatcher->ManagerEpv() == mgrEpv ? RPC_S_OK
                                                                                       : RPC_S_TYPE_ALREADY_REGISTERED;
    }
    dispatcher->SetInterface(ifSpec, mgrEpv, callback);
    return dispatcher->Start() ? RPC_S_OK : RPC_S_OUT_OF_MEMORY;
}

RPC_STATUS RpcServerUseProtseqEpA(const char* protseq, unsigned int, const char* endpoint, void* securityDescriptor) {
    if (protseq == nullptr || std::strcmp(protseq, "ncalrpc") != 0) return RPC_S_PROTSEQ_NOT_SUPPORTED;
    if (securityDescriptor != nullptr) return RPC_S_INVALID_ARG;
    if (!EndpointNameValid(endpoint)) return RPC_S_INVALID_ENDPOINT_FORMAT;
    CServerState& server = Server();
    std::lock_guard<std::mutex> lock(server.mutex);
    try {
        std::shared_ptr<CDispatcher> dispatcher;
        if (RPC_STATUS status = DispatcherLocked(server, &dispatcher)) return status;
        return dispatcher->AddEndpoint(endpoint);
    } catch (const std::bad_alloc&) {
        return RPC_S_OUT_OF_MEMORY;
    }
}

RPC_STATUS RpcServerInqBindings(RPC_BINDING_VECTOR** bindingVector) {
    if (bindingVector == nullptr) return RPC_S_INVALID_ARG;
    *bindingVector = nullptr;
    std::vector<std::string> endpoints;
    {
        CServerState& server = Server();
        std::lock_guard<std::mutex> lock(server.mutex);
        if (server.dispatcher) endpoints = server.dispatcher->Endpoints();
    }
    if (endpoints.empty()) return RPC_S_NO_BINDINGS;
    auto* handles = new (std::nothrow) RPC_BINDING_HANDLE[endpoints.size()];
    auto* vector = handles ? new (std::nothrow) RPC_BINDING_VECTOR{0, handles} : nullptr;
    if (vector == nullptr) {
        delete[] handles;
        return RPC_S_OUT_OF_MEMORY;
    }
    for (const std::string& endpoint : endpoints) {
        vector->BindingH[vector->Count] = CRpcBinding::ForEndpoint(endpoint);
        if (vector->BindingH[vector->Count] == nullptr) {
            RpcBindingVectorFree(&vector);
            return RPC_S_OUT_OF_MEMORY;
        }
        ++vector->Count;
    }
    *bindingVector = vector;
    return RPC_S_OK;
}

RPC_STATUS RpcBindingVectorFree(RPC_BINDING_VECTOR** bindingVector) {
    if (bindingVector == nullptr || *bindingVector == nullptr) return RPC_S_INVALID_ARG;
    RPC_BINDING_VECTOR* vector = *bindingVector;
    for (unsigned long i = 0; i < vector->Count; ++i) RpcBindingFree(&vector->BindingH[i]);
    delete[] vector->BindingH;
    delete vector;
    *bindingVector = nullptr;
    return RPC_S_OK;
}

namespace {

std::shared_ptr<CDispatcher> CurrentDispatcher() {
    CServerState& server = Server();
    std::lock_guard<std::mutex> lock(server.mutex);
    return server.dispatcher;
}

}  // namespace

void RpcServerPauseIntake() {
    if (std::shared_ptr<CDispatcher> dispatcher = CurrentDispatcher()) dispatcher->PauseIntake();
}

void RpcServerResumeIntake() {
    if (std::shared_ptr<CDispatcher> dispatcher = CurrentDispatcher()) dispatcher->ResumeIntake();
}

bool RpcServerIntakePaused() {
    std::shared_ptr<CDispatcher> dispatcher = CurrentDispatcher();
    return dispatcher && dispatcher->IntakePaused();
}

RPC_STATUS RpcServerUnregisterIf(RPC_IF_HANDLE ifSpec, const UUID* mgrTypeUuid, unsigned int waitForCallsToComplete) {
    if (mgrTypeUuid != nullptr) return RPC_S_INVALID_ARG;
    std::shared_ptr<CDispatcher> dispatcher;
    {
        CServerState& server = Server();
        std::lock_guard<std::mutex> lock(server.mutex);
        RPC_IF_HANDLE registered = server.dispatcher ? server.dispatcher->Interface() : nullptr;
        // A null ifSpec withdraws whatever is registered.
        if (registered == nullptr || (ifSpec != nullptr && !SameUuid(ifSpec->id.Uuid, registered->id.Uuid))) {
            return RPC_S_UNKNOWN_IF;
        }
        dispatcher = std::move(server.dispatcher);
    }
    dispatcher->Stop(waitForCallsToComplete != 0);
    return RPC_S_OK;
}
