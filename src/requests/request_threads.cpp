#include "requests/request_threads.h"

#include <atomic>
#include <new>

#include "requests/request_handler.h"

namespace {

std::atomic<CRequestThread*> sinkThread{nullptr};
std::atomic<CRequestThread*> sourceThread{nullptr};

bool StopThread(std::atomic<CRequestThread*>& slot) {
    CRequestThread* thread = slot.load(std::memory_order_acquire);
    return thread == nullptr || thread->Stop();
}

void ReleaseThread(std::atomic<CRequestThread*>& slot) {
    if (CRequestThread* thread = slot.load(std::memory_order_acquire)) thread->Release();
}

void StopAndReleaseBoth() {
    StopThread(sinkThread);
    StopThread(sourceThread);
    ReleaseThread(sourceThread);
    ReleaseThread(sinkThread);
}

}  // namespace

bool PostRequest(bool toSink, CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                 const void* data, uint16_t length, bool adoptReference) {
    CRequestThread* thread = (toSink ? sinkThread : sourceThread).load(std::memory_order_acquire);
    if (thread == nullptr) {
        if (adoptReference && handler != nullptr) handler->Release();
        return true;
    }
    return thread->Queue().Post(handler, service, flags, kind, data, length, adoptReference);
}

bool StartRequestThreads(BatchRunner sourceRunner) {
    if (sinkThread.load() == nullptr && sourceThread.load() == nullptr) {
        new (std::nothrow) CRequestThread(&sinkThread);
        new (std::nothrow) CRequestThread(&sourceThread, sourceRunner);
    }
    CRequestThread* sink = sinkThread.load();
    CRequestThread* source = sourceThread.load();
    if (sink != nullptr && source != nullptr) {
        source->SetName("SourceRequestThread");
        if (source->Start()) {
            sink->SetName("SinkRequestThread");
            if (sink->Start()) return true;
        }
    }
    StopAndReleaseBoth();
    return false;
}

bool StopRequestThreads() {
    const bool sinkStopped = StopThread(sinkThread);
    const bool sourceStopped = StopThread(sourceThread);
    ReleaseThread(sourceThread);
    ReleaseThread(sinkThread);
    return sinkStopped && sourceStopped;
}
