// Batched delivery. While a CRpcBatch is open on a thread, the client stubs called on that
// thread do not write: they append their frame to the batch's buffer for its endpoint and
// return. End hands each endpoint's buffer to its channel, which writes what the socket takes
// at once and keeps the rest in its backlog; a buffer that grows past kBatchFlushBytes is
// handed over at once. Frames keep their call order per endpoint.
//
// A batch opened with CSubmitMode::kNowOnly hands its buffers over the same way, but a channel
// that cannot take them without waiting (no connection yet, its lock held, a connection to
// make anew) writes nothing of them: End reports each of those calls with RPC_S_WOULD_WAIT.
//
// Failures: the frames that went into the socket whole, or into the backlog, count as
// delivered (a backlog that fails later reports its frames through their windows); every other
// call of the batch to that endpoint is reported by End, in call order, with its index (the
// value of Calls() just before that call was made) and the status its own unbatched call would
// have raised. Calls that fail at once (bad arguments) raise as usual and are not counted.
#pragma once

#include "platform/rpc/channel.h"
#include "platform/rpc/rpc.h"

#include <sys/uio.h>

#include <cstddef>
#include <memory>
#include <vector>

constexpr size_t kBatchFlushBytes = 256 * 1024;

struct CRpcCallFailure {
    size_t call;
    RPC_STATUS status;
};

class CRpcBatch {
public:
    // Opens the batch on the calling thread; one batch per thread at a time (a second one
    // throws std::logic_error).
    explicit CRpcBatch(CSubmitMode mode = CSubmitMode::kMayWait);
    // Ends the batch if End was not called. The frames are still written, but failures are
    // then not reported to anyone: callers that care call End.
    ~CRpcBatch();
    CRpcBatch(const CRpcBatch&) = delete;
    CRpcBatch& operator=(const CRpcBatch&) = delete;

    // Calls gathered so far.
    size_t Calls() const { return calls_; }
    // Writes everything gathered and closes the batch; returns the calls that failed.
    std::vector<CRpcCallFailure> End();

    // The batch open on this thread, or null.
    static CRpcBatch* Current();
    // Appends one call's frame, given as parts, for channel; the frame settles a reservation of
    // `cost` bytes in `window` when one is given (see CSendWindow).
    void Gather(const std::shared_ptr<CClientChannel>& channel, const iovec* parts, int count,
                const std::shared_ptr<CSendWindow>& window = nullptr, size_t cost = 0);

private:
    struct CPending {
        std::shared_ptr<CClientChannel> channel;
        std::vector<uint8_t> bytes;
        CFrames frames;
    };

    void Flush(CPending& pending);

    std::vector<CPending> pending_;  // a handful of endpoints per batch: searched linearly
    std::vector<CRpcCallFailure> failures_;
    size_t calls_ = 0;
    bool open_ = true;
    const CSubmitMode mode_;
};
