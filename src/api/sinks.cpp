// Exported sink and sink-service functions: the receiving side.
#include <mbus/mbus.h>

#include "api/guard.h"
#include "items/item_handles.h"
#include "messaging/sink.h"
#include "messaging/sink_service.h"
#include "messaging/source.h"
#include "runtime/handle_cast.h"
#include "runtime/process.h"

namespace {

MbBool CloseSink(MbSink handle, bool wait) {
    CSink* sink = ResolveAs<CSink>(handle);
    if (sink == nullptr) return 0;
    sink->Unregister(wait);
    // The services hold references to the sink: releasing them here lets a closed sink go
    // once its callers have closed the services they still hold.
    sink->Shutdown();
    return CheckedRelease(sink) ? 1 : 0;
}

}  // namespace

extern "C" MbSink MbSinkOpenEx(const char* name, MbEvent event, uint32_t options) noexcept {
    return Guarded<MbSink>(nullptr, [&]() -> MbSink {
        if (!process::Initialised()) return nullptr;
        CRef<CSink> sink = CRef<CSink>::Adopt(new CSink(name, event, options));
        return sink->Register() ? static_cast<CRefCount*>(sink.Detach()) : nullptr;
    });
}

extern "C" MbSink MbSinkOpen(const char* name, MbEvent event) noexcept {
    return MbSinkOpenEx(name, event, 0);
}

extern "C" MbBool MbSinkClose(MbSink sink) noexcept {
    return Guarded<MbBool>(0, [&] { return CloseSink(sink, true); });
}

extern "C" MbBool MbSinkCloseNoWait(MbSink sink) noexcept {
    return Guarded<MbBool>(0, [&] { return CloseSink(sink, false); });
}

extern "C" uint32_t MbSinkGetPeerFlags(MbSink handle, const char* peer) noexcept {
    return Guarded<uint32_t>(0, [&]() -> uint32_t {
        CRef<CSink> sink = ShareAs<CSink>(handle);
        return sink && peer != nullptr ? sink->GetPeerFlags(peer) : 0;
    });
}

extern "C" MbResult MbSinkGetPeers(MbSink handle, MbItem* peers) noexcept {
    return Guarded<MbResult>(MbResultInvalid, [&]() -> MbResult {
        if (peers == nullptr) return MbResultInvalid;
        *peers = nullptr;
        CRef<CSink> sink = ShareAs<CSink>(handle);
        if (!sink) return MbResultInvalid;
        *peers = sink->GetPeers().Detach();
        return MbResultOk;
    });
}

extern "C" MbBool MbSinkTestPeers(MbSink handle) noexcept {
    return Guarded<MbBool>(0, [&] {
        CRef<CSink> sink = ShareAs<CSink>(handle);
        return sink && sink->TestPeers() ? 1 : 0;
    });
}

extern "C" MbSource MbSinkOpenSourceEx(MbSink handle, const char* name, uint32_t options) noexcept {
    return Guarded<MbSource>(nullptr, [&]() -> MbSource {
        CRef<CSink> sink = ShareAs<CSink>(handle);
        return sink ? static_cast<CRefCount*>(sink->OpenSource(name, options)) : nullptr;
    });
}

extern "C" MbSource MbSinkOpenSource(MbSink sink, const char* name) noexcept {
    return MbSinkOpenSourceEx(sink, name, 0);
}

// Keeps a caller's link variable alive: opens a missing link, tests a live one whose peer has
// announced itself, and drops one whose peer has not (the next call makes it again).
extern "C" MbBool MbSinkConnectEx(MbSink handle, const char* name, uint32_t options, MbSource* source) noexcept {
    return Guarded<MbBool>(0, [&]() -> MbBool {
        if (handle == nullptr || name == nullptr || source == nullptr) return 0;
        CRef<CSink> sink = ShareAs<CSink>(handle);
        if (!sink) return 0;
        if (*source == nullptr) {
            *source = static_cast<CRefCount*>(sink->OpenSource(name, options));
            return 1;
        }
        const bool announced = (sink->GetPeerFlags(name) & MbPeerRemote) != 0;
        if (!announced || !MbSourceTest(*source)) {
            MbSourceClose(*source);
            *source = nullptr;
        }
        return 1;
    });
}

extern "C" MbBool MbSinkConnect(MbSink sink, const char* name, MbSource* source) noexcept {
    return MbSinkConnectEx(sink, name, 0, source);
}

extern "C" MbSinkService MbSinkServiceOpen(MbSink handle, const char* name, MbEvent event) noexcept {
    return Guarded<MbSinkService>(nullptr, [&]() -> MbSinkService {
        CRef<CSink> sink = ShareAs<CSink>(handle);
        if (!sink) return nullptr;
        // The registry keeps its reference; the caller gets one of its own.
        return static_cast<CRefCount*>(CRef<CSinkService>::Share(sink->AddService(name, event)).Detach());
    });
}

extern "C" void MbSinkServiceClose(MbSinkService handle) noexcept {
    GuardedVoid([&] {
        CSinkService* service = ResolveAs<CSinkService>(handle);
        if (service == nullptr) return;
        service->Detach();
        CheckedRelease(service);
    });
}

namespace {
MbResult Receive(MbSinkService handle, MbItem* message, bool remove) {
    if (message == nullptr) return MbResultInvalid;
    *message = nullptr;
    CRef<CSinkService> service = ShareAs<CSinkService>(handle);
    if (!service) return MbResultInvalid;
    MbResult code = MbNothingReceived;
    *message = service->Receive(remove, &code).Detach();
    return code;
}
}  // namespace

extern "C" MbResult MbSinkServicePeek(MbSinkService service, MbItem* message) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&] { return Receive(service, message, false); });
}

extern "C" MbResult MbSinkServiceTake(MbSinkService service, MbItem* message) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&] { return Receive(service, message, true); });
}

extern "C" MbResult MbSinkServicePostCall(MbSinkService handle, MbItem item) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        CRef<CSinkService> service = ShareAs<CSinkService>(handle);
        if (!service) return MbResultInvalid;
        // An unknown handle is taken for no item: the call is traced as discarded.
        return item != nullptr && service->PostCall(ResolveItem(item)) ? MbResultOk : MbResultFailed;
    });
}

extern "C" MbResult MbSinkServiceGetState(MbSinkService handle, MbItem* state) noexcept {
    return Guarded<MbResult>(MbResultFailed, [&]() -> MbResult {
        if (state == nullptr) return MbResultInvalid;
        *state = nullptr;
        CRef<CSinkService> service = ShareAs<CSinkService>(handle);
        if (!service) return MbResultInvalid;
        *state = service->GetState().Detach();
        return MbResultOk;
    });
}
