// CSinkService: a named mailbox inside the sink. Advise and Update messages feed its state map;
// calls, queries and replies wait in its message list as [tag, message] pairs, oldest first.
#pragma once

#include <mbus/mbus.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>

#include "base/thread_safety.h"
#include "items/item.h"
#include "platform/platform.h"
#include "platform/wake_word.h"
#include "runtime/ref_count.h"

class CSink;

class CSinkService final : public CCountable {
public:
    // The message queue holds at most this many messages, or this many bytes of their stored
    // form, whichever comes first. A message that arrives for a full queue waits (the sink takes
    // in nothing meanwhile) until the queue has drained to the low mark; a call posted locally
    // to a full queue is refused.
    static constexpr size_t kMaxQueuedMessages = 0x10000;
    static constexpr size_t kMaxQueuedBytes = 16 << 20;
    static constexpr size_t kLowQueuedMessages = kMaxQueuedMessages - kMaxQueuedMessages / 8;
    static constexpr size_t kLowQueuedBytes = kMaxQueuedBytes - kMaxQueuedBytes / 8;

    // The name that stands for the default service, which every registered sink has.
    static constexpr char kDefaultName[] = "_default";

    CSinkService(CSink* owner, const char* serviceName, HANDLE readyEvent);
    ~CSinkService() override;

    // Decodes the payload of an item kind, runs the kind's handler and, when it succeeded,
    // signals the service's event or else `fallback`. Runs on the sink request thread; a
    // message for the queue first waits while the queue is full (see kMaxQueuedMessages).
    bool Dispatch(HANDLE fallback, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length);

    // The oldest message with a reference for the caller and its tag as code
    // (MbReceivedCall, MbReceivedQuery or MbReceivedReply); empty with MbNothingReceived when
    // the queue is empty, empty with MbResultFailed when no reference could be added.
    CCheckedRef<CItem> Receive(bool remove, MbResult* code);
    // Handles `item` as if a Call carrying it had arrived; null is traced as discarded.
    bool PostCall(CItem* item);
    // Leaves the sink's registry; a message waiting for room is then queued at once.
    void Detach();
    // Whether the sink request thread found this queue full and waits for it to drain to the
    // low mark.
    bool WaitingForRoom();
    // The live state map with a reference for the caller; empty when it could not be made.
    CCheckedRef<CItem> GetState();
    // The service's name, and its sink's name ("" without a sink); "" stands for no name.
    std::string Name();
    std::string SinkName();

private:
    bool OnSend(const uint8_t* data, uint16_t length) REQUIRES(this);
    bool OnRequest(const uint8_t* data, uint16_t length) REQUIRES(this);
    bool OnAdvise(CItem* message) REQUIRES(this);
    bool OnUpdate(CItem* message) REQUIRES(this);
    bool OnCall(CItem* message) REQUIRES(this);
    bool OnQuery(CItem* message) REQUIRES(this);
    bool OnReply(CItem* message) REQUIRES(this);
    // Appends [tag, message] with a reference to the message; false when the queue is full and
    // the message was not admitted by AwaitRoom.
    bool Enqueue(MbResult tag, CItem& message) REQUIRES(this);
    // Under the lock: whether the queue is at its limit, or still above the low mark.
    bool FullLocked() const REQUIRES(this);
    bool AboveLowMarkLocked() const REQUIRES(this);
    // Waits while the queue is full, or was found full and is still above the low mark, until
    // it has drained to the low mark or the service was detached; false, at once, when the
    // queue is full off a request thread, and when the request thread is being stopped.
    bool AwaitRoom();
    bool AdoptState(CItem& message);
    // Shared path of OnCall and OnReply: a non-map message is itself the head item; a map
    // must hold `head` and may hold the two optional keys.
    bool OnHeadedMessage(CItem* message, MbResult tag, const char* label, const char* head, const char* first,
                         const char* firstLabel, const char* second, const char* secondLabel) REQUIRES(this);
    // The event to signal for a message taken in: the service's own, else `fallback`. Called
    // under the lock; the caller signals it after leaving the lock.
    HANDLE SignalTarget(HANDLE fallback) REQUIRES(this);

    // A queued message, its receive code (MbReceivedCall, MbReceivedQuery, MbReceivedReply)
    // and the size of its stored form.
    struct CEntry {
        MbResult tag;
        CCheckedRef<CItem> message;
        size_t bytes;
    };

    // Oldest first; each entry holds a reference to its message. A queue rather than a List
    // item: taking the oldest is constant time, and queuing makes no pair items.
    std::deque<CEntry> messages_;
    // Guarded by the lock: the stored bytes of the queued messages; the stored size of the
    // message being dispatched; whether that message was admitted past a full queue; whether
    // the sink request thread waits for room.
    size_t queuedBytes_ GUARDED_BY(this) = 0;
    size_t dispatchBytes_ GUARDED_BY(this) = 0;
    bool admitted_ GUARDED_BY(this) = false;
    bool roomWanted_ GUARDED_BY(this) = false;
    std::atomic<bool> detached_{false};
    // Woken by a take that brings a full queue down to the low mark, and by Detach.
    CWakeWord room_;
    const HANDLE event_;
    // A Map; empty only when it could not be made, which counts as an empty map.
    CCheckedRef<CItem> state_;
    const std::string name_;
    // Fixed at construction. The sink's Shutdown releases its services, which breaks the cycle
    // of this reference.
    const CCheckedRef<CSink> sink_;
    // "<sink>.<service>", which starts every trace line of the service (CServiceTrace).
    const std::string tracePrefix_;
};
