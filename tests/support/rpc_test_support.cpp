#include "support/rpc_test_support.h"

#include "platform/rpc/status.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

extern char** environ;

std::string TestEndpoint(const std::string& tag) {
    return "mbt" + std::to_string(getpid()) + "-" + tag;
}

CCallRecorder& CCallRecorder::Instance() {
    static CCallRecorder* recorder = new CCallRecorder;
    return *recorder;
}

void CCallRecorder::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

std::vector<CRecordedCall> CCallRecorder::WaitFor(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return calls_.size() >= count; });
    return calls_;
}

size_t CCallRecorder::Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_.size();
}

void CCallRecorder::SetHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    hook_ = std::move(hook);
}

void CCallRecorder::Record(CRecordedCall call) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hook = hook_;
    }
    if (hook) hook();
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(std::move(call));
    changed_.notify_all();
}

namespace {

void RecordingDeliver(RPC_BINDING_HANDLE callBinding, const char* service, uint32_t flags, uint16_t kind,
                      const uint8_t* data, uint16_t length) {
    uint32_t pid = 0;
    RpcBindingInqPeerCredentials(callBinding, &pid, nullptr, nullptr);
    CCallRecorder::Instance().Record(CRecordedCall{
        service, flags, kind, data == nullptr,
        data ? std::vector<uint8_t>(data, data + length) : std::vector<uint8_t>(), pid});
}

}  // namespace

Deliver_v1_0_epv_t gRecordingManager = {RecordingDeliver};

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

RPC_STATUS CTestServer::Stop(bool wait) {
    RPC_STATUS status = RPC_S_OK;
    if (mapped_) {
        RPC_BINDING_VECTOR* vector = nullptr;
        status = RpcServerInqBindings(&vector);
        if (status == RPC_S_OK) {
            status = RpcEpUnregister(Deliver_v1_0_s_ifspec, vector, nullptr);
            RpcBindingVectorFree(&vector);
        }
        mapped_ = false;
    }
    if (interface_) {
        const RPC_STATUS unregistered = RpcServerUnregisterIf(Deliver_v1_0_s_ifspec, nullptr, wait ? 1 : 0);
        if (status == RPC_S_OK) status = unregistered;
        interface_ = false;
    }
    return status;
}

RPC_BINDING_HANDLE TestBind(const std::string& endpoint) {
    RPC_CSTR text = nullptr;
    RPC_BINDING_HANDLE binding = nullptr;
    if (RpcStringBindingComposeA(nullptr, "ncalrpc", nullptr, endpoint.c_str(), nullptr, &text) == RPC_S_OK) {
        RpcBindingFromStringBindingA(text, &binding);
        RpcStringFreeA(&text);
    }
    return binding;
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

CPeerProcess::CPeerProcess(const std::vector<std::string>& arguments) {
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return;
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    input_ = input[1];
    output_ = output[0];
}

CPeerProcess::~CPeerProcess() {
    CloseInput();
    if (pid_ > 0 && Wait(0ms) == -1) {
        Kill(SIGKILL);
        Wait(5s);
    }
    if (output_ >= 0) close(output_);
}

std::string CPeerProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const size_t newline = pending_.find('\n');
        if (newline != std::string::npos) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            return line;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd descriptor{output_, POLLIN, 0};
        if (output_ < 0 || left.count() <= 0 || poll(&descriptor, 1, static_cast<int>(left.count())) <= 0) return "";
        char chunk[256];
        const ssize_t got = read(output_, chunk, sizeof chunk);
        if (got <= 0) return "";
        pending_.append(chunk, static_cast<size_t>(got));
    }
}

void CPeerProcess::CloseInput() {
    if (input_ >= 0) close(input_);
    input_ = -1;
}

void CPeerProcess::Kill(int signal) {
    if (pid_ > 0) kill(pid_, signal);
}

int CPeerProcess::Wait(std::chrono::milliseconds timeout) {
    if (pid_ <= 0) return -1;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return status;
        }
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(5ms);
    }
}
