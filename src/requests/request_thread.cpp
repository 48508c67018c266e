#include "requests/request_thread.h"

#include "requests/request.h"
#include "requests/request_handler.h"

namespace {
constexpr DWORD kIdleWakeMs = 10000;
constexpr DWORD kStopWaitMs = 5000;
// The thread object whose worker runs on this thread, or null.
thread_local CRequestThread* tCurrentThread = nullptr;
}  // namespace

bool CRequestThread::OnWorker() {
    return tCurrentThread != nullptr;
}

bool CRequestThread::CurrentStopping() {
    return tCurrentThread != nullptr && tCurrentThread->stopRequested.load();
}

void RunBatch(std::vector<CRequest*>& batch) {
    for (size_t i = 0; i < batch.size(); ++i) {
        CRequest* request = batch[i];
        request->Process();
        CRequestHandler* handler = request->Handler();
        if (handler != nullptr && (i + 1 == batch.size() || batch[i + 1]->Handler() != handler)) {
            handler->OnBatchDone();
        }
        request->Clear();
    }
}

CRequestThread::CRequestThread(std::atomic<CRequestThread*>* slot, BatchRunner batchRunner, RoomHook roomHook)
    : stopRequested(false), threadHandle(nullptr), ownerSlot(slot), runner(batchRunner), onRoom(roomHook) {
    slot->store(this, std::memory_order_release);
}

CRequestThread::~CRequestThread() {
    Stop();
    CRequestThread* self = this;
    ownerSlot->compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

bool CRequestThread::Start() {
    ScopedLock hold(*this);
    if (threadHandle != nullptr) return false;
    stopRequested.store(false);
    // The worker holds its own reference, so the object outlives a worker that Stop gave up on.
    AddRef();
    DWORD threadId = 0;
    threadHandle = CreateNamedThread(&CRequestThread::ThreadProc, this, 0, lockName, &threadId);
    if (threadHandle == nullptr) Release();
    return threadHandle != nullptr;
}

bool CRequestThread::Stop() {
    Lock();
    if (threadHandle == nullptr) {
        Unlock();
        return false;
    }
    stopRequested.store(true);
    queue.Interrupt();
    HANDLE thread = threadHandle;
    Unlock();
    const bool ended = WaitForSingleObject(thread, kStopWaitMs) == WAIT_OBJECT_0;
    ScopedLock hold(*this);
    if (threadHandle == thread) {
        CloseHandle(threadHandle);
        threadHandle = nullptr;
    }
    return ended;
}

DWORD CRequestThread::ThreadProc(void* parameter) {
    if (parameter != nullptr) {
        auto* thread = static_cast<CRequestThread*>(parameter);
        tCurrentThread = thread;
        thread->Run();
        tCurrentThread = nullptr;
        thread->Release();
    }
    return 0;
}

// The queue comes first: a batch posted before the stop request is still processed. Without
// traffic the worker wakes every kIdleWakeMs, recycles an empty batch (which lets the queue
// give back spares an earlier burst left) and goes back to waiting.
void CRequestThread::Run() {
    std::vector<CRequest*> batch;
    for (;;) {
        if (!queue.Wait(kIdleWakeMs)) {
            if (stopRequested.load()) return;
            queue.Recycle(batch);
            continue;
        }
        bool hadFilled;
        {
            ScopedLock hold(*this);
            hadFilled = queue.TakeAll(batch);
        }
        if (hadFilled && onRoom != nullptr) onRoom();
        runner(batch);
        queue.Recycle(batch);
    }
}
