// The handle table and CloseHandle.
#include "platform/handle.h"

#include <mutex>

namespace mbus::platform {

// Handle values are multiples of 4 starting at 4, like the ones Win32 hands out; 0 stays the
// failure value of the creating functions.
static constexpr std::uintptr_t kHandleStep = 4;

CHandleTable& CHandleTable::Instance() noexcept {
    // Never destroyed: threads may still close handles while static objects are torn down.
    static CHandleTable* table = new CHandleTable;
    return *table;
}

HANDLE CHandleTable::Insert(std::shared_ptr<CHandleObject> object) {
    std::unique_lock lock(mutex_);
    std::uintptr_t key = next_ + kHandleStep;
    objects_.emplace(key, std::move(object));
    next_ = key;
    return reinterpret_cast<HANDLE>(key);
}

std::shared_ptr<CHandleObject> CHandleTable::Find(HANDLE handle) const {
    std::shared_lock lock(mutex_);
    auto found = objects_.find(Key(handle));
    return found == objects_.end() ? nullptr : found->second;
}

std::shared_ptr<CHandleObject> CHandleTable::Remove(HANDLE handle) noexcept {
    std::unique_lock lock(mutex_);
    auto found = objects_.find(Key(handle));
    if (found == objects_.end()) return nullptr;
    std::shared_ptr<CHandleObject> object = std::move(found->second);
    objects_.erase(found);
    return object;
}

}  // namespace mbus::platform

using mbus::platform::CHandleTable;

extern "C" BOOL CloseHandle(HANDLE handle) noexcept {
    return CHandleTable::Instance().Remove(handle) ? TRUE : FALSE;
}
