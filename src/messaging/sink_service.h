// CSinkService: a named mailbox inside the sink. Advise and Update messages feed its state map;
// calls, queries and replies wait in its message list as [tag, message] pairs, oldest first.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>
#include <deque>
#include <string>

#include "platform/platform.h"
#include "runtime/ref_count.h"

class CSink;

class CSinkService final : public CCountable {
public:
    CSinkService(CSink* sink, const char* name, HANDLE event);
    ~CSinkService() override;

    // Decodes the payload of an item kind, runs the kind's handler and, when it succeeded,
    // signals the service's event or else `fallback`. Runs on the sink request thread.
    bool Dispatch(HANDLE fallback, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length);

    // The oldest message with a reference for the caller and its tag as code (6, 7 or 8);
    // null with 9 when the list is empty, null with 1 when no reference could be added.
    MbItem Receive(bool remove, MbResult* code);
    // Handles `item` as if a Call carrying it had arrived.
    bool PostCall(MbItem item);
    // Leaves the sink's registry.
    void Detach();
    // The live state map with a reference for the caller.
    MbItem GetState();
    // The service's name, and its sink's name ("" without a sink); "" stands for no name.
    std::string Name();
    std::string SinkName();

private:
    class CTrace;

    bool OnSend(const uint8_t* data, uint16_t length);
    bool OnRequest(const uint8_t* data, uint16_t length);
    bool OnAdvise(MbItem message);
    bool OnUpdate(MbItem message);
    bool OnCall(MbItem message);
    bool OnQuery(MbItem message);
    bool OnReply(MbItem message);
    // Appends [tag, message] with a reference to the message; false when the list is full.
    bool Enqueue(MbResult tag, MbItem message);
    bool AdoptState(MbItem message);
    // Shared path of OnCall and OnReply: a non-map message is itself the head item; a map
    // must hold `head` and may hold the two optional keys.
    bool OnHeadedMessage(MbItem message, MbResult tag, const char* label, const char* head,
                         const char* first, const char* firstLabel, const char* second, const char* secondLabel);
    // The event to signal for a message taken in: the service's own, else `fallback`. Called
    // under the lock; the caller signals it after leaving the lock.
    HANDLE SignalTarget(HANDLE fallback);

    // A queued message and its receive code (6, 7 or 8).
    struct CEntry {
        MbResult tag;
        MbItem message;
    };
    // As many entries as a List item holds: a message past them is discarded.
    static constexpr size_t kMaxQueuedMessages = 65535;

    // Oldest first; each entry holds a reference to its message. A queue rather than a List
    // item: taking the oldest is constant time, and queuing makes no pair items.
    std::deque<CEntry> messages;
    HANDLE event;
    MbItem state;
    std::string name;
    CSink* sink;
};
