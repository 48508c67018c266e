// The one connection of this process to one endpoint, shared by every binding to it, so that
// everything this process sends to an endpoint travels in order on one stream. No sending thread
// waits for the receiver: what the socket does not take at once waits in the channel's backlog,
// which the flusher writes as the receiver reads.
#pragma once

#include "platform/rpc/rpc.h"
#include "platform/rpc/send_window.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// One frame handed to a channel: where it ends in the bytes handed over with it, the index of
// its call in the batch that made it, and the window whose reservation of `cost` bytes it settles
// (none for a sender without a window).
struct CFrameMark {
    size_t end;
    size_t call;
    size_t cost;
    std::shared_ptr<CSendWindow> window;
};

class CClientChannel : public std::enable_shared_from_this<CClientChannel> {
public:
    // The channel for an endpoint, shared while anyone holds it. Makes no connection.
    static std::shared_ptr<CClientChannel> ForEndpoint(const std::string& endpoint);

    explicit CClientChannel(std::string endpoint) : endpoint_(std::move(endpoint)) {}
    ~CClientChannel();
    CClientChannel(const CClientChannel&) = delete;
    CClientChannel& operator=(const CClientChannel&) = delete;

    const std::string& Endpoint() const { return endpoint_; }

    // Hands over whole frames (`frames` gives their ends in `bytes`, in order) to go out after
    // everything handed over before, connecting first when there is no connection. Writes what
    // the socket takes now without waiting; the rest moves into the backlog (`bytes` and
    // `frames` may be taken over). The windows of frames written are released. On failure the
    // connection is closed (the next submit makes a new one) and the status returned, with
    // *firstFailed the index of the first frame not delivered; the windows of those frames are
    // released too, and the caller reports them. A write on a reused connection that the server
    // closed before a byte of it went out is retried once on a new connection.
    RPC_STATUS Submit(std::vector<uint8_t>& bytes, std::vector<CFrameMark>& frames, size_t* firstFailed);
    // The flusher's turn: writes as much of the backlog as the socket takes. On a failure the
    // connection is closed and every frame of the backlog is lost (its window reports it).
    void FlushBacklog();
    // Gives the backlog up (library end): every frame in it is lost.
    void AbandonBacklog();

private:
    // Frames that did not go out yet: the rest of one submit's bytes, from `head` on.
    struct CChunk {
        std::vector<uint8_t> bytes;
        size_t head = 0;
        std::vector<CFrameMark> frames;
        size_t nextFrame = 0;  // the first frame not written whole
    };

    RPC_STATUS ConnectLocked();
    void DisconnectLocked();
    // Takes `bytes` from `head` on, with the frames from `nextFrame` on, into the backlog, and
    // has the flusher watch the socket when the backlog was empty.
    void BacklogLocked(std::vector<uint8_t>& bytes, size_t head, std::vector<CFrameMark>& frames, size_t nextFrame);
    // Drops the backlog and the connection; returns the frames lost.
    std::vector<CFrameMark> ClearBacklogLocked();

    const std::string endpoint_;
    std::mutex mutex_;
    int fd_ = -1;  // guarded by mutex_, as is the backlog
    std::deque<CChunk> backlog_;
};
