// The server side of the runtime: the process's listening endpoints and the one dispatcher
// thread that accepts connections, reads their frames and runs each call, in arrival order per
// connection. A malformed frame closes its connection (none of that connection's later bytes
// are run); every other connection is served on.
#pragma once

#include "platform/rpc/binding.h"
#include "platform/rpc/rpc.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

class CDispatcher : public std::enable_shared_from_this<CDispatcher> {
public:
    // Null when the epoll or wake-up descriptor cannot be made.
    static std::shared_ptr<CDispatcher> Create();
    ~CDispatcher();
    CDispatcher(const CDispatcher&) = delete;
    CDispatcher& operator=(const CDispatcher&) = delete;

    // The interface calls are handed to; set once, before Start.
    void SetInterface(RPC_IF_HANDLE ifSpec, const void* managerEpv, RPC_IF_CALLBACK_FN callback);
    RPC_IF_HANDLE Interface() const { return interface_; }
    const void* ManagerEpv() const { return managerEpv_; }

    // Binds and listens on endpoint (nothing to do when this dispatcher already has it).
    RPC_STATUS AddEndpoint(const std::string& endpoint);
    std::vector<std::string> Endpoints();

    // Starts the dispatcher thread (once).
    bool Start();
    // Closes the endpoints at once and ends the thread, which closes every connection. With
    // wait, returns after the thread has ended, unless called on the dispatcher thread itself.
    void Stop(bool wait);

private:
    struct CWatched;
    struct CListener;
    struct CConnection;

    CDispatcher() = default;
    void Run(std::shared_ptr<CDispatcher> self);
    void Accept(CListener* listener);
    void Serve(CConnection* connection);
    void Drop(CConnection* connection);
    bool RunFrames(CConnection* connection);

    int epoll_ = -1;
    int wake_ = -1;  // eventfd; readable once stopping
    std::atomic<bool> stopping_{false};
    RPC_IF_HANDLE interface_ = nullptr;
    const void* managerEpv_ = nullptr;
    RPC_IF_CALLBACK_FN callback_ = nullptr;

    // Listeners stay allocated for the dispatcher's life (epoll events may still name them);
    // their descriptors are closed by Stop under listenMutex_, which Accept holds around accept.
    std::mutex listenMutex_;
    std::vector<std::unique_ptr<CListener>> listeners_;

    std::unordered_set<CConnection*> connections_;  // dispatcher thread only
    std::thread thread_;
};
