#include "requests/request_threads.h"

#include <atomic>
#include <new>

#include "requests/request.h"
#include "requests/request_handler.h"
#include "runtime/user_count.h"

namespace {

// A process-wide thread pointer and the posts that are using it: a post either finds no thread
// or a thread object that lives until it is done, even while the library terminates under a
// server routine that posts.
struct CThreadSlot {
    std::atomic<CRequestThread*> thread{nullptr};
    CUserCount posting;
};

CThreadSlot sinkSlot;
CThreadSlot sourceSlot;

bool StopThread(CThreadSlot& slot) {
    CRequestThread* thread = slot.thread.load();
    return thread == nullptr || thread->Stop();
}

// The slot holds the reference the thread object was made with.
void ReleaseThread(CThreadSlot& slot) {
    const CRef<CRequestThread> thread = CRef<CRequestThread>::Adopt(slot.thread.exchange(nullptr));
    if (thread) slot.posting.AwaitNone();
}

void StopAndReleaseBoth() {
    StopThread(sinkSlot);
    StopThread(sourceSlot);
    ReleaseThread(sourceSlot);
    ReleaseThread(sinkSlot);
}

// Calls use with the thread object of the sink's (toSink) or the source's slot, or null, while
// counted there as a post: the object stays until use returns.
template <class Use>
auto WithThread(bool toSink, Use use) {
    CThreadSlot& slot = toSink ? sinkSlot : sourceSlot;
    const CUserCount::CUse counted(slot.posting);
    return use(slot.thread.load());
}

// Queues on a thread found in its slot by a post that counts itself there; true without a thread.
bool PostTo(CRequestThread* thread, CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
            const void* data, uint16_t length, CRef<CRequestHandler>* handOver, bool* full) {
    return thread == nullptr || thread->Queue().Post(handler, service, flags, kind, data, length, handOver, full);
}

}  // namespace

bool PostRequest(bool toSink, CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                 const void* data, uint16_t length, CRef<CRequestHandler>* handOver, bool* full) {
    return WithThread(toSink, [&](CRequestThread* thread) {
        return PostTo(thread, handler, service, flags, kind, data, length, handOver, full);
    });
}

// One use of the slot covers both the inline run and the post that may follow it.
bool RunOrPostRequest(bool toSink, CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                      const void* data, uint16_t length, CRef<CRequestHandler>* handOver, bool* full) {
    return WithThread(toSink, [&](CRequestThread* thread) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        if (thread != nullptr && thread->RunInline(handler, service, flags, kind, bytes, length)) return true;
        return PostTo(thread, handler, service, flags, kind, data, length, handOver, full);
    });
}

std::unique_ptr<CRequest> SpareRequest(bool toSink) {
    return WithThread(toSink, [](CRequestThread* thread) {
        return thread != nullptr ? thread->Queue().Spare() : std::unique_ptr<CRequest>(new (std::nothrow) CRequest);
    });
}

bool PostFilledRequest(bool toSink, std::unique_ptr<CRequest>& request, bool* full) {
    return WithThread(toSink, [&](CRequestThread* thread) {
        if (thread != nullptr) return thread->Queue().PostFilled(request, full);
        if (full != nullptr) *full = false;
        request.reset();
        return true;
    });
}

size_t QueuedMessages(bool toSink) {
    return WithThread(toSink, [](CRequestThread* thread) {
        return thread != nullptr ? thread->Queue().QueuedMessages() : size_t{0};
    });
}

bool RequestThreadsRunning() {
    return sourceSlot.thread.load() != nullptr;
}

bool StartRequestThreads(BatchRunner sourceRunner, RoomHook sinkRoom) {
    if (sinkSlot.thread.load() == nullptr && sourceSlot.thread.load() == nullptr) {
        if (auto* sink = new (std::nothrow) CRequestThread(&sinkSlot.thread, &RunBatch, sinkRoom)) {
            sink->Queue().SetLimit(kSinkQueueMessages, kSinkQueueBytes);
        }
        new (std::nothrow) CRequestThread(&sourceSlot.thread, sourceRunner);
    }
    CRequestThread* sink = sinkSlot.thread.load();
    CRequestThread* source = sourceSlot.thread.load();
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
    const bool sinkStopped = StopThread(sinkSlot);
    const bool sourceStopped = StopThread(sourceSlot);
    ReleaseThread(sourceSlot);
    ReleaseThread(sinkSlot);
    return sinkStopped && sourceStopped;
}
