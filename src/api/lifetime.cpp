// Exported lifetime functions: MbLibraryInit, MbLibraryTerm, MbVersionGet.
#include <mbus/mbus.h>

#include "api/guard.h"
#include "messaging/delivery.h"
#include "messaging/source.h"
#include "platform/rpc/rpc.h"
#include "requests/request_threads.h"
#include "runtime/allowed_users.h"
#include "runtime/process.h"
#include "runtime/rpc_manager.h"
#include "runtime/tracer.h"
#include "runtime/tracker.h"

namespace {

constexpr uint32_t kDrainMs = 5000;

// Takes the three pointers first, then destroys the manager, the tracker and the user tracer,
// in this order. Objects callers still hold stay in memory, unknown to any later tracker.
void DestroyProcessObjects() {
    delete process::rpcManager.exchange(nullptr);
    delete process::tracker.exchange(nullptr);
    delete process::userTracer.exchange(nullptr);
}

}  // namespace

// A second MbLibraryInit while the library is initialised succeeds without effect: the running
// threads, the installed callback and every live handle stay as they are.
extern "C" MbBool MbLibraryInit(void) noexcept {
    return Guarded<MbBool>(0, [] {
        if (process::Initialised()) return 1;
        if (process::userTracer.load() == nullptr) process::userTracer.store(new CUserTracer);
        if (process::tracker.load() == nullptr) process::tracker.store(new CTracker);
        process::rpcManager.store(new CRPCManager);
        ReadAllowedUsers();
        if (StartRequestThreads(&RunSourceBatch, &ResumeDelivery)) return 1;
        DestroyProcessObjects();
        return 0;
    });
}

extern "C" void MbLibraryTerm(void) noexcept {
    GuardedVoid([] {
        StopRequestThreads();
        // Messages kept back by receivers that did not read get as long as a request thread
        // gets to stop; what is still left then is reported lost.
        RpcClientDrain(kDrainMs);
        // The endpoint goes without waiting for running calls (the request threads are gone
        // already); only the objects they may still be using wait for them.
        if (CSink* sink = ProcessSink()) UnregisterEndpoint(sink, false);
        AwaitServerRoutines();
        DestroyProcessObjects();
    });
}

extern "C" uint32_t MbVersionGet(void) noexcept {
    return MbLibraryVersion;
}
