#include "support/rpc_test_support.h"

#include "messaging/sink_listing.h"
#include "platform/rpc/socket.h"
#include "platform/rpc/status.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>

std::string TestEndpoint(const std::string& tag) {
    return "mbt" + std::to_string(getpid()) + "-" + tag;
}

std::vector<uint8_t> IndexData(uint32_t index) {
    return {static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8), static_cast<uint8_t>(index >> 16),
            static_cast<uint8_t>(index >> 24)};
}

uint32_t IndexOf(const std::vector<uint8_t>& data) {
    return data.size() < 4 ? UINT32_MAX : data[0] | data[1] << 8 | data[2] << 16 | uint32_t{data[3]} << 24;
}

namespace {

struct CCallRecorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<CRecordedCall> calls;
    std::function<void()> hook;
};

// Never destroyed: a dispatcher thread may record during static destruction.
CCallRecorder& Recorder() {
    static CCallRecorder* recorder = new CCallRecorder;
    return *recorder;
}

void RecordingDeliver(RPC_BINDING_HANDLE callBinding, const char* service, uint32_t flags, uint16_t kind,
                      const uint8_t* data, uint16_t length) {
    CCallRecorder& recorder = Recorder();
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(recorder.mutex);
        hook = recorder.hook;
    }
    if (hook) hook();
    uint32_t pid = 0;
    RpcBindingInqPeerCredentials(callBinding, &pid, nullptr, nullptr);
    std::lock_guard<std::mutex> lock(recorder.mutex);
    recorder.calls.push_back(CRecordedCall{service, flags, kind, data == nullptr,
                                           data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>(),
                                           pid});
    recorder.changed.notify_all();
}

Deliver_v1_0_epv_t gRecordingManager = {RecordingDeliver};

}  // namespace

void ClearCalls() {
    std::lock_guard<std::mutex> lock(Recorder().mutex);
    Recorder().calls.clear();
}

std::vector<CRecordedCall> WaitForCalls(size_t count, std::chrono::milliseconds timeout) {
    CCallRecorder& recorder = Recorder();
    std::unique_lock<std::mutex> lock(recorder.mutex);
    recorder.changed.wait_for(lock, timeout, [&] { return recorder.calls.size() >= count; });
    return recorder.calls;
}

void SetCallHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(Recorder().mutex);
    Recorder().hook = std::move(hook);
}

RPC_STATUS CTestServer::Start(const std::string& endpoint, const char* annotation) {
    RPC_STATUS status = RpcServerRegisterIfEx(Deliver_v1_0_s_ifspec, nullptr, &gRecordingManager,
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

RPC_STATUS CTestServer::Stop() {
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

CTestBinding::CTestBinding(const std::string& endpoint) {
    RPC_CSTR text = nullptr;
    if (RpcStringBindingComposeA(nullptr, "ncalrpc", nullptr, endpoint.c_str(), nullptr, &text) == RPC_S_OK) {
        RpcBindingFromStringBindingA(text, &handle_);
        RpcStringFreeA(&text);
    }
}

RPC_STATUS DeliverStatus(RPC_BINDING_HANDLE binding, const char* service, uint32_t flags, uint16_t kind,
                         const uint8_t* data, uint16_t length) {
    try {
        Deliver(binding, service, flags, kind, data, length);
    } catch (const CRpcException& e) {
        return e.Status();
    }
    return RPC_S_OK;
}

bool SinkListed(const std::string& fullName, uint32_t pid) {
    std::vector<CSinkRecord> records;
    if (SinkListCollect(0x71F, 0, 0, &records) != RPC_S_OK) return false;
    return std::any_of(records.begin(), records.end(),
                       [&](const CSinkRecord& r) { return r.fullName == fullName && r.pid == pid; });
}

CRawClient::CRawClient(const std::string& endpoint) : fd_(UnixStreamSocket(false)) {
    CAbstractAddress address;
    connected_ = address.Set(kEndpointPrefix, endpoint) && connect(fd_, address.Get(), address.Length()) == 0;
}

CRawClient::~CRawClient() {
    CloseDescriptor(fd_);
}

bool CRawClient::Write(const uint8_t* bytes, size_t size) {
    return send(fd_, bytes, size, MSG_NOSIGNAL) == static_cast<ssize_t>(size);
}

bool CRawClient::ClosedByServer(int timeoutMs) {
    pollfd descriptor{fd_, POLLIN, 0};
    char byte;
    return poll(&descriptor, 1, timeoutMs) == 1 && read(fd_, &byte, 1) <= 0;
}

int ListenWithoutAccepting(const std::string& endpoint, int backlog) {
    CAbstractAddress address;
    const int listener = address.Set(kEndpointPrefix, endpoint) ? UnixStreamSocket(false) : -1;
    if (listener >= 0 && (bind(listener, address.Get(), address.Length()) != 0 || listen(listener, backlog) != 0)) {
        CloseDescriptor(listener);
        return -1;
    }
    return listener;
}
