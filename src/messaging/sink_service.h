// CSinkService: a named mailbox inside the sink. Advise and Update messages feed its state map;
// calls, queries and replies wait in its message list as [tag, message] pairs, oldest first.
#pragma once

#include <mbus/mbus.h>

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "runtime/ref_count.h"

class CSink;

class CSinkService : public CCountable {
public:
    CSinkService(CSink* sink, const char* name, HANDLE event);
    ~CSinkService() override;

    // Decodes the payload of an item kind, runs the kind's handler and, when it succeeded,
    // signals the service's event or else `fallback`. Runs on the sink request thread.
    bool Dispatch(HANDLE fallback, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length);

    // The oldest message with a reference for the caller and its tag as code (6, 7 or 8);
    // null with 9 when the list is empty, null with 1 for a malformed entry.
    MbItem Receive(bool remove, MbResult* code);
    // Handles `item` as if a Call carrying it had arrived.
    bool PostCall(MbItem item);
    // Leaves the sink's registry.
    void Detach();
    // The live state map with a reference for the caller.
    MbItem GetState();
    // New String items of the service's name and of its sink's name; null when empty.
    MbItem GetNameItem();
    MbItem GetSinkNameItem();

private:
    class CTrace;

    bool OnSend(const uint8_t* data, uint16_t length);
    bool OnRequest(const uint8_t* data, uint16_t length);
    bool OnAdvise(MbItem message);
    bool OnUpdate(MbItem message);
    bool OnCall(MbItem message);
    bool OnQuery(MbItem message);
    bool OnReply(MbItem message);
    bool Enqueue(MbItem tag, MbItem message);
    bool AdoptState(MbItem message);
    // Shared path of OnCall and OnReply: a non-map message is itself the head item; a map
    // must hold `head` and may hold the two optional keys.
    bool OnHeadedMessage(MbItem message, MbItem tag, const char* label, const char* head,
                         const char* first, const char* firstLabel, const char* second, const char* secondLabel);
    void Signal(HANDLE fallback);

    MbItem messages;
    HANDLE event;
    MbItem state;
    MbItem callTag;
    MbItem queryTag;
    MbItem replyTag;
    std::string name;
    CSink* sink;
};
