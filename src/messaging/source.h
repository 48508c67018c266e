// CSource: the sending end of one link to another process's sink. It binds to the sink's
// endpoint and performs, on the source request thread, the Deliver call of every request that
// names it.
#pragma once

#include <mbus/mbus.h>

#include <atomic>
#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "items/item.h"
#include "platform/rpc/rpc.h"
#include "platform/rpc/send_window.h"
#include "requests/request_handler.h"

class CRequest;
class CSink;

class CSource final : public CRequestHandler {
public:
    // The send window: messages this source accepted that are not yet in the socket (queued
    // for the source request thread or kept back by a receiver that does not read). A sending
    // function is refused while it is full, until it has drained to seven eighths. A sender
    // of small messages that outruns its receiver stops within a few MiB: what it runs ahead
    // into is fresh memory each time, and a larger window measured slower, not faster. The
    // bytes stay above the sink request queue's (kSinkQueueBytes), so that one sender of large
    // messages still fills a receiver's queue before its own window refuses.
    static constexpr size_t kWindowMessages = 0x10000;
    static constexpr size_t kWindowBytes = 32 << 20;
    // A message posted at least this long after the source's previous one is written by the
    // calling thread when the source request thread is idle with nothing queued and the
    // connection takes it at once. Closer ones are a stream: they are queued, so that the source
    // request thread writes many of them with one system call.
    static constexpr uint64_t kPauseMicroseconds = 20;

    // sink: the sink that opens this source and owns it (counted reference), or null.
    CSource(const char* sinkName, uint32_t openOptions, CSink* sink);
    ~CSource() override;

    // Binds to the endpoint name; a source with an owner then announces itself through it.
    bool Open();
    // Withdraws the link and drops the binding once no request for this source is pending.
    void Close();
    bool IsOpen();
    uint32_t GetPid();
    void SetPid(uint32_t processId);
    // A new String item of the name (without suffix); empty when the name is.
    CCheckedRef<CItem> GetNameItem();
    // Queues a test message to the bound sink's default service.
    bool Test();
    // Queues a message for this source to deliver; false, with nothing queued, when it could not
    // be queued or the send window is full. Control messages (notices and tests) are counted in
    // the window but never refused for it.
    bool Post(const char* service, uint32_t flags, int32_t kind, const void* data, uint16_t length);

    const char* Name() override { return name_.c_str(); }
    void OnRequestsDone() override;
    // Runs inside the source request thread's batch (RunSourceBatch), whose frames settle the
    // send window.
    bool Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) override;
    // Lets go of the binding taken for the run of requests.
    void OnBatchDone() override;

private:
    // Whether the previous message left at least kPauseMicroseconds ago: it was posted then,
    // or written then by the source request thread; notes this one. False, noting nothing, while
    // messages of this source are queued.
    bool FollowsPause();
    // Request's write on the calling thread, inside an inline run: the frame goes into the
    // socket (or behind the connection's backlog) now, or the request defers to the worker.
    bool RequestNow(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length);
    // A frame that never reached a batch (bad arguments): gives back its reservation and
    // reports the status; false.
    bool ReportUngathered(RPC_STATUS status, uint16_t length);
    // The name, or with MbOptionSession the name followed by "(<session>)".
    std::string EndpointName() const;
    // Under the lock: makes the binding to the endpoint; false, without one, when that failed.
    bool BindLocked(const std::string& endpoint);
    // Under the lock, with the pending count read once: a close with requests pending waits for
    // the last of them (OnRequestsDone); otherwise the binding goes now.
    void SettleCloseLocked(bool pending);

    bool closing_;
    // Set once the disconnection notice of a close is queued: the close then waits for it to
    // be delivered before the binding goes, so the peer hears of it, and never sends it twice.
    bool noticeQueued_;
    uint32_t options_;
    // Shared with the calls in flight: a close never frees the handle under a running call.
    boost::shared_ptr<CRpcBinding> binding_;
    // The binding for the current run of this source's requests, taken from `binding` under the
    // lock by the run's first request. It is a counted copy, so the binding cannot go during a
    // run, queued or inline. Used under the source request thread's run lock only (its batch or an
    // inline run), without the source's lock.
    boost::shared_ptr<CRpcBinding> running_;
    const std::string name_;
    uint32_t peerPid_;
    // Fixed at construction. Closing the sink closes and releases the sources it owns.
    const CCheckedRef<CSink> owner_;
    // Shared with the frames in flight, which may outlive the source.
    std::shared_ptr<CSendWindow> window_;
    // When the last message left (GetMicrosecondCount): posted with nothing of this source
    // queued, or written as the last of the queued ones.
    std::atomic<uint64_t> lastPost_{0};
};

// Runs one batch of source requests with their Deliver calls gathered per endpoint and written
// together; a call whose frame could not be written is reported as its own call would have been.
void RunSourceBatch(std::vector<CRequest*>& batch);
