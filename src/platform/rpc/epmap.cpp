// Endpoint map registration and inquiry. An entry is a bound (not listening) abstract socket
// whose name carries interface and annotation; the kernel withdraws it with its process.
// Inquiry reads the names back from /proc/net/unix.
#include "platform/rpc/epmap.h"

#include "platform/rpc/socket.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

struct CRpcEpInquiry {
    std::vector<CEndpointMapEntry> entries;
    size_t next = 0;
};

namespace {

struct CRegisteredEntry {
    UUID uuid;
    int fd;
};

struct CEndpointMapState {
    std::mutex mutex;
    std::vector<CRegisteredEntry> entries;
};

CEndpointMapState& State() {
    static CEndpointMapState* state = new CEndpointMapState;
    return *state;
}

bool SameUuid(const UUID& a, const UUID& b) {
    return std::memcmp(&a, &b, sizeof(UUID)) == 0;
}

RPC_STATUS CheckVectors(RPC_IF_HANDLE ifSpec, RPC_BINDING_VECTOR* bindingVector, UUID_VECTOR* uuidVector) {
    if (ifSpec == nullptr) return RPC_S_INVALID_ARG;
    if (bindingVector == nullptr || bindingVector->Count == 0) return RPC_S_NO_BINDINGS;
    if (uuidVector != nullptr && uuidVector->Count != 0) return RPC_S_INVALID_ARG;
    return RPC_S_OK;
}

bool ReadWholeFile(const char* path, std::string* text) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[16384];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        text->append(chunk, static_cast<size_t>(got));
    }
    close(fd);
    return got == 0;
}

}  // namespace

RPC_STATUS RpcEpRegisterNoReplaceA(RPC_IF_HANDLE ifSpec, RPC_BINDING_VECTOR* bindingVector, UUID_VECTOR* uuidVector,
                                   const char* annotation) {
    if (RPC_STATUS status = CheckVectors(ifSpec, bindingVector, uuidVector)) return status;
    try {
        const std::string name =
            EndpointMapUuidText(ifSpec->id.Uuid) + "/" + EndpointMapEscape(annotation ? annotation : "");
        CAbstractAddress address;
        if (!address.Set(kEndpointMapPrefix, name)) return RPC_S_STRING_TOO_LONG;
        CEndpointMapState& state = State();
        std::lock_guard<std::mutex> lock(state.mutex);
        state.entries.reserve(state.entries.size() + 1);
        const int fd = UnixStreamSocket(false);
        if (fd < 0) return EPT_S_CANT_PERFORM_OP;
        if (bind(fd, address.Get(), address.Length()) != 0) {
            CloseDescriptor(fd);
            return EPT_S_CANT_PERFORM_OP;
        }
        state.entries.push_back(CRegisteredEntry{ifSpec->id.Uuid, fd});
    } catch (const std::bad_alloc&) {
        return RPC_S_OUT_OF_MEMORY;
    }
    return RPC_S_OK;
}

RPC_STATUS RpcEpUnregister(RPC_IF_HANDLE ifSpec, RPC_BINDING_VECTOR* bindingVector, UUID_VECTOR* uuidVector) {
    if (RPC_STATUS status = CheckVectors(ifSpec, bindingVector, uuidVector)) return status;
    CEndpointMapState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    RPC_STATUS status = EPT_S_NOT_REGISTERED;
    std::erase_if(state.entries, [&](const CRegisteredEntry& entry) {
        if (!SameUuid(entry.uuid, ifSpec->id.Uuid)) return false;
        CloseDescriptor(entry.fd);
        status = RPC_S_OK;
        return true;
    });
    return status;
}

RPC_STATUS RpcMgmtEpEltInqBegin(RPC_BINDING_HANDLE epBinding, unsigned long inquiryType, const RPC_IF_ID* ifId,
                                unsigned long, const UUID* objectUuid, RPC_EP_INQ_HANDLE* inquiryContext) {
    if (inquiryContext == nullptr) return RPC_S_INVALID_ARG;
    *inquiryContext = nullptr;
    if (epBinding != nullptr) return RPC_S_INVALID_BINDING;
    if (objectUuid != nullptr || (inquiryType != RPC_C_EP_ALL_ELTS && inquiryType != RPC_C_EP_MATCH_BY_IF) ||
        (inquiryType == RPC_C_EP_MATCH_BY_IF && ifId == nullptr)) {
        return RPC_S_INVALID_ARG;
    }
    try {
        std::string table;
        if (!ReadWholeFile("/proc/net/unix", &table)) return EPT_S_CANT_PERFORM_OP;
        auto inquiry = std::make_unique<CRpcEpInquiry>();
        size_t start = 0;
        while (start < table.size()) {
            size_t end = table.find('\n', start);
            if (end == std::string::npos) end = table.size();
            std::optional<CEndpointMapEntry> entry =
                EndpointMapParseLine(std::string_view(table).substr(start, end - start));
            if (entry && (inquiryType == RPC_C_EP_ALL_ELTS || SameUuid(entry->uuid, ifId->Uuid))) {
                inquiry->entries.push_back(std::move(*entry));
            }
            start = end + 1;
        }
        *inquiryContext = inquiry.release();
    } catch (const std::bad_alloc&) {
        return RPC_S_OUT_OF_MEMORY;
    }
    return RPC_S_OK;
}

RPC_STATUS RpcMgmtEpEltInqNextA(RPC_EP_INQ_HANDLE inquiryContext, RPC_IF_ID* ifId, RPC_BINDING_HANDLE* binding,
                                UUID* objectUuid, RPC_CSTR* annotation) {
    if (inquiryContext == nullptr) return RPC_S_INVALID_ARG;
    if (inquiryContext->next == inquiryContext->entries.size()) return RPC_X_NO_MORE_ENTRIES;
    const CEndpointMapEntry& entry = inquiryContext->entries[inquiryContext->next];
    if (annotation != nullptr) {
        *annotation = static_cast<char*>(std::malloc(entry.annotation.size() + 1));
        if (*annotation == nullptr) return RPC_S_OUT_OF_MEMORY;
        std::memcpy(*annotation, entry.annotation.c_str(), entry.annotation.size() + 1);
    }
    ++inquiryContext->next;
    if (ifId != nullptr) *ifId = RPC_IF_ID{entry.uuid, 0, 0};
    if (binding != nullptr) *binding = nullptr;
    if (objectUuid != nullptr) *objectUuid = UUID{};
    return RPC_S_OK;
}

RPC_STATUS RpcMgmtEpEltInqDone(RPC_EP_INQ_HANDLE* inquiryContext) {
    if (inquiryContext == nullptr || *inquiryContext == nullptr) return RPC_S_INVALID_ARG;
    delete *inquiryContext;
    *inquiryContext = nullptr;
    return RPC_S_OK;
}
