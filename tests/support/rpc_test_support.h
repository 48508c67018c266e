// Shared pieces of the RPC tests: a recording server, unique endpoints, bindings, bounded waits.
#pragma once

#include "messaging/deliver_interface.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

using namespace std::chrono_literals;

// "mbt<pid>-<tag>": unique per test process, at most 31 characters for short tags.
std::string TestEndpoint(const std::string& tag);

// A call's data that carries its index, as 4 bytes little-endian; and the index read back.
std::vector<uint8_t> IndexData(uint32_t index);
uint32_t IndexOf(const std::vector<uint8_t>& data);

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
void ClearCalls();
std::vector<CRecordedCall> WaitForCalls(size_t count, std::chrono::milliseconds timeout = 5s);
void SetCallHook(std::function<void()> hook);

// The delivery interface, endpoint and optional annotation, as a sink registers them; Stop (or
// destruction) withdraws them, waiting for a call in progress.
class CTestServer {
public:
    CTestServer() = default;
    ~CTestServer() { Stop(); }
    RPC_STATUS Start(const std::string& endpoint, const char* annotation = nullptr);
    RPC_STATUS Stop();

private:
    bool interface_ = false;
    bool mapped_ = false;
};

// A client binding made the way a source makes it, freed with its holder.
class CTestBinding {
public:
    explicit CTestBinding(const std::string& endpoint);
    ~CTestBinding() { RpcBindingFree(&handle_); }
    CTestBinding(const CTestBinding&) = delete;
    CTestBinding& operator=(const CTestBinding&) = delete;
    operator RPC_BINDING_HANDLE() const { return handle_; }

private:
    RPC_BINDING_HANDLE handle_ = nullptr;
};
// A raw listener on endpoint that never accepts: connections wait in its backlog and what is
// written to them stays in their sockets. -1 when it cannot be made.
int ListenWithoutAccepting(const std::string& endpoint, int backlog);

// A raw client of an endpoint that writes bytes of its choice; a failed connect shows as a
// failed write.
class CRawClient {
public:
    explicit CRawClient(const std::string& endpoint);
    ~CRawClient();
    CRawClient(const CRawClient&) = delete;
    CRawClient& operator=(const CRawClient&) = delete;
    bool Connected() const { return connected_; }
    int Fd() const { return fd_; }
    bool Write(const uint8_t* bytes, size_t size);
    // Whether the server closed the connection within the timeout.
    bool ClosedByServer(int timeoutMs = 3000);

private:
    int fd_;
    bool connected_ = false;
};

// The status a Deliver call raised, RPC_S_OK when it returned.
RPC_STATUS DeliverStatus(RPC_BINDING_HANDLE binding, const char* service, uint32_t flags, uint16_t kind,
                         const uint8_t* data, uint16_t length);

// Whether the endpoint map lists a sink with this full name and process id.
bool SinkListed(const std::string& fullName, uint32_t pid);
