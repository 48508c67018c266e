// Shared pieces of the RPC tests: a recording server, unique endpoints, bindings, bounded waits.
#pragma once

#include "messaging/deliver_interface.h"
#include "messaging/sink_listing.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// "mbt<pid>-<tag>": unique per test process, at most 31 characters for short tags.
inline std::string TestEndpoint(const std::string& tag) {
    return "mbt" + std::to_string(getpid()) + "-" + tag;
}

struct CRecordedCall {
    std::string service;
    uint32_t flags;
    uint16_t kind;
    bool dataNull;
    std::vector<uint8_t> data;
    uint32_t peerPid;
    bool operator==(const CRecordedCall&) const = default;
};

// The calls that reached the recording routine, in arrival order; the hook runs before each.
// runEnds holds, for each run of calls that ended, how many calls were recorded by then.
struct CCallRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<CRecordedCall> calls;
    std::vector<size_t> runEnds;
    std::function<void()> hook;
};

// Never destroyed: a dispatcher thread may record during static destruction.
inline CCallRecorder& gRecorder = *new CCallRecorder;

inline void RecordingDeliver(RPC_BINDING_HANDLE callBinding, const char* service, uint32_t flags, uint16_t kind,
                             const uint8_t* data, uint16_t length) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(gRecorder.mutex);
        hook = gRecorder.hook;
    }
    if (hook) hook();
    uint32_t pid = 0;
    RpcBindingInqPeerCredentials(callBinding, &pid, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(gRecorder.mutex);
    gRecorder.calls.push_back(CRecordedCall{service, flags, kind, data == nullptr,
                                            data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>(),
                                            pid});
    gRecorder.changed.notify_all();
}

inline void RecordingEndOfRun() {
    std::lock_guard<std::mutex> lock(gRecorder.mutex);
    gRecorder.runEnds.push_back(gRecorder.calls.size());
    gRecorder.changed.notify_all();
}

inline void ClearCalls() {
    std::lock_guard<std::mutex> lock(gRecorder.mutex);
    gRecorder.calls.clear();
    gRecorder.runEnds.clear();
}

inline std::vector<size_t> WaitForRunEnds(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> lock(gRecorder.mutex);
    gRecorder.changed.wait_for(lock, timeout, [&] { return gRecorder.runEnds.size() >= count; });
    return gRecorder.runEnds;
}

inline std::vector<CRecordedCall> WaitForCalls(size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock<std::mutex> lock(gRecorder.mutex);
    gRecorder.changed.wait_for(lock, timeout, [&] { return gRecorder.calls.size() >= count; });
    return gRecorder.calls;
}

inline void SetCallHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(gRecorder.mutex);
    gRecorder.hook = std::move(hook);
}

// The delivery interface, endpoint and optional annotation, as a sink registers them; Stop (or
// destruction) withdraws them, waiting for a call in progress.
class CTestServer {
public:
    ~CTestServer() { Stop(); }
    RPC_STATUS Start(const std::string& endpoint, const char* annotation = nullptr) {
        static Deliver_v1_0_epv_t manager = {RecordingDeliver, RecordingEndOfRun};
        RPC_STATUS status = RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, &manager,
                                                  RPC_IF_AUTOLISTEN | RPC_IF_ALLOW_LOCAL_ONLY, 1234, nullptr);
        if (status != RPC_S_OK) return status;
        interface_ = true;
        if ((status = RpcServerUseProtseqEpA("ncalrpc", 10, endpoint.c_str(), nullptr)) != RPC_S_OK) return status;
        if (annotation == nullptr) return RPC_S_OK;
        RPC_BINDING_VECTOR* vector = nullptr;
        if ((status = RpcServerInqBindings(&vector)) != RPC_S_OK) return status;
        status = RpcEpRegisterNoReplaceA(Deliver_v1_0_s_ifspec, vector, nullptr, annotation);
        mapped_ = status == RPC_S_OK;
        RpcBindingVectorFree(&vector);
        return status;
    }
    RPC_STATUS Stop() {
        RPC_STATUS status = RPC_S_OK;
        RPC_BINDING_VECTOR* vector = nullptr;
        if (mapped_ && (status = RpcServerInqBindings(&vector)) == RPC_S_OK) {
            status = RpcEpUnregister(Deliver_v1_0_s_ifspec, vector, nullptr);
            RpcBindingVectorFree(&vector);
        }
        const RPC_STATUS unregistered = interface_ ? RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, 1) : RPC_S_OK;
        mapped_ = interface_ = false;
        return status != RPC_S_OK ? status : unregistered;
    }

private:
    bool interface_ = false;
    bool mapped_ = false;
};

// A client binding made the way a source makes it, freed with its holder.
class CTestBinding {
public:
    explicit CTestBinding(const std::string& endpoint) {
        RPC_CSTR text = nullptr;
        if (RpcStringBindingComposeA(nullptr, "ncalrpc", nullptr, endpoint.c_str(), nullptr, &text) == RPC_S_OK) {
            RpcBindingFromStringBindingA(text, &handle_);
            RpcStringFreeA(&text);
        }
    }
    ~CTestBinding() { RpcBindingFree(&handle_); }
    CTestBinding(const CTestBinding&) = delete;
    CTestBinding& operator=(const CTestBinding&) = delete;
    operator RPC_BINDING_HANDLE() const { return handle_; }

private:
    RPC_BINDING_HANDLE handle_ = nullptr;
};

// A raw listener on endpoint that never accepts: connections wait in its backlog and what is
// written to them stays in their sockets. -1 when it cannot be made.
inline int ListenWithoutAccepting(const std::string& endpoint, int backlog) {
    CAbstractAddress address;
    const int listener = address.Set(kEndpointPrefix, endpoint) ? UnixStreamSocket(false) : -1;
    if (listener >= 0 && (bind(listener, address.Get(), address.Length()) != 0 || listen(listener, backlog) != 0)) {
        CloseDescriptor(listener);
        return -1;
    }
    return listener;
}

// A raw client of an endpoint that writes bytes of its choice; a failed connect shows as a
// failed write.
class CRawClient {
public:
    explicit CRawClient(const std::string& endpoint) : fd_(UnixStreamSocket(false)) {
        CAbstractAddress address;
        connected_ = address.Set(kEndpointPrefix, endpoint) && connect(fd_, address.Get(), address.Length()) == 0;
    }
    ~CRawClient() { CloseDescriptor(fd_); }
    CRawClient(const CRawClient&) = delete;
    CRawClient& operator=(const CRawClient&) = delete;
    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }
    bool Write(const uint8_t* bytes, size_t size) {
        return send(fd_, bytes, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
    }
    bool ClosedByServer(int timeoutMs = 3000) {
        pollfd descriptor{fd_, POLLIN, 0};
        char byte;
        return poll(&descriptor, 1, timeoutMs) == 1 && read(fd_, &byte, 1) <= 0;
    }

private:
    int fd_;
    bool connected_ = false;
};

// The status a Deliver call raised, RPC_S_OK when it returned.
inline RPC_STATUS DeliverStatus(RPC_BINDING_HANDLE binding, const char* service, uint32_t flags, uint16_t kind,
                                const uint8_t* data, uint16_t length) {
    try {
        Deliver(binding, service, flags, kind, data, length);
    } catch (const CRpcException& e) {
        return e.Status();
    }
    return RPC_S_OK;
}

inline bool SinkListed(const std::string& fullName, uint32_t pid) {
    std::vector<CSinkRecord> records;
    if (SinkListCollect(0x71F, 0, 0, &records) != RPC_S_OK) return false;
    return std::any_of(records.begin(), records.end(),
                       [&](const CSinkRecord& r) { return r.fullName == fullName && r.pid == pid; });
}
