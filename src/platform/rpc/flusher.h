// CFlusher: the client side's one thread that writes channel backlogs. A channel whose socket did
// not take everything handed to it keeps the rest in its backlog and is watched here: the flusher
// waits until its socket is writable again and lets it write, so that no sending thread ever
// waits for a receiver. Started with the first backlog; Drain ends it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

class CClientChannel;

class CFlusher {
public:
    static CFlusher& Instance();

    // Watches a channel's connected descriptor until its backlog is written. Called by the
    // channel under its own lock, as are Rearm and Unwatch (the channel's lock comes first).
    void Watch(const std::shared_ptr<CClientChannel>& channel, int fd);
    // Waits once more for writability of a watched descriptor.
    void Rearm(int fd);
    void Unwatch(int fd);

    // Waits up to `milliseconds` for every backlog to be written, then abandons what is left
    // (each frame is reported lost) and ends the thread. True when nothing was left.
    bool Drain(uint32_t milliseconds);

private:
    CFlusher() = default;
    void Run();

    std::mutex mutex_;
    std::condition_variable idle_;  // notified when the last watched channel is unwatched
    std::unordered_map<int, std::shared_ptr<CClientChannel>> watched_;
    int epoll_ = -1;
    int wake_ = -1;
    bool stopping_ = false;
    std::thread thread_;
};
