// CRequestQueue: a first-in first-out queue of requests that its one consumer (the worker
// thread) sleeps on while it is empty. Many posters, one consumer. The consumer hands run
// requests back (Recycle), and posters reuse them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/wake_word.h"
#include "runtime/ref_count.h"
#include "runtime/section_lock.h"

class CRequest;
class CRequestHandler;

class CRequestQueue : public CCountable {
public:
    // How long one period of spare demand lasts (see Recycle).
    static constexpr uint32_t kSparePeriodMs = 10000;
    // Spares kept whatever the demand, and at most: about 1 MiB and 18 MiB of requests.
    static constexpr size_t kMinSpares = 4096;
    static constexpr size_t kMaxSpares = 0x10000;
    // Spares that keep their 4 KiB pack buffer, at most (1 MiB); the others give it back.
    static constexpr size_t kMaxSparePackBuffers = 256;

    explicit CRequestQueue(uint32_t sparePeriodMs = kSparePeriodMs, TickSource ticks = &GetTickCount)
        : ticks_(ticks), sparePeriodMs_(sparePeriodMs), periodStart_(ticks()) {}

    // A queue with a limit tells the posters that fill it up to `messages` messages or `bytes`
    // bytes of service text and payload to hold off (Post's *full); it still takes every post.
    // The consumer's TakeAll then reports that they may go on.
    void SetLimit(size_t messages, size_t bytes);
    // Empties what is still queued without processing it.
    ~CRequestQueue() override;

    // Queues a message: a small one joins the last queued request when that is for the same
    // handler and has room (CRequest::Append), any other gets a request of its own. False when
    // it could not be queued. The caller holds a reference to the handler; given handOver, a
    // holder of that reference, the queue takes it over once the message is queued (on false
    // the holder keeps it). *full, when given, tells whether the queue has reached its limit
    // with this message.
    bool Post(CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind, const void* data,
              uint16_t length, CRef<CRequestHandler>* handOver = nullptr, bool* full = nullptr);
    // An empty request for a poster to fill before it queues it (PostFilled): a recycled one,
    // else a new one; null without memory.
    std::unique_ptr<CRequest> Spare();
    // Queues a request filled by Assign and Append behind everything posted before it; the
    // queue takes it over. False, with the request left to the caller, when the queue could
    // not grow. *full as for Post.
    bool PostFilled(std::unique_ptr<CRequest>& request, bool* full);
    // Moves every queued request, in arrival order, into `batch` (emptied first). The caller
    // owns them until it gives them back with Recycle. One lock hold; `batch` keeps its
    // capacity across calls. True when a poster was told that the queue was full since the
    // last TakeAll: posters held off may go on now.
    bool TakeAll(std::vector<CRequest*>& batch);
    // Takes back run requests for later posts, emptying those that were not emptied yet (a
    // request kept its handler reference until then); empties `batch`. The queue keeps as many
    // spares as were live at once (the batch and the requests queued behind it) at the busiest
    // recycle of this period or the last one (at least kMinSpares, at most kMaxSpares), so a
    // busy queue allocates nothing in its steady state and a queue whose traffic fell gives the
    // surplus back within two periods. An empty batch counts: a consumer that recycles one when
    // it wakes idle lets an idle queue shrink too.
    void Recycle(std::vector<CRequest*>& batch);
    // Messages queued and not taken yet.
    size_t QueuedMessages();
    size_t Spares();
    // The spares that keep a pack buffer.
    size_t SparePackBuffers();
    // Whether nothing is queued now.
    bool Empty();
    // The consumer's wait: returns at once when requests are queued or Interrupt was called
    // since the last wait, else sleeps until one of them happens or `milliseconds` pass (a
    // signal may end the sleep sooner). True when requests are queued.
    bool Wait(uint32_t milliseconds);
    // Ends the consumer's current or next Wait.
    void Interrupt();

private:
    // The last spare taken off the list, or null when there is none.
    CRequest* PopSpareLocked() REQUIRES(mutex_);
    // Puts an emptied request on the spare list, counting its pack buffer. Throws
    // std::bad_alloc, with nothing changed.
    void PushSpareLocked(CRequest* request) REQUIRES(mutex_);

    // The spare limit once `live` requests were live at once; advances the period when it has
    // passed.
    size_t SpareLimitLocked(size_t live) REQUIRES(mutex_);

    // Queues a filled request; true when the consumer is to be woken. Throws std::bad_alloc,
    // with nothing queued, when the queue cannot grow.
    bool QueueLocked(CRequest* request, bool* full) REQUIRES(mutex_);
    // QueueLocked taking the request over, *wake its result; false, with the request left to
    // the caller, when the queue cannot grow.
    bool TakeOverLocked(std::unique_ptr<CRequest>& request, bool* full, bool* wake) REQUIRES(mutex_);
    // Counts messages and bytes that were queued, and tells *full when they reach the limit.
    void CountLocked(size_t messages, size_t bytes, bool* full) REQUIRES(mutex_);
    // Wakes the consumer; the poster that wakes it clears sleeping_ for the others.
    bool WakeLocked() REQUIRES(mutex_);

    CSectionLock mutex_;
    CWakeWord wakeWord_;
    // Guarded by mutex_. Set while the consumer sleeps in Wait: only then does a poster wake it,
    // and only the first one, so a busy worker costs its posters no system call and wakes once
    // per batch.
    bool sleeping_ GUARDED_BY(mutex_) = false;
    bool interrupted_ GUARDED_BY(mutex_) = false;
    std::vector<CRequest*> requests_ GUARDED_BY(mutex_);
    // The limit (0: none), the bytes queued, and whether a poster was told the queue is full.
    size_t limitMessages_ GUARDED_BY(mutex_) = 0;
    size_t limitBytes_ GUARDED_BY(mutex_) = 0;
    size_t queuedMessages_ GUARDED_BY(mutex_) = 0;
    size_t queuedBytes_ GUARDED_BY(mutex_) = 0;
    bool fullReported_ GUARDED_BY(mutex_) = false;
    std::vector<CRequest*> spares_ GUARDED_BY(mutex_);
    // The spares that hold a pack buffer; at most kMaxSparePackBuffers.
    size_t sparePackBuffers_ GUARDED_BY(mutex_) = 0;
    // Most requests live at once at a recycle of the current and of the previous period, and
    // when the current period began (ticks_).
    const TickSource ticks_;
    const uint32_t sparePeriodMs_;
    size_t demand_ GUARDED_BY(mutex_) = 0;
    size_t previousDemand_ GUARDED_BY(mutex_) = 0;
    uint32_t periodStart_ GUARDED_BY(mutex_);
};
