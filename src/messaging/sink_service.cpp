#include "messaging/sink_service.h"

#include <charconv>
#include <cstring>
#include <new>
#include <string>

#include "api/item_handles.h"
#include "items/item_tree.h"
#include "messaging/item_ref.h"
#include "messaging/sink.h"
#include "messaging/trace_line.h"
#include "requests/request_thread.h"
#include "runtime/tracer.h"
#include "runtime/tracker.h"

namespace {

constexpr int32_t kSend = MbKindSend;
// How often a wait for room looks whether its request thread is being stopped.
constexpr uint32_t kRoomPollMs = 50;

bool IsQueuedKind(int32_t kind) {
    return kind == MbKindCall || kind == MbKindQuery || kind == MbKindReply;
}

bool IsMap(MbItem item) {
    uint32_t type = 0;
    return MbItemGetType(item, &type) == MbResultOk && type == MbTypeMap;
}

}  // namespace

// One diagnostic line of a handler: "<sink>.<service><label>...". Nothing is formatted when
// no callback would receive it. A text piece ends at its first NUL, as printed pieces do.
class CSinkService::CTrace {
public:
    CTrace(CSinkService& service, const char* label) : wanted_(TraceWanted()) {
        if (!wanted_) return;
        if (service.sink != nullptr && service.sink->AppendName(line_)) line_.Append(".", 1);
        line_.Append(service.name.empty() ? "_default" : service.name.c_str());
        line_.Append(label);
    }
    bool Wanted() const { return wanted_; }
    void Text(const char* text) {
        if (wanted_) line_.Append(text);
    }
    // The entry `key` of a map, after `label` when given; nothing when the map lacks it.
    void Named(MbItem map, const char* key, const char* label) {
        CItemRef entry;
        if (!wanted_ || MbMapGetNamed(map, key, entry.Out()) != MbResultOk || entry.Get() == nullptr) return;
        if (label != nullptr) Text(label);
        Item(entry.Get());
    }
    void Item(MbItem item) {
        if (!wanted_ || item == nullptr) return;
        CItemRef text(MbItemToText(item, 0));
        const void* bytes = nullptr;
        uint16_t length = 0;
        if (MbAtomGetBlob(text.Get(), &bytes, &length) == MbResultOk && length != 0) {
            const char* characters = static_cast<const char*>(bytes);
            line_.Append(characters, strnlen(characters, length));
        }
    }
    // The ".Send" and ".Request" lines: a count and the payload shown up to its first NUL.
    void Received(const char* label, unsigned count, const char* text) {
        if (!wanted_) return;
        char number[16];
        const auto end = std::to_chars(number, number + sizeof number, count).ptr;
        line_.Append(label);
        line_.Append(": received ");
        line_.Append(number, static_cast<size_t>(end - number));
        line_.Append(" bytes (");
        line_.Append(text);
        line_.Append(").");
    }
    // Ends the line with the separator and hands it to the user tracer.
    void Finish(const char* last) {
        if (!wanted_) return;
        if (last != nullptr) line_.Append(last);
        line_.Emit();
    }

private:
    bool wanted_;
    CTraceLine line_;
};

CSinkService::CSinkService(CSink* owner, const char* serviceName, HANDLE readyEvent)
    : event(readyEvent), state(MbMapNew()), name(serviceName != nullptr ? serviceName : ""), sink(nullptr) {
    className = "CSinkService";
    if (CheckedAddRef(owner)) sink = owner;
}

CSinkService::~CSinkService() {
    for (const CEntry& entry : messages) MbHandleRelease(entry.message);
    if (state != nullptr) MbHandleRelease(state);
    if (sink != nullptr) CheckedRelease(sink);
}

// The payload is read straight from the request's bytes: MbItemFromBytes on a Blob of them,
// without making the Blob. The event is signalled once the lock is left, so that the reader it
// wakes finds the lock free instead of sleeping on it at once.
bool CSinkService::Dispatch(HANDLE fallback, uint32_t, int32_t kind, const uint8_t* data, uint16_t length) {
    bool ok;
    HANDLE target;
    const bool hasRoom = IsQueuedKind(kind) && AwaitRoom();
    {
        ScopedLock hold(*this);
        admitted = hasRoom;
        dispatchBytes = length;
        CItemRef message;
        if (kind >= MbKindAdvise && kind <= MbKindReply && CanMakeItems()) {
            *message.Out() = Publish(LoadItem(data, length));
        }
        switch (kind) {
            case kSend: ok = OnSend(data, length); break;
            case MbKindAdvise: ok = OnAdvise(message.Get()); break;
            case MbKindUpdate: ok = OnUpdate(message.Get()); break;
            case MbKindCall: ok = OnCall(message.Get()); break;
            case MbKindQuery: ok = OnQuery(message.Get()); break;
            case MbKindReply: ok = OnReply(message.Get()); break;
            default: ok = OnRequest(data, length); break;
        }
        admitted = false;
        dispatchBytes = 0;
        target = ok ? SignalTarget(fallback) : nullptr;
    }
    if (target != nullptr) SetEvent(target);
    return ok;
}

bool CSinkService::FullLocked() const {
    return messages.size() >= kMaxQueuedMessages || queuedBytes >= kMaxQueuedBytes;
}

bool CSinkService::AboveLowMarkLocked() const {
    return messages.size() > kLowQueuedMessages || queuedBytes > kLowQueuedBytes;
}

// The ticket is read before the queue is looked at, so a take that makes room after the look
// ends the sleep that follows it.
bool CSinkService::AwaitRoom() {
    {
        ScopedLock hold(*this);
        if (!FullLocked()) return true;
    }
    for (;;) {
        const uint32_t ticket = room.Ticket();
        {
            ScopedLock hold(*this);
            if (!AboveLowMarkLocked() || detached.load()) return true;
            roomWanted = true;
        }
        if (!CRequestThread::OnWorker() || CRequestThread::CurrentStopping()) return false;
        room.Sleep(ticket, kRoomPollMs);
    }
}

HANDLE CSinkService::SignalTarget(HANDLE fallback) {
    return event != nullptr ? event : fallback;
}

bool CSinkService::OnSend(const uint8_t* data, uint16_t length) {
    CTrace line(*this, "");
    line.Received(".Send", length, reinterpret_cast<const char*>(data));
    line.Finish(nullptr);
    return true;
}

bool CSinkService::OnRequest(const uint8_t* data, uint16_t length) {
    CTrace line(*this, "");
    line.Received(".Request", length, reinterpret_cast<const char*>(data));
    line.Finish(nullptr);
    return true;
}

bool CSinkService::AdoptState(MbItem message) {
    if (MbHandleAddRef(message) != MbResultOk) return false;
    MbHandleRelease(state);
    state = message;
    return true;
}

bool CSinkService::OnAdvise(MbItem message) {
    const bool ok = IsMap(message) && AdoptState(message);
    CTrace line(*this, ".Advise: ");
    if (!ok) line.Text("*discarded*, ");
    line.Item(message);
    line.Finish(".");
    return ok;
}

bool CSinkService::OnUpdate(MbItem message) {
    bool ok = false;
    uint16_t stateCount = 0;
    if (IsMap(message)) {
        if (MbItemGetCount(state, &stateCount) == MbResultOk && stateCount == 0) {
            ok = AdoptState(message);
        } else {
            uint16_t count = 0;
            ok = MbItemGetCount(message, &count) == MbResultOk;
            for (uint16_t position = 0; ok && position < count; ++position) {
                CItemRef key;
                CItemRef value;
                if (MbMapGetKeyAt(message, position, key.Out()) == MbResultOk &&
                    MbItemGet(message, key.Get(), value.Out()) == MbResultOk) {
                    MbItemSet(state, key.Get(), value.Get());
                }
            }
        }
    }
    CTrace line(*this, ".Update: ");
    if (!ok) line.Text("*discarded*, ");
    line.Item(message);
    line.Finish(".");
    return ok;
}

// A map needs only its head to be taken in: its entries are fetched for the trace line alone,
// and only when a callback will receive it.
bool CSinkService::OnHeadedMessage(MbItem message, MbResult tag, const char* label, const char* head,
                                   const char* first, const char* firstLabel, const char* second,
                                   const char* secondLabel) {
    uint32_t type = 0;
    const bool typed = MbItemGetType(message, &type) == MbResultOk;
    const bool isMap = typed && type == MbTypeMap;
    const bool ok = typed && (!isMap || MbMapHasNamed(message, head) == MbResultOk) && Enqueue(tag, message);
    CTrace line(*this, label);
    if (!line.Wanted()) return ok;
    if (!ok) {
        line.Text("*discarded*, ");
        line.Item(message);
    } else if (!isMap) {
        line.Item(message);
    } else {
        line.Named(message, head, nullptr);
        line.Named(message, first, firstLabel);
        if (second != nullptr) line.Named(message, second, secondLabel);
    }
    line.Finish(".");
    return ok;
}

bool CSinkService::OnCall(MbItem message) {
    return OnHeadedMessage(message, MbReceivedCall, ".Call: ", "proc", "arg", ", ", nullptr, nullptr);
}

bool CSinkService::OnReply(MbItem message) {
    return OnHeadedMessage(message, MbReceivedReply, ".Reply: ", "cookie", "proc", ", Proc:", "result", " <-- ");
}

bool CSinkService::OnQuery(MbItem message) {
    const bool ok = MbMapHasNamed(message, "proc") == MbResultOk && MbMapHasNamed(message, "source") == MbResultOk &&
                    Enqueue(MbReceivedQuery, message);
    CTrace line(*this, ".Query: ");
    if (!ok) line.Text("*discarded*, ");
    line.Item(message);
    line.Finish(".");
    return ok;
}

bool CSinkService::Enqueue(MbResult tag, MbItem message) {
    if ((!admitted && FullLocked()) || MbHandleAddRef(message) != MbResultOk) return false;
    try {
        messages.push_back(CEntry{tag, message, dispatchBytes});
    } catch (const std::bad_alloc&) {
        MbHandleRelease(message);
        return false;
    }
    queuedBytes += dispatchBytes;
    return true;
}

// Taking hands the queue's reference to the caller; peeking adds one for the caller. A take
// that brings a full queue down to the low mark wakes the waiting request thread.
MbItem CSinkService::Receive(bool remove, MbResult* code) {
    *code = MbNothingReceived;
    bool wake = false;
    CEntry entry{};
    {
        ScopedLock hold(*this);
        if (messages.empty()) return nullptr;
        entry = messages.front();
        if (remove) {
            messages.pop_front();
            queuedBytes -= entry.bytes;
            wake = roomWanted && !AboveLowMarkLocked();
            if (wake) roomWanted = false;
        } else if (MbHandleAddRef(entry.message) != MbResultOk) {
            *code = MbResultFailed;
            return nullptr;
        }
    }
    if (wake) room.Wake();
    *code = entry.tag;
    return entry.message;
}

bool CSinkService::PostCall(MbItem item) {
    if (item == nullptr) return false;
    HANDLE target;
    {
        ScopedLock hold(*this);
        if (!OnCall(item)) return false;
        target = SignalTarget(sink != nullptr ? sink->GetEvent() : nullptr);
    }
    if (target != nullptr) SetEvent(target);
    return true;
}

// The sink and the name are fixed at construction: the service's lock is not held, so the
// sink's lock is never taken inside it.
void CSinkService::Detach() {
    detached.store(true);
    room.Wake();
    if (sink != nullptr && !name.empty()) sink->RemoveService(name.c_str());
}

MbItem CSinkService::GetState() {
    ScopedLock hold(*this);
    return MbHandleAddRef(state) == MbResultOk ? state : nullptr;
}

std::string CSinkService::Name() {
    ScopedLock hold(*this);
    return name;
}

std::string CSinkService::SinkName() {
    ScopedLock hold(*this);
    std::string text;
    if (sink != nullptr) sink->AppendName(text);
    return text;
}
