// The process-wide objects that exist between MbLibraryInit and MbLibraryTerm. Those two calls
// change the pointers without a lock and must not run alongside any other call; every other
// reader only loads them.
#pragma once

#include <atomic>

class CUserTracer;
class CTracker;
class CRPCManager;

namespace process {

extern std::atomic<CUserTracer*> userTracer;
extern std::atomic<CTracker*> tracker;
extern std::atomic<CRPCManager*> rpcManager;

inline CUserTracer* UserTracer() {
    return userTracer.load(std::memory_order_acquire);
}
inline CTracker* Tracker() {
    return tracker.load(std::memory_order_acquire);
}
// The manager's existence marks the library as initialised.
inline bool Initialised() {
    return rpcManager.load(std::memory_order_acquire) != nullptr;
}

}  // namespace process
