// The one connection of this process to one endpoint, shared by every binding to it, so that
// everything this process sends to an endpoint travels in order on one stream. No sending thread
// waits for the receiver: what the socket does not take at once waits in the channel's backlog,
// which the flusher writes as the receiver reads.
#pragma once

#include "platform/mutex.h"
#include "platform/rpc/rpc.h"
#include "platform/rpc/send_window.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// One frame handed to a channel: where it ends in the bytes handed over with it, the index of
// its call in the batch that made it, and the window whose reservation of `cost` bytes it settles
// (none for a sender without a window). The frames' windows are kept alive by a CFrames.
struct CFrameMark {
    size_t end;
    size_t call;
    size_t cost;
    CSendWindow* window;
};

// Frames with the windows they settle: one reference per run of frames of one window.
struct CFrames {
    std::vector<CFrameMark> marks;
    std::vector<std::shared_ptr<CSendWindow>> windows;

    // Room for the frame must have been reserved (see CRpcBatch::Gather).
    void Add(size_t end, size_t call, size_t cost, const std::shared_ptr<CSendWindow>& window) {
        if (window && (windows.empty() || windows.back() != window)) windows.push_back(window);
        marks.push_back(CFrameMark{end, call, cost, window.get()});
    }
    void Clear();
    // Settles the windows of marks [from, to) as released, one atomic operation per run.
    void Release(size_t from, size_t to) const;
    // Each frame from `from` on is lost with `status`.
    void Lose(size_t from, RPC_STATUS status) const;
};

// How a submit may treat the connection. kMayWait connects when there is none, and may wait for
// the channel's lock and up to the connect time-out for that. kNowOnly writes only over a live
// connection whose lock is free, and otherwise returns RPC_S_WOULD_WAIT with nothing written and
// no window touched.
enum class CSubmitMode { kMayWait, kNowOnly };

class CClientChannel : public std::enable_shared_from_this<CClientChannel> {
public:
    // A connect to a full listen backlog that makes no progress for this long fails, and so does
    // one whose server's verdict (see peer_access.h) does not come within it.
    static constexpr uint32_t kConnectTimeoutMs = 5000;

    // The channel for an endpoint, shared while anyone holds it. Makes no connection.
    static std::shared_ptr<CClientChannel> ForEndpoint(const std::string& endpoint);

    explicit CClientChannel(std::string endpoint) : endpoint_(std::move(endpoint)) {}
    ~CClientChannel();
    CClientChannel(const CClientChannel&) = delete;
    CClientChannel& operator=(const CClientChannel&) = delete;

    const std::string& Endpoint() const { return endpoint_; }
    // Applies to the connections made after the call.
    void SetConnectTimeout(uint32_t milliseconds);

    // Hands over whole frames (`frames` gives their ends in `bytes`, in order) to go out after
    // everything handed over before, connecting first when there is no connection. Writes what
    // the socket takes now without waiting; the rest goes into the backlog: a large rest takes
    // the caller's buffers along and leaves it empty ones instead, a small one is copied. The
    // windows of frames written are released. On failure the status is returned, with
    // *firstFailed the index of the first frame not delivered; the windows of those frames are
    // released too, and the caller reports them. A failed write closes the connection (the next
    // submit makes a new one); a write on a reused connection that the server closed before a
    // byte of it went out is retried once on a new connection (kMayWait; kNowOnly leaves both to
    // a later submit).
    RPC_STATUS Submit(std::vector<uint8_t>& bytes, CFrames& frames, size_t* firstFailed,
                      CSubmitMode mode = CSubmitMode::kMayWait);
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
        CFrames frames;
        size_t nextFrame = 0;  // the first frame not written whole
    };

    RPC_STATUS SubmitLocked(std::vector<uint8_t>& bytes, CFrames& frames, size_t* firstFailed, CSubmitMode mode)
        REQUIRES(mutex_);
    RPC_STATUS ConnectLocked() REQUIRES(mutex_);
    void DisconnectLocked() REQUIRES(mutex_);
    // Adds `bytes` from `head` on, with the frames from `nextFrame` on, to the backlog (taking
    // the buffers over when that rest is large), and has the flusher watch the socket when the
    // backlog was empty. False, with the backlog and the buffers as they were, when memory ran
    // out.
    bool BacklogLocked(std::vector<uint8_t>& bytes, size_t head, CFrames& frames, size_t nextFrame) REQUIRES(mutex_);
    // Drops the backlog's first chunk, written out; its emptied buffers become the spare.
    void RetireFrontLocked() REQUIRES(mutex_);
    // Drops the backlog and the connection; returns the chunks, whose frames are lost.
    std::deque<CChunk> ClearBacklogLocked() REQUIRES(mutex_);
    static void Lose(const std::deque<CChunk>& lost, RPC_STATUS status);

    const std::string endpoint_;
    CMutex mutex_;
    int fd_ GUARDED_BY(mutex_) = -1;  // guarded by mutex_, as are the backlog and the connect time-out
    uint32_t connectTimeoutMs_ GUARDED_BY(mutex_) = kConnectTimeoutMs;
    std::deque<CChunk> backlog_ GUARDED_BY(mutex_);
    // The emptied buffers of a chunk written out, for the backlog's next chunk; let go when
    // the backlog empties, so an idle channel keeps no megabyte.
    CChunk spare_ GUARDED_BY(mutex_);
};
