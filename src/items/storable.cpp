#include "items/storable.h"

uint16_t CStorable::Render(CStorage&, bool) {
    return 0;
}

uint16_t CStorable::Read(CStorage&) {
    return 0;
}

uint16_t CStorable::Write(CStorage&) {
    return 0;
}

namespace {
// The objects of this thread whose count reached zero and that wait for destruction, linked
// through nextToDestroy_; and whether a destruction is running on this thread.
thread_local CStorable* waitingForDestruction = nullptr;
thread_local bool destroying = false;
}  // namespace

void CStorable::OnFinalRelease() {
    nextToDestroy_ = waitingForDestruction;
    waitingForDestruction = this;
    if (destroying) return;
    destroying = true;
    while (waitingForDestruction != nullptr) {
        CStorable* next = waitingForDestruction;
        waitingForDestruction = next->nextToDestroy_;
        delete next;
    }
    destroying = false;
}
