#include "platform/rpc/send_window.h"

bool CSendWindow::Reserve(size_t bytes, bool force) {
    if (!force) {
        if (full_.load(std::memory_order_acquire)) return false;
        const uint64_t state = state_.load(std::memory_order_relaxed);
        if ((state >> kFrameShift) >= maxFrames_ || (state & kBytesMask) >= maxBytes_) {
            if (!full_.exchange(true, std::memory_order_acq_rel)) OnFull();
            return false;
        }
    }
    state_.fetch_add(Word(1, bytes), std::memory_order_relaxed);
    return true;
}

void CSendWindow::Release(size_t frames, size_t bytes) {
    const uint64_t left = state_.fetch_sub(Word(frames, bytes), std::memory_order_relaxed) - Word(frames, bytes);
    if (full_.load(std::memory_order_relaxed) && (left >> kFrameShift) <= maxFrames_ - maxFrames_ / 8 &&
        (left & kBytesMask) <= maxBytes_ - maxBytes_ / 8) {
        full_.store(false, std::memory_order_release);
    }
}

void CSendWindow::Lose(size_t bytes, RPC_STATUS status) {
    Release(1, bytes);
    OnLost(status);
}
