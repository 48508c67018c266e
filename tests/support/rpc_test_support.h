// Shared pieces of the RPC tests: a recording server on the delivery interface, a peer process
// driven through pipes, unique endpoint names and bounded waits.
#pragma once

#include "platform/rpc/deliver.h"
#include "platform/rpc/rpc.h"

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// "mbt<pid>-<tag>": unique per test process, at most 31 characters for short tags.
std::string TestEndpoint(const std::string& tag);

struct CRecordedCall {
    std::string service;
    uint32_t flags;
    uint16_t kind;
    bool dataNull;
    std::vector<uint8_t> data;
    uint32_t peerPid;
};

// Every call that reaches the test manager routine, in arrival order.
class CCallRecorder {
public:
    static CCallRecorder& Instance();
    void Clear();
    // Waits until at least count calls arrived or the timeout passed; returns the calls.
    std::vector<CRecordedCall> WaitFor(size_t count, std::chrono::milliseconds timeout = 5s);
    size_t Count();
    // Runs inside the manager routine before recording (for blocking tests); null for none.
    void SetHook(std::function<void()> hook);

    void Record(CRecordedCall call);

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CRecordedCall> calls_;
    std::function<void()> hook_;
};

extern Deliver_v1_0_epv_t gRecordingManager;

// Registers the delivery interface with the recording manager, the endpoint and (optionally)
// an endpoint-map annotation, as a sink registration does; withdraws all of it on Stop or
// destruction.
class CTestServer {
public:
    CTestServer() = default;
    ~CTestServer() { Stop(); }
    RPC_STATUS Start(const std::string& endpoint, const char* annotation = nullptr);
    RPC_STATUS Stop(bool wait = true);

private:
    bool interface_ = false;
    bool mapped_ = false;
};

// A client binding made the way a source makes it.
RPC_BINDING_HANDLE TestBind(const std::string& endpoint);

// The status a Deliver call raised, RPC_S_OK when it returned.
RPC_STATUS DeliverStatus(RPC_BINDING_HANDLE binding, const char* service, uint32_t flags, uint16_t kind,
                         const uint8_t* data, uint16_t length);

// A peer helper process with its stdin and stdout on pipes. Killed and reaped on destruction.
class CPeerProcess {
public:
    explicit CPeerProcess(const std::vector<std::string>& arguments);
    ~CPeerProcess();
    pid_t Pid() const { return pid_; }
    // One line of its output without the newline; empty on timeout or end of output.
    std::string ReadLine(std::chrono::milliseconds timeout = 5s);
    void CloseInput();
    void Kill(int signal);
    // The exit status (waitpid form), or -1 when it did not end in time.
    int Wait(std::chrono::milliseconds timeout = 5s);

private:
    pid_t pid_ = -1;
    int input_ = -1;
    int output_ = -1;
    std::string pending_;
};
