#include "messaging/delivery.h"

#include <atomic>
#include <cstring>
#include <string>

#include "messaging/deliver_interface.h"
#include "messaging/refused_peers.h"
#include "messaging/sink.h"
#include "messaging/sink_listing.h"
#include "platform/rpc/peer_access.h"
#include "requests/gathered_posts.h"
#include "requests/request_threads.h"
#include "runtime/allowed_users.h"
#include "runtime/object_memory.h"
#include "runtime/process.h"
#include "runtime/reports.h"
#include "runtime/tracker.h"
#include "runtime/user_count.h"

namespace {

constexpr size_t kMaxEndpointLength = 31;
constexpr unsigned kProtseqMaxCalls = 10;
constexpr unsigned kInterfaceMaxCalls = 1234;
constexpr uint16_t kLastKind = 6;

// Read by the dispatcher thread without a lock and validated through the tracker before use.
// A sink lives in a slab block, which stays readable after the sink is gone: its stamp is read
// first (CheckedAddRefHeld), whatever became of it.
std::atomic<CSink*> processSink{nullptr};
static_assert(sizeof(CSink) <= kLargestSlabBlock);

// A reference to the process's sink, or none when there is no sink or it is gone.
CCheckedRef<CSink> ShareProcessSink() {
    CSink* sink = processSink.load();
    return sink != nullptr && CheckedAddRefHeld(sink) ? CCheckedRef<CSink>::Adopt(sink) : CCheckedRef<CSink>();
}

// Server routines running now: each counts itself before it reads processSink.
CUserCount serving;

CRefusedPeers refusedPeers;

// Serves the processes of this process's user, of root and of the users MBUS_ALLOW_USERS names;
// any other connection is refused, and traced the first time its process is refused. Counted as
// a server routine, so that the trace cannot outlive the process objects.
RPC_STATUS AdmitAllowedUsers(RPC_IF_HANDLE, void* context) {
    uint32_t pid = 0;
    uint32_t uid = 0;
    if (RpcBindingInqPeerCredentials(static_cast<RPC_BINDING_HANDLE>(context), &pid, &uid, nullptr) != RPC_S_OK) {
        return RPC_S_ACCESS_DENIED;
    }
    if (RpcServerPeerAllowed(uid)) return RPC_S_OK;
    const CUserCount::CUse use(serving);
    if (processSink.load() != nullptr && refusedPeers.FirstRefusal(pid, uid)) {
        ReportWarningText(
            "delivery refused to process %u of user %u, which is not the sink's user, root or in "
            "MBUS_ALLOW_USERS",
            pid, uid);
    }
    return RPC_S_ACCESS_DENIED;
}

// The messages of the dispatcher's current run of frames that go to the sink request thread,
// gathered per request and queued when it is full, before a message that goes another way, and
// at the end of the run (EndDeliveryRun).
constinit thread_local CGatheredPosts tGathered __attribute__((tls_model("initial-exec"))){true};

// The report of a message that found no memory to be queued, and the hold-off of a queue that
// it filled: the senders' writes then wait in their sockets until the sink request thread takes
// the queue (ResumeDelivery).
void Settle(bool taken, bool full) {
    if (!taken) ReportError("failed to allocate a request for an incoming message");
    if (full) RpcServerPauseIntake();
}

void FlushGathered() {
    if (tGathered.Empty()) return;
    bool full = false;
    const bool queued = tGathered.Flush(&full);
    Settle(queued, full);
}

// A frame with more read behind it is part of a stream: it joins the request gathered for the
// sink, which holds a reference to the sink already, so it costs no reference, count or lock of
// its own while the sink stays the process's. A message to a service with nothing read behind
// it runs here at once when the sink request thread is idle with nothing queued: it saves that
// thread's wake-up. Control messages change peer records and always go to the thread. A message
// that opens a request, or is posted, hands the request this call's reference to the sink.
void ServeDeliver(RPC_BINDING_HANDLE, const char* service, uint32_t flags, uint16_t kind, const uint8_t* data,
                  uint16_t length) {
    if (kind > kLastKind) return;
    const CUserCount::CUse use(serving);
    const bool control = kind == MbKindSend && (flags & MbControlMask) != 0;
    const bool stream = !control && !RpcServerCallCameAlone();
    if (stream && process::Initialised() && tGathered.Append(processSink.load(), service, flags, kind, data, length)) {
        return;
    }
    FlushGathered();
    CCheckedRef<CSink> sink = ShareProcessSink();
    if (!sink || !process::Initialised()) return;
    CSink* target = sink.Get();
    CRef<CRequestHandler> reference = std::move(sink);
    bool full = false;
    bool taken;
    if (stream) {
        taken = tGathered.Open(target, &reference, service, flags, kind, data, length);
    } else if (control) {
        taken = PostRequest(true, target, service, flags, kind, data, length, &reference, &full);
    } else {
        taken = RunOrPostRequest(true, target, service, flags, kind, data, length, &reference, &full);
    }
    Settle(taken, full);
}

// Counted as a server routine, like the calls whose messages it queues; a run of one frame
// gathered nothing and costs nothing here.
void EndDeliveryRun() {
    if (tGathered.Empty()) return;
    const CUserCount::CUse use(serving);
    FlushGathered();
}

Deliver_v1_0_epv_t managerEntries = {&ServeDeliver, &EndDeliveryRun};

// Withdraws the map entries of every server binding; false when there is nothing to withdraw.
bool WithdrawBindings() {
    RPC_BINDING_VECTOR* bindings = nullptr;
    if (RpcServerInqBindings(&bindings) != RPC_S_OK || bindings == nullptr || bindings->Count == 0) {
        if (bindings != nullptr) RpcBindingVectorFree(&bindings);
        return false;
    }
    RpcEpUnregister(Deliver_v1_0_s_ifspec, bindings, nullptr);
    return RpcBindingVectorFree(&bindings) == RPC_S_OK;
}

}  // namespace

void ResumeDelivery() {
    RpcServerResumeIntake();
}

CSink* ProcessSink() {
    return processSink.load(std::memory_order_acquire);
}

bool RegisterEndpoint(CSink* sink) {
    if (processSink.load() != nullptr) return false;
    const char* name = sink->Name();
    const size_t length = name != nullptr ? strnlen(name, kMaxEndpointLength + 1) : 0;
    if (length == 0 || length > kMaxEndpointLength) return false;
    if (RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, &managerEntries,
                              RPC_IF_AUTOLISTEN | RPC_IF_ALLOW_LOCAL_ONLY, kInterfaceMaxCalls,
                              &AdmitAllowedUsers) != RPC_S_OK) {
        return false;
    }
    processSink.store(sink, std::memory_order_release);
    ReportIgnoredAllowedUsers();
    bool ok = RpcServerUseProtseqEpA("ncalrpc", kProtseqMaxCalls, name, nullptr) == RPC_S_OK;
    RPC_BINDING_VECTOR* bindings = nullptr;
    bool mapped = false;
    if (ok) ok = RpcServerInqBindings(&bindings) == RPC_S_OK && bindings != nullptr && bindings->Count != 0;
    if (ok) {
        const std::string annotation = SinkAnnotationFormat(name, GetCurrentProcessId());
        mapped = RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, bindings, nullptr, annotation.c_str()) == RPC_S_OK;
    }
    if (bindings != nullptr && RpcBindingVectorFree(&bindings) != RPC_S_OK) ok = false;
    ok = ok && mapped && sink->AddService(CSinkService::kDefaultName, nullptr) != nullptr;
    if (!ok) UnregisterEndpoint(sink, false);
    return ok;
}

bool UnregisterEndpoint(CSink* sink, bool wait) {
    if (sink == nullptr || processSink.load() != sink) return false;
    // Without server bindings (the endpoint was refused) the interface is withdrawn too, so a
    // later sink can register from a clean state.
    bool ok = WithdrawBindings();
    if (RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, wait ? 1 : 0) != RPC_S_OK) ok = false;
    processSink.store(nullptr);
    return ok;
}

// A routine still running is short: without request threads its post returns at once.
void AwaitServerRoutines() {
    serving.AwaitNone();
}
