#include "platform/rpc/send_window.h"

bool CSendWindow::Reserve(size_t bytes, bool force) {
    if (!force) {
        if (full_.load(std::memory_order_acquire)) return false;
        if (frames_.load(std::memory_order_relaxed) >= maxFrames_ || bytes_.load(std::memory_order_relaxed) >= maxBytes_) {
            if (!full_.exchange(true, std::memory_order_acq_rel)) OnFull();
            return false;
        }
    }
    frames_.fetch_add(1, std::memory_order_relaxed);
    bytes_.fetch_add(bytes, std::memory_order_relaxed);
    return true;
}

void CSendWindow::Release(size_t bytes) {
    const size_t frames = frames_.fetch_sub(1, std::memory_order_relaxed) - 1;
    const size_t left = bytes_.fetch_sub(bytes, std::memory_order_relaxed) - bytes;
    if (full_.load(std::memory_order_relaxed) && frames <= maxFrames_ - maxFrames_ / 8 &&
        left <= maxBytes_ - maxBytes_ / 8) {
        full_.store(false, std::memory_order_release);
    }
}

void CSendWindow::Lose(size_t bytes, RPC_STATUS status) {
    Release(bytes);
    OnLost(status);
}
