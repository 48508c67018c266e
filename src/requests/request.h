// CRequest: queued messages for one handler, in the order they were posted, with the library's
// own copies of their service names and payloads, and a counted reference to the handler that
// will run them. Requests are internal to their queue and never reach a caller: they are
// neither tracked nor locked, and a queue reuses them, so that a message costs no allocation of
// its own.
//
// A request starts with one message. Small messages posted after it for the same handler, while
// it is still queued, join it (a pack, which outgrows the request once, into a 4 KiB buffer): a
// stream of them costs its poster one copy into the pack and the worker one request per pack,
// instead of one request each. An emptied request keeps its 4 KiB buffer for its next pack (or
// next message of up to 4 KiB), unless its queue drops it (DropHeapBuffer): a stream then costs
// no allocation, and the poster and the worker share no allocator lock.
#pragma once

#include <cstdint>
#include <memory>

#include "runtime/ref_count.h"

class CRequestHandler;

class CRequest {
public:
    CRequest() = default;
    // Gives back what Assign and Append took, when it was not given back yet.
    ~CRequest() { Clear(); }
    CRequest(const CRequest&) = delete;
    CRequest& operator=(const CRequest&) = delete;

    // Whether a message with a service name and payload of these lengths is kept inside the
    // request, where Assign needs no memory and cannot fail; only such messages join packs.
    static bool FitsInside(size_t serviceLength, size_t length) {
        return RecordBytes(serviceLength, length) <= kInlineBytes;
    }
    // Fills an empty request with its first message. service: text of serviceLength bytes
    // followed by a NUL, or null (length 0); data may be null. Counts the request in the
    // handler's pending requests; the first of them takes a reference to the handler for the
    // group, which the poster must hold one to. With handOver (a holder of that reference) the
    // group takes the poster's reference instead, or it is given back: the holder is empty
    // afterwards. False, with the request left empty and nothing taken, when the payload found
    // no memory.
    bool Assign(CRequestHandler* handler, CRef<CRequestHandler>* handOver, const char* service, size_t serviceLength,
                uint32_t flags, int32_t kind, const void* data, uint16_t length);
    // Adds a message that fits inside a request behind the ones held, for the same handler, when
    // the pack has room (it may grow to kPackBytes once). It is pending as part of this request,
    // which counts once however many messages it holds: the pending count and the handler's
    // reference are left alone, and a handed-over reference is given back. False, with nothing
    // changed and nothing taken, when it has no room.
    bool Append(CRef<CRequestHandler>* handOver, const char* service, size_t serviceLength, uint32_t flags,
                int32_t kind, const void* data, uint16_t length);

    // Runs the handler's Request on the next message not run yet; false when none is left or
    // the request has no handler. The message counts as run even when Request throws.
    bool ProcessNext();
    // Whether a message is left to run.
    bool HasNext() const { return next_ < used_; }

    CRequestHandler* Handler() const { return handler_; }
    // Messages held, and the bytes they keep: their service texts and payloads.
    size_t Messages() const { return messages_; }
    size_t Bytes() const { return bytes_; }
    // Whether the request holds a 4 KiB buffer, in use or kept for later.
    bool HoldsPackBuffer() const { return heapCapacity_ == kPackBytes; }
    // Gives back the heap buffer; only for an emptied request (Clear gives back any but a pack
    // buffer, and a queue drops the pack buffers it does not keep).
    void DropHeapBuffer();
    // Empties the request: the handler's pending count of every message still held is given
    // back; the last pending message of a handler calls its OnRequestsDone and releases the
    // group's reference here, on the calling thread.
    void Clear();

private:
    // Each message is a header, then its service text and a NUL, then its payload and a NUL
    // (handlers may show a payload as text up to its first NUL), padded to the header's
    // alignment.
    struct CHeader {
        uint16_t serviceLength;
        uint16_t length;
        uint32_t flags;
        int32_t kind;
    };
    static constexpr size_t kInlineBytes = 224;
    // A pack that outgrows the request moves to a heap buffer of this size.
    static constexpr size_t kPackBytes = 4096;

    static size_t RecordBytes(size_t serviceLength, size_t length) {
        const size_t bytes = sizeof(CHeader) + serviceLength + 1 + length + 1;
        return (bytes + alignof(CHeader) - 1) & ~(alignof(CHeader) - 1);
    }
    // Counts this request in handler_'s pending requests, taking or giving back the group
    // reference.
    void CountPending(CRef<CRequestHandler>* handOver);
    // Writes a message behind the ones held, making room first; false, with nothing changed,
    // when there is none or no memory for it.
    bool Add(const char* service, size_t serviceLength, uint32_t flags, int32_t kind, const void* data,
             uint16_t length);
    // Moves the messages held inline into a heap buffer of at least `bytes`: the one kept when it
    // is large enough, else a new one. False, with the messages left inside, without memory.
    bool MoveToHeap(size_t bytes);

    alignas(CHeader) uint8_t inlineBytes_[kInlineBytes];
    // Null, a buffer of heapCapacity_ bytes in use, or (while storage_ is inlineBytes_) a pack
    // buffer kept by an emptied request.
    std::unique_ptr<uint8_t[]> heapBytes_;
    uint32_t heapCapacity_ = 0;
    // The buffer in use: inlineBytes_ or heapBytes_, `capacity_` bytes, the first used_ of
    // them holding messages; next_ is where the next message to run starts.
    uint8_t* storage_ = inlineBytes_;
    uint32_t capacity_ = kInlineBytes;
    uint32_t used_ = 0;
    uint32_t next_ = 0;
    // Messages held, and their bytes.
    uint32_t messages_ = 0;
    uint32_t bytes_ = 0;
    CRequestHandler* handler_ = nullptr;
};
