// CInlineHold: a request's hold on an object that the application may keep locked (the sink,
// a service, a service's state). On the worker it does nothing: the request locks as it always
// did, and may wait. Inside CRequestThread::RunInline, on the transport's thread, it takes the
// lock only when no other thread holds it, for the scope; otherwise it defers the request to
// the worker and Ok() is false, and the request returns at once, with no effect. So the
// transport never waits for a lock the application holds.
#pragma once

#include "requests/request_thread.h"
#include "runtime/lockable.h"

class CInlineHold {
public:
    explicit CInlineHold(CLockable* object) NO_THREAD_SAFETY_ANALYSIS {
        if (object == nullptr || !CRequestThread::InInlineRun()) return;
        if (object->TryLock()) {
            held_ = object;
        } else {
            ok_ = !CRequestThread::DeferToWorker();
        }
    }
    ~CInlineHold() NO_THREAD_SAFETY_ANALYSIS {
        if (held_ != nullptr) held_->Unlock();
    }
    CInlineHold(const CInlineHold&) = delete;
    CInlineHold& operator=(const CInlineHold&) = delete;

    bool Ok() const { return ok_; }

private:
    CLockable* held_ = nullptr;
    bool ok_ = true;
};
