#include "messaging/sink_service.h"

#include <new>
#include <string>

#include "items/item_access.h"
#include "items/item_handles.h"
#include "items/item_tree.h"
#include "messaging/service_trace.h"
#include "messaging/sink.h"
#include "requests/inline_hold.h"
#include "requests/request_thread.h"
#include "runtime/tracker.h"

namespace {

constexpr int32_t kSend = MbKindSend;
// How often a wait for room looks whether its request thread is being stopped.
constexpr uint32_t kRoomPollMs = 50;

bool IsQueuedKind(int32_t kind) {
    return kind == MbKindCall || kind == MbKindQuery || kind == MbKindReply;
}

bool IsMap(const CItem* item) {
    return item != nullptr && item->GetMap() != nullptr;
}

}  // namespace

CSinkService::CSinkService(CSink* owner, const char* serviceName, HANDLE readyEvent)
    : event_(readyEvent),
      state_(Tracked(CItem::NewMap())),
      name_(serviceName != nullptr ? serviceName : ""),
      sink_(CCheckedRef<CSink>::Share(owner)),
      tracePrefix_(CServiceTrace::Prefix(owner, name_)) {
    className_ = "CSinkService";
}

CSinkService::~CSinkService() = default;

// The payload is read straight from the request's bytes: MbItemFromBytes on a Blob of them,
// without making the Blob. The event is signalled once the lock is left, so that the reader it
// wakes finds the lock free instead of sleeping on it at once.
bool CSinkService::Dispatch(HANDLE fallback, uint32_t, int32_t kind, const uint8_t* data, uint16_t length) {
    bool ok;
    HANDLE target;
    {
        const CInlineHold inlineHold(this);
        if (!inlineHold.Ok()) return false;
        const bool hasRoom = IsQueuedKind(kind) && AwaitRoom();
        if (!hasRoom && CRequestThread::InlineDeferred()) return false;
        ScopedLock hold(*this);
        admitted_ = hasRoom;
        dispatchBytes_ = length;
        CCheckedRef<CItem> message;
        if (kind >= MbKindAdvise && kind <= MbKindReply && CanMakeItems()) {
            message = Tracked(LoadItem(data, length));
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
        admitted_ = false;
        dispatchBytes_ = 0;
        target = ok ? SignalTarget(fallback) : nullptr;
    }
    if (target != nullptr) SignalMessageTaken(target);
    return ok;
}

bool CSinkService::FullLocked() const {
    return messages_.size() >= kMaxQueuedMessages || queuedBytes_ >= kMaxQueuedBytes;
}

bool CSinkService::AboveLowMarkLocked() const {
    return messages_.size() > kLowQueuedMessages || queuedBytes_ > kLowQueuedBytes;
}

// The ticket is read before the queue is looked at, so a take that makes room after the look
// ends the sleep that follows it. A queue that was found full keeps holding messages off until
// it reaches the low mark, also one that a take brought just below its limit before the worker
// ran the message deferred to it by a transport thread's try.
bool CSinkService::AwaitRoom() {
    {
        ScopedLock hold(*this);
        if (!FullLocked() && !roomWanted_) return true;
    }
    for (;;) {
        const uint32_t ticket = room_.Ticket();
        {
            ScopedLock hold(*this);
            if (!AboveLowMarkLocked() || detached_.load()) return true;
            roomWanted_ = true;
        }
        if (CRequestThread::DeferToWorker() || !CRequestThread::OnWorker() || CRequestThread::CurrentStopping()) {
            return false;
        }
        SignalTakenMessagesNow();
        room_.Sleep(ticket, kRoomPollMs);
    }
}

HANDLE CSinkService::SignalTarget(HANDLE fallback) {
    return event_ != nullptr ? event_ : fallback;
}

bool CSinkService::OnSend(const uint8_t* data, uint16_t length) {
    CServiceTrace line(tracePrefix_, "");
    line.Received(".Send", length, reinterpret_cast<const char*>(data));
    line.Finish(nullptr);
    return true;
}

bool CSinkService::OnRequest(const uint8_t* data, uint16_t length) {
    CServiceTrace line(tracePrefix_, "");
    line.Received(".Request", length, reinterpret_cast<const char*>(data));
    line.Finish(nullptr);
    return true;
}

bool CSinkService::AdoptState(CItem& message) {
    CCheckedRef<CItem> adopted = CCheckedRef<CItem>::Share(&message);
    if (!adopted) return false;
    state_ = std::move(adopted);
    return true;
}

bool CSinkService::OnAdvise(CItem* message) {
    const bool ok = IsMap(message) && AdoptState(*message);
    CServiceTrace line(tracePrefix_, ".Advise: ");
    if (!ok) line.Text("*discarded*, ");
    line.Item(message);
    line.Finish(".");
    return ok;
}

// The message is this dispatch's own, just loaded: no other thread locks it while its entries
// are merged into the state.
bool CSinkService::OnUpdate(CItem* message) {
    bool ok = false;
    if (IsMap(message)) {
        // The state is held while its lock is: adopting the message replaces it.
        const CCheckedRef<CItem> state = state_.Clone();
        CMap* current = state ? state->GetMap() : nullptr;
        const CInlineHold inlineHold(current);
        if (!inlineHold.Ok()) return false;
        if (current == nullptr || current->Count() == 0) {
            ok = AdoptState(*message);
        } else {
            CMap& update = *message->GetMap();
            ScopedLock hold(update);
            CAtom* key = nullptr;
            CItem* value = nullptr;
            for (uint16_t position = 0; update.EntryAt(position, &key, &value); ++position) current->Set(key, value);
            ok = true;
        }
    }
    CServiceTrace line(tracePrefix_, ".Update: ");
    if (!ok) line.Text("*discarded*, ");
    line.Item(message);
    line.Finish(".");
    return ok;
}

// A map needs only its head to be taken in: its entries are fetched for the trace line alone,
// and only when a callback will receive it.
bool CSinkService::OnHeadedMessage(CItem* message, MbResult tag, const char* label, const char* head, const char* first,
                                   const char* firstLabel, const char* second, const char* secondLabel) {
    const bool isMap = IsMap(message);
    const bool ok = message != nullptr && (!isMap || HasNamed(*message, head)) && Enqueue(tag, *message);
    CServiceTrace line(tracePrefix_, label);
    if (!line.Wanted()) return ok;
    if (!ok) {
        line.Text("*discarded*, ");
        line.Item(message);
    } else if (!isMap) {
        line.Item(message);
    } else {
        line.Named(*message, head, nullptr);
        line.Named(*message, first, firstLabel);
        if (second != nullptr) line.Named(*message, second, secondLabel);
    }
    line.Finish(".");
    return ok;
}

bool CSinkService::OnCall(CItem* message) {
    return OnHeadedMessage(message, MbReceivedCall, ".Call: ", "proc", "arg", ", ", nullptr, nullptr);
}

bool CSinkService::OnReply(CItem* message) {
    return OnHeadedMessage(message, MbReceivedReply, ".Reply: ", "cookie", "proc", ", Proc:", "result", " <-- ");
}

bool CSinkService::OnQuery(CItem* message) {
    const bool ok = message != nullptr && HasNamed(*message, "proc") && HasNamed(*message, "source") &&
                    Enqueue(MbReceivedQuery, *message);
    CServiceTrace line(tracePrefix_, ".Query: ");
    if (!ok) line.Text("*discarded*, ");
    line.Item(message);
    line.Finish(".");
    return ok;
}

bool CSinkService::Enqueue(MbResult tag, CItem& message) {
    if (!admitted_ && FullLocked()) return false;
    CCheckedRef<CItem> held = CCheckedRef<CItem>::Share(&message);
    if (!held) return false;
    try {
        messages_.push_back(CEntry{tag, std::move(held), dispatchBytes_});
    } catch (const std::bad_alloc&) {
        return false;
    }
    queuedBytes_ += dispatchBytes_;
    return true;
}

// Taking hands the queue's reference to the caller; peeking adds one for the caller. A take
// that brings a full queue down to the low mark wakes the waiting request thread.
CCheckedRef<CItem> CSinkService::Receive(bool remove, MbResult* code) {
    *code = MbNothingReceived;
    bool wake = false;
    CCheckedRef<CItem> message;
    MbResult tag;
    {
        ScopedLock hold(*this);
        if (messages_.empty()) return message;
        CEntry& entry = messages_.front();
        tag = entry.tag;
        if (remove) {
            message = std::move(entry.message);
            queuedBytes_ -= entry.bytes;
            messages_.pop_front();
            wake = roomWanted_ && !AboveLowMarkLocked();
            if (wake) roomWanted_ = false;
        } else {
            message = entry.message.Clone();
            if (!message) {
                *code = MbResultFailed;
                return message;
            }
        }
    }
    if (wake) room_.Wake();
    *code = tag;
    return message;
}

bool CSinkService::PostCall(CItem* item) {
    HANDLE target;
    {
        ScopedLock hold(*this);
        if (!OnCall(item)) return false;
        target = SignalTarget(sink_ ? sink_->GetEvent() : nullptr);
    }
    if (target != nullptr) SetEvent(target);
    return true;
}

// The sink and the name are fixed at construction: the service's lock is not held, so the
// sink's lock is never taken inside it. A service that a newer one of its name replaced leaves
// the newer one registered.
void CSinkService::Detach() {
    detached_.store(true);
    room_.Wake();
    if (sink_ && !name_.empty()) sink_->RemoveService(name_.c_str(), this);
}

bool CSinkService::WaitingForRoom() {
    ScopedLock hold(*this);
    return roomWanted_;
}

CCheckedRef<CItem> CSinkService::GetState() {
    ScopedLock hold(*this);
    return state_.Clone();
}

std::string CSinkService::Name() {
    return name_;
}

std::string CSinkService::SinkName() {
    std::string text;
    if (sink_) sink_->AppendName(text);
    return text;
}
