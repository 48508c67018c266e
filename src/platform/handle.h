// Objects behind a HANDLE and the table of live handles.
#pragma once

#include "platform/platform.h"
#include "platform/signal.h"

#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <unordered_map>

namespace mbus::platform {

// Every handle refers to a waitable object: an event, or a thread that is signalled when it ends.
class CHandleObject {
public:
    enum class EKind { Event, Thread };

    virtual ~CHandleObject() = default;
    CHandleObject(const CHandleObject&) = delete;
    CHandleObject& operator=(const CHandleObject&) = delete;

    EKind Kind() const noexcept { return kind_; }
    CSignal& Signal() noexcept { return signal_; }

protected:
    CHandleObject(EKind kind, bool manualReset, bool initialState) : kind_(kind), signal_(manualReset, initialState) {}

private:
    const EKind kind_;
    CSignal signal_;
};

class CEvent final : public CHandleObject {
public:
    CEvent(bool manualReset, bool initialState) : CHandleObject(EKind::Event, manualReset, initialState) {}
};

// Maps handle values to live objects. A handle value is a number, never an address: looking up a
// null, closed or made-up handle finds nothing and dereferences nothing. Values are handed out
// once (a 64-bit counter does not wrap), so a stale handle never reaches a newer object.
//
// The table holds one reference per open handle; waits take their own references, so an object
// closed during a wait lives until that wait returns.
class CHandleTable {
public:
    static CHandleTable& Instance() noexcept;

    // Throws std::bad_alloc.
    HANDLE Insert(std::shared_ptr<CHandleObject> object);
    std::shared_ptr<CHandleObject> Find(HANDLE handle) const;
    // The caller drops the returned reference outside the table's lock, since destroying a
    // thread object may join its thread.
    std::shared_ptr<CHandleObject> Remove(HANDLE handle) noexcept;

    // Runs action(object) under the table's shared lock when handle is open and of the given
    // kind, without touching the reference count; returns whether it ran.
    template <class Action>
    bool Visit(HANDLE handle, CHandleObject::EKind kind, Action&& action) const {
        std::shared_lock lock(mutex_);
        auto found = objects_.find(Key(handle));
        if (found == objects_.end() || found->second->Kind() != kind) return false;
        action(*found->second);
        return true;
    }

private:
    mutable std::shared_mutex mutex_;
    std::unordered_map<std::uintptr_t, std::shared_ptr<CHandleObject>> objects_;
    std::uintptr_t next_ = 0;

    static std::uintptr_t Key(HANDLE handle) noexcept { return reinterpret_cast<std::uintptr_t>(handle); }
};

}  // namespace mbus::platform
