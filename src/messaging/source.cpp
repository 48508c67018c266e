#include "messaging/source.h"

#include "items/item_access.h"
#include "items/item_handles.h"
#include "messaging/deliver_interface.h"
#include "messaging/session_name.h"
#include "messaging/sink.h"
#include "platform/platform.h"
#include "platform/rpc/batch.h"
#include "platform/rpc/status.h"
#include "requests/inline_hold.h"
#include "requests/request.h"
#include "requests/request_thread.h"
#include "requests/request_threads.h"
#include "runtime/process.h"
#include "runtime/reports.h"
#include "runtime/tracer.h"
#include "runtime/tracker.h"

// One sender of large messages fills a receiver's queue before its own window refuses.
static_assert(CSource::kWindowBytes > kSinkQueueBytes);

namespace {

const char kPlace[] = "in CSource::Request()";

void FreeBinding(CRpcBinding* handle) {
    RpcBindingFree(&handle);
}

// Transport statuses are the RPC range; anything else the runtime raises is reported the same
// way, since every non-zero status means the message was lost.
RPC_STATUS GuardedDeliver(const boost::shared_ptr<CRpcBinding>& binding, const char* service, uint32_t flags,
                          int32_t kind, const uint8_t* data, uint16_t length) {
    try {
        Deliver(binding.get(), service, flags, static_cast<uint16_t>(kind), data, length);
        return RPC_S_OK;
    } catch (const CRpcException& failure) {
        return failure.Status();
    } catch (const std::bad_alloc&) {
        return RPC_S_OUT_OF_MEMORY;
    }
}

// One warning line in a report of its own; false, the result of the request that reports it.
bool TraceWarningLine(const char* text) {
    CStrTracer out(trace::kDiagnostic);
    out.PrintLineAt(text, trace::kWarning);
    out.Flush();
    return false;
}

// A source's send window reports a refusal episode once, and each message lost out of the
// backlog as its own failed call would have been.
class CSourceWindow final : public CSendWindow {
public:
    explicit CSourceWindow(const void* source)
        : CSendWindow(CSource::kWindowMessages, CSource::kWindowBytes), source_(source) {}

private:
    void OnFull() override {
        ReportWarningText("sending refused while the backlog is full (%zu messages or %zu MiB) for the source at %p",
                          CSource::kWindowMessages, CSource::kWindowBytes >> 20, source_);
    }
    void OnLost(RPC_STATUS status) override { ReportRpcException(kPlace, static_cast<uint32_t>(status), nullptr); }

    const void* source_;  // for the report only: the window may outlive the source
};

bool IsControl(uint32_t flags, int32_t kind) {
    return kind == MbKindSend && (flags & MbControlMask) != 0;
}

}  // namespace

CSource::CSource(const char* sinkName, uint32_t openOptions, CSink* sink)
    : closing_(false),
      noticeQueued_(false),
      options_(openOptions),
      name_(sinkName != nullptr ? sinkName : ""),
      peerPid_(0),
      owner_(CCheckedRef<CSink>::Share(sink)),
      window_(std::make_shared<CSourceWindow>(this)) {
    className_ = "CSource";
}

CSource::~CSource() {
    Close();
}

std::string CSource::EndpointName() const {
    return (options_ & MbOptionSession) != 0 ? WithSessionSuffix(name_) : name_;
}

bool CSource::BindLocked(const std::string& endpoint) {
    RPC_CSTR text = nullptr;
    if (name_.empty() ||
        RpcStringBindingComposeA(nullptr, "ncalrpc", nullptr, endpoint.c_str(), nullptr, &text) != RPC_S_OK) {
        return false;
    }
    RPC_BINDING_HANDLE handle = nullptr;
    bool ok = RpcBindingFromStringBindingA(text, &handle) == RPC_S_OK && handle != nullptr &&
              RpcBindingSetSendWindow(handle, window_) == RPC_S_OK;
    binding_.reset(handle, &FreeBinding);
    if (RpcStringFreeA(&text) != RPC_S_OK) ok = false;
    if (!ok) binding_.reset();
    return ok;
}

// A source with an owner announces itself through it without the source's lock: the sink's
// lock comes before the source's. The sink's reference is released after the lock is left,
// since releasing locks the sink.
bool CSource::Open() {
    const std::string endpoint = EndpointName();
    {
        ScopedLock hold(*this);
        closing_ = false;
        noticeQueued_ = false;
        if (!BindLocked(endpoint)) return false;
    }
    CCheckedRef<CSink> sink = owner_.Clone();
    if (!sink || sink->ConnectSource(this, endpoint.c_str())) return true;
    ScopedLock hold(*this);
    binding_.reset();
    return false;
}

// While requests are pending, a close only sets `closing`: the link stays while they go out
// over it, and the last of them calls OnRequestsDone, which closes again. With nothing pending
// the owner withdraws the link (it queues the disconnection notice and clears the peer's
// Local), and the binding goes once that notice has been delivered too. The pending count is
// read once per step: a request that ends after the read finds `closing` set.
void CSource::Close() {
    CCheckedRef<CSink> sink;
    std::string endpoint;
    {
        ScopedLock hold(*this);
        if (!binding_) {
            closing_ = false;
            return;
        }
        if (closing_) return;
        const bool pending = PendingRequests() > 0;
        if (!pending && !noticeQueued_) sink = owner_.Clone();
        if (!sink) {
            SettleCloseLocked(pending);
            return;
        }
        noticeQueued_ = true;
        endpoint = EndpointName();
    }
    sink->DisconnectSource(this, endpoint.c_str());
    ScopedLock hold(*this);
    SettleCloseLocked(PendingRequests() > 0);
}

void CSource::SettleCloseLocked(bool pending) {
    if (pending) {
        closing_ = true;
    } else {
        binding_.reset();
    }
}

void CSource::OnRequestsDone() {
    lastPost_.store(GetMicrosecondCount(), std::memory_order_relaxed);
    bool wasClosing;
    {
        ScopedLock hold(*this);
        wasClosing = closing_;
        closing_ = false;
    }
    if (wasClosing) Close();
}

bool CSource::IsOpen() {
    ScopedLock hold(*this);
    return static_cast<bool>(binding_);
}

uint32_t CSource::GetPid() {
    ScopedLock hold(*this);
    return peerPid_;
}

void CSource::SetPid(uint32_t processId) {
    ScopedLock hold(*this);
    peerPid_ = processId;
}

CCheckedRef<CItem> CSource::GetNameItem() {
    return name_.empty() ? CCheckedRef<CItem>() : Tracked(NewStringItem(name_.c_str()));
}

bool CSource::Test() {
    return Post(nullptr, MbControlTest, MbKindSend, nullptr, 0);
}

// A post that finds messages of this source still queued is part of a stream: it is queued
// without reading the clock (a fifth of a streaming sender thread's time here), and the time
// the stream went out is noted when its last request is done (OnRequestsDone). A plain load and
// store rather than an exchange, a locked instruction per message: posts that race on one
// source may each see the same previous time, which only decides how one is sent.
bool CSource::FollowsPause() {
    if (PendingRequests() > 0) return false;
    const uint64_t now = GetMicrosecondCount();
    const uint64_t previous = lastPost_.load(std::memory_order_relaxed);
    lastPost_.store(now, std::memory_order_relaxed);
    return now - previous >= kPauseMicroseconds;
}

// Without a source request thread nothing is queued and the reservation goes back at once; a
// message written here has settled its reservation. Control messages are always queued: a
// close waits for them as pending requests.
bool CSource::Post(const char* service, uint32_t flags, int32_t kind, const void* data, uint16_t length) {
    const size_t cost = data != nullptr ? length : 0;
    const bool control = IsControl(flags, kind);
    if (!window_->Reserve(cost, control)) return false;
    const bool queued = !control && FollowsPause() ? RunOrPostRequest(false, this, service, flags, kind, data, length)
                                                   : PostRequest(false, this, service, flags, kind, data, length);
    if (!queued || !RequestThreadsRunning()) window_->Release(1, cost);
    return queued;
}

// The tracer of a report is made only when there is something to report: a delivered message
// costs no tracer.
bool CSource::Request(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) {
    if (!running_) {
        const CInlineHold inlineHold(this);
        if (!inlineHold.Ok()) return false;
        ScopedLock hold(*this);
        running_ = binding_;
    }
    if (service == nullptr) service = "";
    // A gathered frame settles its reservation in the window; one that never was gathered is
    // given back here.
    if (!running_ || !process::Initialised()) {
        window_->Release(1, length);
        return TraceWarningLine(running_ ? "CSource::Request() lock failed."
                                         : "CSource::Request() called on a closed connection.");
    }
    if (CRequestThread::InInlineRun()) return RequestNow(service, flags, kind, data, length);
    const RPC_STATUS status = GuardedDeliver(running_, service, flags, kind, data, length);
    return status == RPC_S_OK || ReportUngathered(status, length);
}

bool CSource::ReportUngathered(RPC_STATUS status, uint16_t length) {
    window_->Release(1, length);
    CStrTracer out(trace::kDiagnostic);
    ReportRpcException(kPlace, static_cast<uint32_t>(status), &out);
    out.Flush();
    return false;
}

// A gathered frame that failed has its reservation settled already, and is reported as the
// source request thread's batch (RunSourceBatch) reports it.
bool CSource::RequestNow(const char* service, uint32_t flags, int32_t kind, const uint8_t* data, uint16_t length) {
    if (CRpcBatch::Current() != nullptr) return !CRequestThread::DeferToWorker();
    CRpcBatch now(CSubmitMode::kNowOnly);
    const RPC_STATUS status = GuardedDeliver(running_, service, flags, kind, data, length);
    if (status != RPC_S_OK) return ReportUngathered(status, length);
    const std::vector<CRpcCallFailure> failures = now.End();
    if (failures.empty()) return true;
    if (failures.front().status == RPC_S_WOULD_WAIT) return !CRequestThread::DeferToWorker();
    ReportRpcException(kPlace, static_cast<uint32_t>(failures.front().status), nullptr);
    return false;
}

void CSource::OnBatchDone() {
    running_.reset();
}

void RunSourceBatch(std::vector<CRequest*>& batch) {
    CRpcBatch gathered;
    RunBatch(batch);
    for (const CRpcCallFailure& failure : gathered.End()) {
        ReportRpcException(kPlace, static_cast<uint32_t>(failure.status), nullptr);
    }
}
