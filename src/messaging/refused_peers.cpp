#include "messaging/refused_peers.h"

bool CRefusedPeers::FirstRefusal(uint32_t pid, uint32_t uid) {
    CMutexHold hold(mutex_);
    for (size_t i = 0; i < count_; ++i) {
        if (peers_[i].pid == pid && peers_[i].uid == uid) return false;
    }
    peers_[next_] = CPeer{pid, uid};
    next_ = (next_ + 1) % kRemembered;
    if (count_ < kRemembered) ++count_;
    return true;
}
