// The processes the sink refused lately, so that a process trying again and again is traced
// once, not once per connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/mutex.h"

class CRefusedPeers {
public:
    // True the first time the process (pid and user) is refused among the last kRemembered
    // refused processes; a process forgotten since is traced again.
    bool FirstRefusal(uint32_t pid, uint32_t uid);

private:
    static constexpr size_t kRemembered = 64;
    struct CPeer {
        uint32_t pid;
        uint32_t uid;
    };
    CMutex mutex_;
    CPeer peers_[kRemembered] GUARDED_BY(mutex_) = {};
    size_t count_ GUARDED_BY(mutex_) = 0;  // processes remembered; once full, the oldest is replaced
    size_t next_ GUARDED_BY(mutex_) = 0;   // the slot the next new process takes
};
