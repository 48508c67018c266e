#include "platform/rpc/batch.h"

#include "base/grow.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace {

thread_local CRpcBatch* tCurrentBatch __attribute__((tls_model("initial-exec"))) = nullptr;

// Emptied buffers of ended batches, kept for the thread's next batch: a fresh buffer costs a
// page fault per page written, which dominates the cost of large payloads.
constexpr size_t kSpareBuffers = 4;
thread_local std::vector<std::vector<uint8_t>> tSpareBuffers __attribute__((tls_model("initial-exec")));

}  // namespace

CRpcBatch::CRpcBatch(CSubmitMode mode) : mode_(mode) {
    if (tCurrentBatch != nullptr) throw std::logic_error("an RPC batch is already open on this thread");
    tCurrentBatch = this;
}

CRpcBatch::~CRpcBatch() {
    if (open_) End();
}

CRpcBatch* CRpcBatch::Current() {
    return tCurrentBatch;
}

void CRpcBatch::Gather(const std::shared_ptr<CClientChannel>& channel, const iovec* parts, int count,
                       const std::shared_ptr<CSendWindow>& window, size_t cost) {
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const CPending& p) { return p.channel == channel; });
    if (it == pending_.end()) {
        pending_.push_back(CPending{channel, {}, {}});
        it = pending_.end() - 1;
        if (!tSpareBuffers.empty()) {
            it->bytes = std::move(tSpareBuffers.back());
            tSpareBuffers.pop_back();
        }
    }
    size_t size = 0;
    for (int i = 0; i < count; ++i) size += parts[i].iov_len;
    // A batch that filled its buffers is a stream. When the channel's backlog took them over,
    // the next ones are made as large at once, rather than doubled up again from nothing with a
    // copy at every step.
    size_t leastBytes = 0;
    size_t leastMarks = 0;
    if (!it->bytes.empty() && it->bytes.size() + size > kBatchFlushBytes) {
        leastBytes = it->bytes.size();
        leastMarks = it->frames.marks.size();
        Flush(*it);
    }
    // Reserve first so that a failed allocation leaves no partial frame behind. Both vectors grow
    // by doubling their capacity: reserving the exact need moved them whole on every call.
    const size_t start = it->bytes.size();
    Grow(it->frames.marks, it->frames.marks.size() + 1, leastMarks);
    if (window && (it->frames.windows.empty() || it->frames.windows.back() != window)) {
        Grow(it->frames.windows, it->frames.windows.size() + 1);
    }
    Grow(it->bytes, start + size, leastBytes);
    for (int i = 0; i < count; ++i) {
        const uint8_t* base = static_cast<const uint8_t*>(parts[i].iov_base);
        it->bytes.insert(it->bytes.end(), base, base + parts[i].iov_len);
    }
    it->frames.Add(it->bytes.size(), calls_++, cost, window);
}

void CRpcBatch::Flush(CPending& pending) {
    if (pending.bytes.empty()) return;
    size_t firstFailed = 0;
    const RPC_STATUS status = pending.channel->Submit(pending.bytes, pending.frames, &firstFailed, mode_);
    for (size_t i = firstFailed; i < pending.frames.marks.size(); ++i) {
        failures_.push_back(CRpcCallFailure{pending.frames.marks[i].call, status});
    }
    pending.bytes.clear();
    pending.frames.Clear();
}

std::vector<CRpcCallFailure> CRpcBatch::End() {
    if (!open_) return {};
    open_ = false;
    tCurrentBatch = nullptr;
    for (CPending& pending : pending_) {
        Flush(pending);
        try {
            // A buffer the backlog took over left an empty one behind: nothing to keep.
            if (pending.bytes.capacity() != 0 && tSpareBuffers.size() < kSpareBuffers) {
                tSpareBuffers.push_back(std::move(pending.bytes));
            }
        } catch (const std::bad_alloc&) {
            // Not kept: the next batch allocates afresh.
        }
    }
    pending_.clear();
    std::sort(failures_.begin(), failures_.end(),
              [](const CRpcCallFailure& a, const CRpcCallFailure& b) { return a.call < b.call; });
    return std::move(failures_);
}
