#include "requests/request_thread.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "requests/request.h"
#include "requests/request_handler.h"
#include "runtime/reports.h"

namespace {
constexpr DWORD kIdleWakeMs = 10000;
// The thread-local state below is read for every message; the initial-exec model keeps each
// read an instruction in the shared library instead of a call.

// The thread object whose worker runs on this thread, or null.
thread_local CRequestThread* tCurrentThread __attribute__((tls_model("initial-exec"))) = nullptr;

// On a thread inside RunInline: the thread object whose run lock it holds, and whether its
// request gave itself back to the worker. A request run inline on the sink thread's behalf may
// send, and so run inline on the source thread's: the inner run restores both when it ends.
thread_local CRequestThread* tInlineThread __attribute__((tls_model("initial-exec"))) = nullptr;
thread_local bool tInlineDeferred __attribute__((tls_model("initial-exec"))) = false;

const uint8_t kNoData[1] = {0};

// Events signalled by the messages of the request the worker runs, while it holds several,
// each once; the oldest is signalled at once when a new one finds no room.
class CDeferredSignals {
public:
    void Begin() { active_ = true; }
    bool Add(HANDLE event) {
        if (!active_) return false;
        for (size_t i = 0; i < count_; ++i) {
            if (events_[i] == event) return true;
        }
        if (count_ == kMaxEvents) {
            SetEvent(events_[0]);
            std::copy(events_ + 1, events_ + count_, events_);
            --count_;
        }
        events_[count_++] = event;
        return true;
    }
    void Flush() {
        for (size_t i = 0; i < count_; ++i) SetEvent(events_[i]);
        count_ = 0;
    }
    void End() {
        Flush();
        active_ = false;
    }

private:
    static constexpr size_t kMaxEvents = 4;
    bool active_ = false;
    size_t count_ = 0;
    HANDLE events_[kMaxEvents] = {};
};

constinit thread_local CDeferredSignals tDeferredSignals __attribute__((tls_model("initial-exec")));

// A step of the worker's work, kept from ending the process with what it throws: the reason
// it failed, null when it did not.
template <class Step>
const char* Guarded(Step step) noexcept {
    try {
        step();
        return nullptr;
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (...) {
        return "an exception";
    }
}

// Allocation failure, like any other throw, drops what was left of the step: an error line
// names it, and the worker goes on with the next request. The line needs memory of its own;
// when it finds none, the drop goes untraced.
void TraceDropped(const char* what, const char* name, const char* failure) noexcept {
    char text[160];
    std::snprintf(text, sizeof text, "%s of %s dropped: %s", what, name, failure);
    try {
        ReportError(text);
    } catch (...) {
    }
}

// Tells the handler that its run of requests ended, kept from throwing like the requests.
void EndRun(CRequestHandler* handler) noexcept {
    if (const char* failure = Guarded([handler] { handler->OnBatchDone(); })) {
        TraceDropped("the batch end", handler->Name(), failure);
    }
}

}  // namespace

bool CRequestThread::OnWorker() {
    return tCurrentThread != nullptr;
}

bool CRequestThread::DeferToWorker() {
    if (tInlineThread == nullptr) return false;
    tInlineDeferred = true;
    return true;
}

bool CRequestThread::InInlineRun() {
    return tInlineThread != nullptr;
}

bool CRequestThread::InlineDeferred() {
    return tInlineThread != nullptr && tInlineDeferred;
}

bool CRequestThread::CurrentStopping() {
    return tCurrentThread != nullptr && tCurrentThread->stopRequested_.load();
}

void SignalMessageTaken(HANDLE event) {
    if (!tDeferredSignals.Add(event)) SetEvent(event);
}

void SignalTakenMessagesNow() {
    tDeferredSignals.Flush();
}

void RunBatch(std::vector<CRequest*>& batch) {
    for (size_t i = 0; i < batch.size(); ++i) {
        CRequest* request = batch[i];
        CRequestHandler* handler = request->Handler();
        if (request->Messages() > 1) tDeferredSignals.Begin();
        do {
            // Only a handler's Request throws: a failed request has a handler.
            if (const char* failure = Guarded([request] { request->ProcessNext(); })) {
                TraceDropped("a request", handler->Name(), failure);
            }
        } while (request->HasNext());
        tDeferredSignals.End();
        if (handler != nullptr && (i + 1 == batch.size() || batch[i + 1]->Handler() != handler)) EndRun(handler);
        request->Clear();
    }
}

CRequestThread::CRequestThread(std::atomic<CRequestThread*>* slot, BatchRunner batchRunner, RoomHook roomHook)
    : stopRequested_(false), threadHandle_(nullptr), ownerSlot_(slot), runner_(batchRunner), onRoom_(roomHook) {
    slot->store(this, std::memory_order_release);
}

CRequestThread::~CRequestThread() {
    Stop();
    CRequestThread* self = this;
    ownerSlot_->compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

bool CRequestThread::Start() {
    ScopedLock hold(*this);
    if (threadHandle_ != nullptr) return false;
    stopRequested_.store(false);
    // The worker holds its own reference, so the object outlives a worker that Stop gave up on.
    CRef<CRequestThread> worker = CRef<CRequestThread>::Share(this);
    DWORD threadId = 0;
    threadHandle_ = CreateNamedThread(&CRequestThread::ThreadProc, worker.Get(), 0, lockName_, &threadId);
    if (threadHandle_ == nullptr) return false;
    worker.Detach();
    return true;
}

// The handle is closed outside the lock, by the Stop that took it out of threadHandle.
bool CRequestThread::Stop() {
    HANDLE thread;
    {
        ScopedLock hold(*this);
        if (threadHandle_ == nullptr) return false;
        stopRequested_.store(true);
        queue_.Interrupt();
        thread = threadHandle_;
    }
    const bool ended = WaitForSingleObject(thread, stopWaitMs_) == WAIT_OBJECT_0;
    bool mine;
    {
        ScopedLock hold(*this);
        mine = threadHandle_ == thread;
        if (mine) threadHandle_ = nullptr;
    }
    if (mine) CloseHandle(thread);
    return ended;
}

// The worker itself, and a thread already inside an inline run for this object (a trace
// callback that sends), hold the run lock: they queue.
bool CRequestThread::RunInline(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                               const uint8_t* data, uint16_t length) {
    if (tCurrentThread == this || tInlineThread == this || stopRequested_.load() || !runLock_.TryLock()) return false;
    const CAdoptedHold<CMutex> running(runLock_);
    return RunInlineLocked(handler, service, flags, kind, data, length);
}

// The queue is looked at under the run lock: what is queued after the look is taken by the
// worker once this request ran, so arrival order holds.
bool CRequestThread::RunInlineLocked(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                                     const uint8_t* data, uint16_t length) {
    if (!queue_.Empty()) return false;
    CRequestThread* const outerThread = tInlineThread;
    const bool outerDeferred = tInlineDeferred;
    tInlineThread = this;
    tInlineDeferred = false;
    const char* failure = Guarded([=] {
        handler->Request(service != nullptr ? service : "", flags, kind, data != nullptr ? data : kNoData, length);
    });
    const bool ran = !tInlineDeferred;
    tInlineThread = outerThread;
    tInlineDeferred = outerDeferred;
    if (failure != nullptr) TraceDropped("a request", handler->Name(), failure);
    EndRun(handler);
    return ran;
}

DWORD CRequestThread::ThreadProc(void* parameter) {
    const CRef<CRequestThread> thread = CRef<CRequestThread>::Adopt(static_cast<CRequestThread*>(parameter));
    if (thread) {
        tCurrentThread = thread.Get();
        thread->Run();
        tCurrentThread = nullptr;
    }
    return 0;
}

// The queue comes first: a batch posted before the stop request is still processed. Without
// traffic the worker wakes every kIdleWakeMs, recycles an empty batch (which lets the queue
// give back spares an earlier burst left) and goes back to waiting.
void CRequestThread::Run() {
    std::vector<CRequest*> batch;
    for (;;) {
        if (!queue_.Wait(kIdleWakeMs)) {
            if (stopRequested_.load()) return;
            queue_.Recycle(batch);
            continue;
        }
        {
            CMutexHold running(runLock_);
            bool hadFilled;
            {
                ScopedLock hold(*this);
                hadFilled = queue_.TakeAll(batch);
            }
            if (hadFilled && onRoom_ != nullptr) onRoom_();
            // RunBatch keeps each request's throw to itself; a runner that throws around it
            // loses the rest of its batch, which Recycle empties.
            if (const char* failure = Guarded([this, &batch] { runner_(batch); })) {
                TraceDropped("a batch", lockName_ != nullptr ? lockName_ : "a request thread", failure);
            }
        }
        queue_.Recycle(batch);
    }
}
