// The server side of the runtime: the process's listening endpoints and the one dispatcher
// thread that accepts connections, reads their frames and runs each call, in arrival order per
// connection. The interface's callback admits or refuses each connection before a byte of it is
// read; a refused one is told why and closed. A malformed frame closes its connection (none of
// that connection's later bytes are run); every other connection is served on. Intake can be
// paused by a call in progress and resumed from any thread (flow control): while paused, no
// connection is read.
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

    // Asked by a call in progress (dispatcher thread): read nothing more until ResumeIntake.
    void PauseIntake() { pauseAsked_.store(true); }
    // Any thread: ends a pause (or the one asked for next) at the dispatcher's next turn.
    void ResumeIntake();
    // Whether intake is paused now; from any thread.
    bool IntakePaused() const { return paused_.load(); }

private:
    struct CWatched;
    struct CListener;
    struct CConnection;

    CDispatcher() = default;
    void Run(std::shared_ptr<CDispatcher> self);
    // Adds fd to both epoll sets, its events naming watched; false when either refused it.
    bool WatchInBoth(int fd, CWatched* watched);
    void Accept(CListener* listener);
    void Serve(CConnection* connection);
    void Drop(CConnection* connection);
    bool RunFrames(CConnection* connection);
    // Takes the wake-up: resumes a paused intake when that was asked for.
    void OnWake();
    // Stops reading: the dispatcher waits on the set without connections.
    void Pause(CConnection* stalled);
    // Pauses at `connection` when a call asked for it since the last look.
    void TakePauseAsked(CConnection* connection);
    // Runs what the stalled connection had read already, then reads again (unless that paused
    // intake once more).
    void Resume();

    int pausedSet_ = -1;   // epoll of the wake-up and the listeners
    int servingSet_ = -1;  // epoll of the same and the connections
    int wake_ = -1;        // eventfd; written to stop and to resume
    std::atomic<bool> stopping_{false};
    std::atomic<bool> pauseAsked_{false};
    std::atomic<bool> resumeAsked_{false};
    // Whether intake is paused: written by the dispatcher thread only, read by IntakePaused.
    std::atomic<bool> paused_{false};
    // Dispatcher thread only: the connection whose read frames were not all run when intake
    // paused (null when none).
    CConnection* stalled_ = nullptr;
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
