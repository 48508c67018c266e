// CSendWindow: flow control of one sender. It counts the frames (and their payload bytes) that
// the sender accepted and that are not yet in the socket: queued for the calling thread, gathered
// in a batch, or waiting in the channel's backlog while the receiver does not read. A full window
// refuses new frames until it has drained to seven eighths, so a sender at its limit is not
// turned on and off by every frame that goes out.
//
// The sender reserves room before it accepts a message. Once a frame was gathered into a batch
// with the window (CRpcBatch::Gather), the runtime settles its reservation: Release when the frame
// went into the socket or when the batch reports it failed, Lose when it failed later, out of the
// backlog. A reservation whose frame never reached a batch is the sender's to release.
#pragma once

#include "platform/rpc/rpc.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

class CSendWindow {
public:
    CSendWindow(size_t maxFrames, size_t maxBytes) : maxFrames_(maxFrames), maxBytes_(maxBytes) {}
    virtual ~CSendWindow() = default;
    CSendWindow(const CSendWindow&) = delete;
    CSendWindow& operator=(const CSendWindow&) = delete;

    // Reserves room for one frame carrying `bytes`; false, with nothing reserved, while the
    // window is full. A forced reservation always succeeds (control messages of the sender).
    // Concurrent reservations may overshoot the limit by one frame each.
    bool Reserve(size_t bytes, bool force);
    // Frames that went out (or whose failure was reported by the batch that carried them),
    // carrying `bytes` in all.
    void Release(size_t frames, size_t bytes);
    // The frame was lost with `status` after its batch ended: released, then reported.
    void Lose(size_t bytes, RPC_STATUS status);

    size_t Frames() const { return state_.load(std::memory_order_relaxed) >> kFrameShift; }
    size_t Bytes() const { return state_.load(std::memory_order_relaxed) & kBytesMask; }

protected:
    // Called once each time the window becomes full, on the reserving thread.
    virtual void OnFull() {}
    // Called for every frame lost out of the backlog, on a runtime thread.
    virtual void OnLost(RPC_STATUS) {}

private:
    // Frames and bytes share one word, so that a reservation or a release is one atomic
    // operation: bytes in the low 40 bits, frames above them.
    static constexpr unsigned kFrameShift = 40;
    static constexpr uint64_t kBytesMask = (uint64_t{1} << kFrameShift) - 1;
    static uint64_t Word(size_t frames, size_t bytes) { return (uint64_t{frames} << kFrameShift) | bytes; }

    const size_t maxFrames_;
    const size_t maxBytes_;
    std::atomic<uint64_t> state_{0};
    // Set when a reservation found the window at its limit; cleared once it drained to 7/8.
    std::atomic<bool> full_{false};
};
