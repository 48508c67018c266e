// CreateNamedThread: a pthread behind a waitable handle that is signalled when the thread ends.
#include "platform/handle.h"

#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace mbus::platform {
namespace {

// Shared by the handle table and the running thread; whichever drops the last reference releases
// the pthread: the thread itself detaches (it is about to exit), anyone else joins, which returns
// promptly because the thread has already let go of the object.
class CThread final : public CHandleObject {
public:
    CThread(LPTHREAD_START_ROUTINE procedure, void* parameter, const char* name)
        : CHandleObject(EKind::Thread, true, false), procedure_(procedure), parameter_(parameter) {
        if (name != nullptr) std::strncpy(name_, name, sizeof name_ - 1);
    }

    ~CThread() override {
        if (!started_) return;
        if (pthread_equal(thread_, pthread_self()))
            pthread_detach(thread_);
        else
            pthread_join(thread_, nullptr);
    }

    // Starts the thread, which keeps self alive until it ends. False when no thread could start.
    bool Start(const std::shared_ptr<CThread>& self, size_t stackSize) noexcept;
    // The new thread's id; waits until the thread has published it.
    DWORD WaitForId() const noexcept {
        id_.wait(0);
        return id_.load();
    }

private:
    LPTHREAD_START_ROUTINE procedure_;
    void* parameter_;
    char name_[16] = {};  // at most 15 characters, the kernel's limit for a thread name
    pthread_t thread_{};
    bool started_ = false;
    std::atomic<DWORD> id_{0};

    // Not noexcept: pthread_exit in the procedure unwinds through it.
    static void* Run(void* context);
};

// Owns the thread's reference for its whole life and signals the handle on the way out, also when
// the procedure leaves through pthread_exit.
class CRunningThread {
public:
    explicit CRunningThread(std::shared_ptr<CThread>* self) : self_(self) {}
    ~CRunningThread() {
        (*self_)->Signal().Set();
        delete self_;
    }
    CRunningThread(const CRunningThread&) = delete;
    CRunningThread& operator=(const CRunningThread&) = delete;

private:
    std::shared_ptr<CThread>* self_;
};

void* CThread::Run(void* context) {
    auto* self = static_cast<std::shared_ptr<CThread>*>(context);
    CRunningThread running(self);
    CThread& thread = **self;
    if (thread.name_[0] != '\0') pthread_setname_np(pthread_self(), thread.name_);
    thread.id_.store(GetCurrentThreadId());
    thread.id_.notify_all();
    thread.procedure_(thread.parameter_);
    return nullptr;
}

// Rounds a requested stack size up to the system minimum and a whole number of pages.
size_t StackSize(size_t requested) noexcept {
    const size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
    size_t size = requested < minimum ? minimum : requested;
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (size + page - 1) / page * page;
}

bool CThread::Start(const std::shared_ptr<CThread>& self, size_t stackSize) noexcept {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    auto* reference = new (std::nothrow) std::shared_ptr<CThread>(self);
    bool ok = reference != nullptr &&
              (stackSize == 0 || pthread_attr_setstacksize(&attributes, StackSize(stackSize)) == 0) &&
              pthread_create(&thread_, &attributes, &CThread::Run, reference) == 0;
    pthread_attr_destroy(&attributes);
    if (!ok) {
        delete reference;
        return false;
    }
    started_ = true;
    return true;
}

}  // namespace
}  // namespace mbus::platform

using mbus::platform::CHandleTable;
using mbus::platform::CThread;

extern "C" HANDLE CreateNamedThread(LPTHREAD_START_ROUTINE procedure, void* parameter, size_t stackSize,
                                    const char* name, DWORD* threadId) noexcept {
    if (procedure == nullptr) return nullptr;
    try {
        auto thread = std::make_shared<CThread>(procedure, parameter, name);
        HANDLE handle = CHandleTable::Instance().Insert(thread);
        if (!thread->Start(thread, stackSize)) {
            CHandleTable::Instance().Remove(handle);
            return nullptr;
        }
        if (threadId != nullptr) *threadId = thread->WaitForId();
        return handle;
    } catch (...) {
        return nullptr;
    }
}
