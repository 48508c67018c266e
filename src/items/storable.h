// CStorable: the base of every object that can render its text form into a storage stream,
// write its stored form and read it back. CReadable adds the type code of atoms and wrappers.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "runtime/ref_count.h"

class CStorage;

// Lists and maps make room for this many elements with their first one: filling a small
// container allocates once.
constexpr size_t kLeastElements = 8;

class CStorable : public CCountable {
public:
    CStorable() { className_ = "CStorable"; }

    // A private list or map skips its lock (private_build.h); every other object locks as any
    // lockable does.
    void Lock() override ACQUIRE();
    void Unlock() override RELEASE();
    bool IsPrivate() const { return private_.load(std::memory_order_relaxed); }

    // Appends the text form; returns the count of bytes appended. A bare render leaves out
    // quotes, brackets, separators and the text of atoms.
    virtual uint16_t Render(CStorage& stream, bool bare);
    // Replaces the value by the stored form at the cursor; returns the count of bytes consumed.
    virtual uint16_t Read(CStorage& stream);
    // Appends the stored form; returns the count of bytes appended.
    virtual uint16_t Write(CStorage& stream);

    // Destroys the object like CCountable does, but never recursively: a release that brings
    // an object to zero while another item object of this thread is being destroyed queues it,
    // and the outermost destruction destroys the queue. Releasing a tree nested 20,000 levels
    // deep therefore uses a few stack frames only. Atoms and the wrappers of atoms skip the
    // queue (CAtom, CItem): their destruction releases no list or map, so it nests one level
    // at most.
    void OnFinalRelease() override;

protected:
    // For lists and maps: private when made while a private build lives on this thread.
    void TakePrivacy() {
        if (BuildingPrivately()) private_.store(true, std::memory_order_relaxed);
    }

private:
    friend class CPrivateBuild;

    // Whether a private build lives on the calling thread.
    static bool BuildingPrivately();
    static void SetBuildingPrivately(bool building);
    // Call with the lock free. The tree is handed to other threads through synchronising
    // operations after this, so the flag needs no ordering of its own.
    void MakeShared() { private_.store(false, std::memory_order_relaxed); }

    std::atomic<bool> private_{false};
    // Link of the thread's queue of objects waiting for destruction; used only at count zero.
    CStorable* nextToDestroy_ = nullptr;
};

class CReadable : public CStorable {
public:
    explicit CReadable(uint32_t type) : type_(type) { className_ = "CReadable"; }

    uint32_t GetType() const { return type_; }
    void SetType(uint32_t type) { type_ = type; }

protected:
    // An atom's type (MbTypeNone..MbTypeUnsigned) or a wrapper's kind (MbTypeItem..MbTypeMap).
    uint32_t type_;
};
