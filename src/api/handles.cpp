// Exported handle and memory functions.
#include <mbus/mbus.h>

#include <cstdlib>

#include "api/guard.h"
#include "runtime/ref_count.h"
#include "runtime/tracker.h"

extern "C" MbResult MbHandleAddRef(MbHandle h) noexcept {
    return Guarded<MbResult>(MbResultInvalid, [h] {
        CRefCount* object = ResolveHandle(h);
        return object != nullptr && object->AddRef() > 1 ? MbResultOk : MbResultInvalid;
    });
}

extern "C" MbResult MbHandleRelease(MbHandle h) noexcept {
    return Guarded<MbResult>(MbResultInvalid, [h] {
        CRefCount* object = ResolveHandle(h);
        return object != nullptr && object->Release() != 0 ? MbResultOk : MbResultInvalid;
    });
}

// The reference taken here keeps the object alive while the caller holds its lock. The lock
// is left in MbHandleUnlock, which the analysis cannot pair with this.
extern "C" MbResult MbHandleLock(MbHandle h) noexcept {
    return Guarded<MbResult>(MbResultInvalid, [h]() NO_THREAD_SAFETY_ANALYSIS {
        CRefCount* object = ResolveHandle(h);
        if (object == nullptr || object->AddRef() <= 1) return MbResultInvalid;
        object->Lock();
        return MbResultOk;
    });
}

// The reference MbHandleLock took keeps the object alive until it is released here.
extern "C" MbResult MbHandleUnlock(MbHandle h) noexcept {
    return Guarded<MbResult>(MbResultInvalid, [h]() NO_THREAD_SAFETY_ANALYSIS {
        CRefCount* object = ResolveHandle(h);
        if (object == nullptr) return MbResultInvalid;
        object->Unlock();
        return object->Release() != 0 ? MbResultOk : MbResultInvalid;
    });
}

extern "C" MbResult MbMemoryFree(void* buffer) noexcept {
    if (buffer == nullptr) return MbResultInvalid;
    std::free(buffer);
    return MbResultOk;
}

// The second name of MbMemoryFree: one function, two exported names.
extern "C" MbResult MbBufferFree(void* buffer) noexcept __attribute__((alias("MbMemoryFree")));
