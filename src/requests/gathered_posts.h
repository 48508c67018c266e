// CGatheredPosts: messages that one thread posts in a row for one handler, gathered into one
// request and queued whole (Flush), so that a stream costs its poster one queue lock and one
// handler reference per request instead of per message. The worker sees
// none of the gathered messages before the flush: the poster flushes before it posts anything
// another way, and whenever it stops for now, so that order and delivery are those of posting
// each message. One per posting thread.
#pragma once

#include <cstdint>
#include <memory>

#include "requests/request.h"

class CGatheredPosts {
public:
    // Gathers for the sink (toSink) or the source request thread.
    constexpr explicit CGatheredPosts(bool toSink) : toSink_(toSink) {}

    // Adds a message behind the gathered ones when they are for `handler` and the request has
    // room; false, with nothing taken, otherwise. The open request keeps the handler alive: the
    // caller needs no reference of its own, only the same handler as the one it opened with.
    bool Append(const CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind, const void* data,
                uint16_t length);
    // Starts gathering with a first message for handler, with nothing gathered (Flush first).
    // handOver holds the caller's reference, which the request takes over (see PostRequest).
    // False, with nothing taken, without memory.
    bool Open(CRequestHandler* handler, CRef<CRequestHandler>* handOver, const char* service, uint32_t flags,
              int32_t kind, const void* data, uint16_t length);
    // Queues what was gathered, if anything (see PostFilledRequest). False when it could not
    // be queued: its messages are lost and the caller reports it. *full as for PostRequest.
    bool Flush(bool* full);
    // Whether nothing is gathered.
    bool Empty() const { return !open_; }

private:
    const bool toSink_;
    std::unique_ptr<CRequest> open_;
};
