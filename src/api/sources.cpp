// Exported source, service-proxy and sender functions: the sending side.
#include <mbus/mbus.h>

#include <string>

#include "api/guard.h"
#include "items/item_handles.h"
#include "items/storage.h"
#include "messaging/envelope.h"
#include "messaging/service.h"
#include "messaging/sink_service.h"
#include "messaging/source.h"
#include "runtime/handle_cast.h"

namespace {

bool IsProcedureType(MbItem item) {
    uint32_t type = 0;
    if (MbItemGetType(item, &type) != MbResultOk) return false;
    return type == MbTypeBlob || type == MbTypeInt || type == MbTypeString || type == MbTypeUnsigned;
}

// Posts a stored tree from the stream that holds it (rewound for reading); nothing is sent for
// empty bytes.
MbBool PostStored(MbService service, uint32_t flags, uint16_t kind, CStorage& stream) {
    uint16_t length = 0;
    const uint8_t* bytes = stream.GetContents(&length);
    if (bytes == nullptr || length == 0) return 0;
    return MbServicePost(service, flags, kind, bytes, length);
}

// Stores the item with its header and posts the bytes: those of MbItemToBytes, posted from the
// stream itself rather than from a Blob item of them.
MbBool SendItem(MbService service, uint32_t flags, uint16_t kind, MbItem item) {
    CItem* resolved = ResolveItem(item);
    CStorage stream;
    if (resolved == nullptr || !stream.OpenForWriting()) return 0;
    resolved->Write(stream);
    stream.Close();
    if (stream.Failed() || !stream.OpenForReading(true)) return 0;
    return PostStored(service, flags, kind, stream);
}

// Adds the named entries in order, skipping null values; false at the first handle that is not
// a live item, after the warning its handle check gives, as MbMapSetNamed refuses it.
bool AddEntries(CEnvelope& envelope, std::initializer_list<std::pair<const char*, MbItem>> entries) {
    for (const auto& [key, value] : entries) {
        if (value == nullptr) continue;
        CItem* item = ResolveItem(value);
        if (item == nullptr) return false;
        envelope.Add(key, item);
    }
    return true;
}

MbBool SendEnvelope(MbService service, uint32_t flags, uint16_t kind, const CEnvelope& envelope) {
    CStorage stream;
    return envelope.Store(stream) ? PostStored(service, flags, kind, stream) : 0;
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
        CEnvelope envelope;
        if (!AddEntries(envelope, {{"proc", procedure}, {"arg", argument}})) return 0;
        return SendEnvelope(service, flags, MbKindCall, envelope);
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
        std::string sinkName = reply->SinkName();
        if (sinkName.empty()) return 0;
        CEnvelope envelope;
        if (!AddEntries(envelope, {{"proc", procedure}})) return 0;
        envelope.AddText("source", std::move(sinkName));
        if (!AddEntries(envelope, {{"arg", argument}, {"cookie", cookie}})) return 0;
        std::string serviceName = reply->Name();
        if (!serviceName.empty()) envelope.AddText("service", std::move(serviceName));
        return SendEnvelope(service, flags, MbKindQuery, envelope);
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
        CEnvelope envelope;
        if (!AddEntries(envelope, {{"cookie", cookie}, {"proc", procedure}, {"result", result}})) return 0;
        return SendEnvelope(service, flags, MbKindReply, envelope);
    });
}
