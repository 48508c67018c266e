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
thread_local CStorable* waitingForDestruction __attribute__((tls_model("initial-exec"))) = nullptr;
thread_local bool destroying __attribute__((tls_model("initial-exec"))) = false;
thread_local bool buildingPrivately __attribute__((tls_model("initial-exec"))) = false;
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

void CStorable::Lock() NO_THREAD_SAFETY_ANALYSIS {
    if (!IsPrivate()) CLockable::Lock();
}

void CStorable::Unlock() NO_THREAD_SAFETY_ANALYSIS {
    if (!IsPrivate()) CLockable::Unlock();
}

bool CStorable::BuildingPrivately() {
    return buildingPrivately;
}

void CStorable::SetBuildingPrivately(bool building) {
    buildingPrivately = building;
}
