// The two process-wide worker threads: the sink request thread runs every incoming message of
// the process, the source request thread every outgoing call.
#pragma once

#include <cstdint>
#include <memory>

#include "requests/request_thread.h"

class CRequest;
class CRequestHandler;

// Queues a request to the sink (toSink) or the source request thread. True without queuing
// anything when that thread does not exist (the library is not initialised); false when the
// request could not be queued. The caller holds a counted reference to the handler, a live
// tracked object, while it posts.
// Given handOver, a holder of that reference, the queued request takes it over (the holder is
// left empty); when nothing was queued the holder keeps it. *full, when given, tells whether
// the queue reached its limit with this request.
bool PostRequest(bool toSink, CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                 const void* data, uint16_t length, CRef<CRequestHandler>* handOver = nullptr, bool* full = nullptr);

// Runs the request on the calling thread when the sink (toSink) or the source request thread is
// idle with nothing queued (CRequestThread::RunInline), else posts it as PostRequest does. The
// reference handOver holds stays with the caller when the request ran here.
bool RunOrPostRequest(bool toSink, CRequestHandler* handler, const char* service, uint32_t flags, int32_t kind,
                      const void* data, uint16_t length, CRef<CRequestHandler>* handOver = nullptr,
                      bool* full = nullptr);
// An empty request to fill for the sink (toSink) or the source request thread, from that
// thread's spares when it exists; null without memory.
std::unique_ptr<CRequest> SpareRequest(bool toSink);
// Queues a filled request as PostRequest queues a message: taken over when it was queued, and
// also (emptied, its messages dropped) when that thread does not exist. False, with the request
// left to the caller, when it could not be queued.
bool PostFilledRequest(bool toSink, std::unique_ptr<CRequest>& request, bool* full = nullptr);
// Messages queued for the sink (toSink) or the source request thread that it has not taken
// yet; 0 without that thread.
size_t QueuedMessages(bool toSink);
// Whether the source request thread exists (PostRequest queues for real). Library start and
// end never run concurrently with posting.
bool RequestThreadsRunning();

// The sink request thread's queue reports itself full at this many requests or bytes; the
// server routine then holds off the transport's intake until the thread has taken the batch.
constexpr size_t kSinkQueueMessages = 16384;
constexpr size_t kSinkQueueBytes = 16 << 20;

// Creates both thread objects and starts the source thread, then the sink thread. On failure
// everything made is stopped and released. sourceRunner runs the source thread's batches;
// sinkRoom is called on the sink thread when it took a batch from a queue that was full.
bool StartRequestThreads(BatchRunner sourceRunner = &RunBatch, RoomHook sinkRoom = nullptr);
// Stops the sink thread, then the source thread, and releases both; true when both stopped
// in time.
bool StopRequestThreads();
