#include "runtime/lockable.h"

#include <atomic>

#include "runtime/reports.h"
#include "runtime/tracer.h"

namespace {
constexpr DWORD kSlowLockMs = 100;

// Set while this thread writes a slow-lock report. The report goes through the user tracer,
// whose own lock is held while the callback runs: a callback that is always slow would
// otherwise report its own slowness forever. One report per slow lock, none about the report.
thread_local bool writingSlowLockReport __attribute__((tls_model("initial-exec"))) = false;

std::atomic<TickSource> tickSource{&GetTickCount};

// Every lock and unlock reads the time: the production source is called directly (and can be
// inlined), a test's replacement through the pointer.
DWORD Ticks() {
    const TickSource source = tickSource.load(std::memory_order_relaxed);
    return source == &GetTickCount ? GetTickCount() : source();
}
}  // namespace

void CLockable::SetTickSource(TickSource source) {
    tickSource.store(source, std::memory_order_relaxed);
}

CLockable::CLockable() noexcept : className_("CLockable"), lockTick_(0), ownerThreadId_(0), lockName_(nullptr) {
    InitializeCriticalSection(&section_);
}

CLockable::~CLockable() {
    DeleteCriticalSection(&section_);
}

// The object lock is its section under the object's name, which the analysis cannot equate.
void CLockable::Lock() NO_THREAD_SAFETY_ANALYSIS {
    EnterCriticalSection(&section_);
    Entered();
}

void CLockable::Entered() {
    lockTick_ = Ticks();
    ownerThreadId_ = GetCurrentThreadId();
}

bool CLockable::TryLock() NO_THREAD_SAFETY_ANALYSIS {
    if (!TryEnterCriticalSection(&section_)) return false;
    Entered();
    return true;
}

void CLockable::Unlock() NO_THREAD_SAFETY_ANALYSIS {
    const DWORD thread = GetCurrentThreadId();
    if (thread != ownerThreadId_) {
        ReportError("Attempt to unlock accross threads");
        return;
    }
    const DWORD held = Ticks() - lockTick_;
    LeaveCriticalSection(&section_);
    if (held > kSlowLockMs && !writingSlowLockReport) {
        writingSlowLockReport = true;
        DiagnosticLine("Lock by thread %04u (0x%04X) held for more than 100 ms. (%u ms. total).\n", thread, thread,
                       held);
        writingSlowLockReport = false;
    }
}

void CLockable::Describe(CTracer& out) {
    out.Printf("%p %s", static_cast<void*>(this), className_);
}
