// CRequestThread: a worker thread that drains its own request queue in batches, in arrival
// order, until it is stopped.
#pragma once

#include <atomic>
#include <vector>

#include "platform/mutex.h"
#include "requests/request_queue.h"

// Runs one batch taken from the queue, in arrival order, emptying each request (CRequest::Clear)
// right after it ran; tells each handler when its run of consecutive requests ends. A request
// that throws is traced and dropped, and the batch goes on with the next one.
using BatchRunner = void (*)(std::vector<CRequest*>& batch);
void RunBatch(std::vector<CRequest*>& batch);
// Signals `event` for a message that was taken in: at once, or, while a worker runs a request
// holding several messages, when that request ends, so that a waiter is woken once per request
// however many of its messages signal the same event.
void SignalMessageTaken(HANDLE event);
// Signals at once what SignalMessageTaken has held back on this thread: a worker does so before
// it waits for a taker to make room.
void SignalTakenMessagesNow();
// Called on the worker when it took a batch from a queue that had told a poster it was full.
using RoomHook = void (*)();

class CRequestThread : public CCountable {
public:
    // How long Stop waits for the worker to end.
    static constexpr DWORD kStopWaitMs = 5000;

    // ownerSlot: the process-wide pointer that owns this object; the constructor stores the
    // object there and the destructor clears it if it still points here.
    explicit CRequestThread(std::atomic<CRequestThread*>* ownerSlot, BatchRunner runner = &RunBatch,
                            RoomHook onRoom = nullptr);
    ~CRequestThread() override;

    void SetName(const char* name) { lockName_ = name; }
    // Not while a Stop runs.
    void SetStopWait(DWORD milliseconds) { stopWaitMs_ = milliseconds; }
    // False when a worker already runs.
    bool Start();
    // True only when the worker ended within the stop wait; false without a running worker.
    bool Stop();
    CRequestQueue& Queue() { return queue_; }
    // Runs one request on the calling thread, as the worker would have run it, when the worker
    // is running, not stopping, not inside a batch and has nothing queued; the worker waits
    // meanwhile, so requests still run one at a time and in the order they came. False when it
    // did not run: then the caller queues it. The request may also give itself back before it
    // had any effect (DeferToWorker), which returns false as well.
    bool RunInline(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind, const uint8_t* data,
                   uint16_t length);
    // Inside RunInline: the request would have to wait, which only the worker may do. Marks it
    // to be queued instead and returns true; the request must then return at once. False on
    // every other thread.
    static bool DeferToWorker();
    // Whether the calling thread is inside RunInline.
    static bool InInlineRun();
    // Whether the calling thread is inside RunInline and its request was deferred.
    static bool InlineDeferred();
    // Whether the calling thread is a worker whose Stop was called: a request that waits for
    // room somewhere gives up then. False on every other thread.
    static bool CurrentStopping();
    // Whether the calling thread is a worker.
    static bool OnWorker();

private:
    static DWORD ThreadProc(void* parameter);
    void Run();
    bool RunInlineLocked(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                         const uint8_t* data, uint16_t length) REQUIRES(runLock_);

    // Set by Stop, cleared by Start; the worker ends when it finds it set and its queue empty.
    std::atomic<bool> stopRequested_;
    HANDLE threadHandle_;
    std::atomic<CRequestThread*>* ownerSlot_;
    BatchRunner runner_;
    RoomHook onRoom_;
    DWORD stopWaitMs_ = kStopWaitMs;
    CRequestQueue queue_;
    // Held by the worker from taking a batch until it ran, and by a RunInline for its request.
    CMutex runLock_;
};
