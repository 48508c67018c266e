// Exported event functions: create, set, reset and the descriptor for callers' own poll loops.
#include "platform/handle.h"

#include <memory>

using mbus::platform::CEvent;
using mbus::platform::CHandleObject;
using mbus::platform::CHandleTable;

extern "C" HANDLE CreateEventA(void* attributes, BOOL manualReset, BOOL initialState, const char* name) noexcept {
    if (attributes != nullptr || name != nullptr) return nullptr;
    try {
        return CHandleTable::Instance().Insert(std::make_shared<CEvent>(manualReset != FALSE, initialState != FALSE));
    } catch (...) {
        return nullptr;
    }
}

extern "C" BOOL SetEvent(HANDLE event) noexcept {
    return CHandleTable::Instance().Visit(event, CHandleObject::EKind::Event,
                                          [](CHandleObject& object) { object.Signal().Set(); });
}

extern "C" BOOL ResetEvent(HANDLE event) noexcept {
    return CHandleTable::Instance().Visit(event, CHandleObject::EKind::Event,
                                          [](CHandleObject& object) { object.Signal().Reset(); });
}

extern "C" int EventGetFd(HANDLE event) noexcept {
    int fd = -1;
    CHandleTable::Instance().Visit(event, CHandleObject::EKind::Event,
                                   [&fd](CHandleObject& object) { fd = object.Signal().PollFd(); });
    return fd;
}
