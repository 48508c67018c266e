// Exported source, service-proxy and sender functions: the sending side.
#include <mbus/mbus.h>

#include "api/guard.h"
#include "api/handle_cast.h"
#include "api/item_handles.h"
#include "items/storage.h"
#include "messaging/service.h"
#include "messaging/sink_service.h"
#include "messaging/source.h"
#include "messaging/item_ref.h"

namespace {

bool IsProcedureType(MbItem item) {
    uint32_t type = 0;
    if (MbItemGetType(item, &type) != MbResultOk) return false;
    return type == MbTypeBlob || type == MbTypeInt || type == MbTypeString || type == MbTypeUnsigned;
}

// Stores the item with its header and posts the bytes; nothing is sent for empty bytes. The
// bytes of MbItemToBytes, posted from the stream itself rather than from a Blob item of them.
MbBool SendItem(MbService service, uint32_t flags, uint16_t kind, MbItem item) {
    CItem* resolved = ResolveItem(item);
    CStorage stream;
    if (resolved == nullptr || !stream.OpenForWriting()) return 0;
    resolved->Write(stream);
    stream.Close();
    if (stream.Failed() || !stream.OpenForReading(true)) return 0;
    uint16_t length = 0;
    const uint8_t* bytes = stream.GetContents(&length);
    if (bytes == nullptr || length == 0) return 0;
    return MbServicePost(service, flags, kind, bytes, length);
}

// Sets the named entries in order, skipping null values; false at the first failure.
bool SetEntries(MbItem map, std::initializer_list<std::pair<const char*, MbItem>> entries) {
    for (const auto& [key, value] : entries) {
        if (value != nullptr && MbMapSetNamed(map, key, value) != MbResultOk) return false;
    }
    return true;
}

}  // namespace

extern "C" MbSource MbSourceOpenEx(const char* name, uint32_t options) noexcept {
    return Guarded<MbSource>(nullptr, [&]() -> MbSource {
        if (name == nullptr) return nullptr;
        CRef<CSource> source = CRef<CSource>::Adopt(new CSource(name, options, nullptr));
        return source->Open() ? static_cast<CRefCount*>(source.Detach()) : nullptr;
    });
}

extern "C" MbSource MbSourceOpen(const char* name) noexcept {
    return MbSourceOpenEx(name, 0);
}

extern "C" MbBool MbSourceClose(MbSource handle) noexcept {
    return Guarded<MbBool>(0, [&] {
        CSource* source = ResolveAs<CSource>(handle);
        if (source == nullptr) return 0;
        source->Close();
        return CheckedRelease(source) ? 1 : 0;
    });
}

extern "C" MbBool MbSourceTest(MbSource handle) noexcept {
    return Guarded<MbBool>(0, [&] {
        CRef<CSource> source = ShareAs<CSource>(handle);
        return source && source->Test() ? 1 : 0;
    });
}

extern "C" uint32_t MbSourceGetPid(MbSource handle) noexcept {
    return Guarded<uint32_t>(0, [&]() -> uint32_t {
        CRef<CSource> source = ShareAs<CSource>(handle);
        return source ? source->GetPid() : 0;
    });
}

extern "C" MbService MbServiceOpen(MbSource handle, const char* name) noexcept {
    return Guarded<MbService>(nullptr, [&]() -> MbService {
        CSource* source = ResolveAs<CSource>(handle);
        if (source == nullptr) return nullptr;
        CRef<CService> service = CRef<CService>::Adopt(new CService(source, name));
        return service->IsConnected() ? static_cast<CRefCount*>(service.Detach()) : nullptr;
    });
}

extern "C" MbBool MbServiceClose(MbService service) noexcept {
    return Guarded<MbBool>(0, [&] { return ReleaseAs<CService>(service) ? 1 : 0; });
}

extern "C" MbBool MbServiceTest(MbService handle) noexcept {
    return Guarded<MbBool>(0, [&] {
        CRef<CService> service = ShareAs<CService>(handle);
        return service && service->Test() ? 1 : 0;
    });
}

extern "C" MbBool MbServicePost(MbService handle, uint32_t flags, uint16_t kind, const void* data,
                                uint16_t length) noexcept {
    return Guarded<MbBool>(0, [&] {
        CRef<CService> service = ShareAs<CService>(handle);
        return service && service->Send(flags, kind, data, length) ? 1 : 0;
    });
}

extern "C" MbBool MbServiceSend(MbService service, uint32_t flags, const void* data, uint16_t length) noexcept {
    return MbServicePost(service, flags, MbKindSend, data, length);
}

extern "C" MbBool MbServiceAdvise(MbService service, uint32_t flags, MbItem item) noexcept {
    return Guarded<MbBool>(0, [&] { return SendItem(service, flags, MbKindAdvise, item); });
}

extern "C" MbBool MbServiceUpdate(MbService service, uint32_t flags, MbItem item) noexcept {
    return Guarded<MbBool>(0, [&] { return SendItem(service, flags, MbKindUpdate, item); });
}

// Without an argument the procedure item itself is the message; with one, a map of both.
extern "C" MbBool MbServiceCall(MbService service, uint32_t flags, MbItem procedure, MbItem argument) noexcept {
    return Guarded<MbBool>(0, [&]() -> MbBool {
        if (!IsProcedureType(procedure)) return 0;
        if (argument == nullptr) return SendItem(service, flags, MbKindCall, procedure);
        CItemRef envelope(MbMapNew());
        if (!SetEntries(envelope.Get(), {{"proc", procedure}, {"arg", argument}})) return 0;
        return SendItem(service, flags, MbKindCall, envelope.Get());
    });
}

// The envelope names the querying sink in "source" and the answering service in "service",
// so the other side knows where to send the reply.
extern "C" MbBool MbServiceQuery(MbService service, uint32_t flags, MbItem procedure, MbItem argument,
                                 MbSinkService replyService, MbItem cookie) noexcept {
    return Guarded<MbBool>(0, [&]() -> MbBool {
        if (replyService == nullptr || !IsProcedureType(procedure)) return 0;
        CSinkService* reply = ResolveAs<CSinkService>(replyService);
        if (reply == nullptr) return 0;
        CItemRef sinkName(reply->GetSinkNameItem());
        if (sinkName.Get() == nullptr) return 0;
        CItemRef envelope(MbMapNew());
        if (!SetEntries(envelope.Get(), {{"proc", procedure}, {"source", sinkName.Get()}, {"arg", argument},
                                         {"cookie", cookie}})) {
            return 0;
        }
        CItemRef serviceName(reply->GetNameItem());
        if (!SetEntries(envelope.Get(), {{"service", serviceName.Get()}})) return 0;
        return SendItem(service, flags, MbKindQuery, envelope.Get());
    });
}

extern "C" MbBool MbServiceQueryCookie(MbService service, uint32_t flags, MbItem procedure, MbItem argument,
                                       MbSinkService replyService, uint32_t cookieLow, uint32_t cookieHigh) noexcept {
    return Guarded<MbBool>(0, [&]() -> MbBool {
        MbItem cookie = MbAtomNewCookie(cookieLow, cookieHigh);
        if (cookie == nullptr) return 0;
        const MbBool sent = MbServiceQuery(service, flags, procedure, argument, replyService, cookie);
        return MbHandleRelease(cookie) == MbResultOk ? sent : 0;
    });
}

// With neither procedure nor result the cookie item itself is the message.
extern "C" MbBool MbServiceReply(MbService service, uint32_t flags, MbItem procedure, MbItem cookie,
                                 MbItem result) noexcept {
    return Guarded<MbBool>(0, [&]() -> MbBool {
        if (cookie == nullptr) return 0;
        if (procedure == nullptr && result == nullptr) return SendItem(service, flags, MbKindReply, cookie);
        CItemRef envelope(MbMapNew());
        if (!SetEntries(envelope.Get(), {{"cookie", cookie}, {"proc", procedure}, {"result", result}})) return 0;
        return SendItem(service, flags, MbKindReply, envelope.Get());
    });
}
