// String bindings, binding handles and their release.
#include "platform/rpc/binding.h"

#include "platform/rpc/socket.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr std::string_view kProtseq = "ncalrpc";

RPC_CSTR CopyToHeap(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

bool NeedsEscape(char c) {
    return c == ']' || c == ',' || c == '\\';
}

}  // namespace

bool EndpointNameValid(const char* name) {
    if (name == nullptr) return false;
    const size_t length = std::strlen(name);
    return length >= 1 && length <= kEndpointMax;
}

CRpcBinding* CRpcBinding::ForEndpoint(const std::string& endpoint) {
    if (!EndpointNameValid(endpoint.c_str()) || endpoint.size() != std::strlen(endpoint.c_str())) return nullptr;
    CRpcBinding* binding = new (std::nothrow) CRpcBinding;
    if (binding == nullptr) return nullptr;
    try {
        binding->endpoint = endpoint;
        binding->channel = CClientChannel::ForEndpoint(endpoint);
    } catch (...) {
        delete binding;
        return nullptr;
    }
    return binding;
}

RPC_STATUS RpcStringBindingComposeA(const char* objUuid, const char* protseq, const char* networkAddr,
                                    const char* endpoint, const char* options, RPC_CSTR* stringBinding) {
    if (stringBinding == nullptr) return RPC_S_INVALID_ARG;
    *stringBinding = nullptr;
    if (objUuid != nullptr && *objUuid != 0) return RPC_S_INVALID_ARG;
    try {
        std::string text = protseq ? protseq : "";
        text += ':';
        if (networkAddr) text += networkAddr;
        if ((endpoint && *endpoint) || (options && *options)) {
            text += '[';
            for (const char* p = endpoint ? endpoint : ""; *p; ++p) {
                if (NeedsEscape(*p)) text += '\\';
                text += *p;
            }
            if (options && *options) {
                text += ',';
                text += options;
            }
            text += ']';
        }
        *stringBinding = CopyToHeap(text);
    } catch (const std::bad_alloc&) {
    }
    return *stringBinding ? RPC_S_OK : RPC_S_OUT_OF_MEMORY;
}

RPC_STATUS RpcBindingFromStringBindingA(const char* stringBinding, RPC_BINDING_HANDLE* binding) {
    if (binding == nullptr) return RPC_S_INVALID_ARG;
    *binding = nullptr;
    if (stringBinding == nullptr) return RPC_S_INVALID_STRING_BINDING;
    const std::string_view text(stringBinding);
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return RPC_S_INVALID_STRING_BINDING;
    if (text.substr(0, colon) != kProtseq) return RPC_S_PROTSEQ_NOT_SUPPORTED;
    const size_t open = text.find('[', colon + 1);
    if (open == std::string_view::npos || text.back() != ']') return RPC_S_INVALID_ENDPOINT_FORMAT;
    try {
        // The endpoint runs to the first unescaped ',' or ']'; options after a ',' are ignored.
        std::string endpoint;
        size_t i = open + 1;
        for (; i < text.size() - 1 && text[i] != ',' && text[i] != ']'; ++i) {
            if (text[i] == '\\' && i + 1 < text.size() - 1) ++i;
            endpoint += text[i];
        }
        if (text[i] == ']' && i != text.size() - 1) return RPC_S_INVALID_STRING_BINDING;
        *binding = CRpcBinding::ForEndpoint(endpoint);
    } catch (const std::bad_alloc&) {
        return RPC_S_OUT_OF_MEMORY;
    }
    return *binding ? RPC_S_OK : RPC_S_INVALID_ENDPOINT_FORMAT;
}

RPC_STATUS RpcStringFreeA(RPC_CSTR* string) {
    if (string == nullptr) return RPC_S_INVALID_ARG;
    std::free(*string);
    *string = nullptr;
    return RPC_S_OK;
}

RPC_STATUS RpcBindingFree(RPC_BINDING_HANDLE* binding) {
    if (binding == nullptr || *binding == nullptr) return RPC_S_INVALID_BINDING;
    delete *binding;
    *binding = nullptr;
    return RPC_S_OK;
}

RPC_STATUS RpcBindingInqPeerCredentials(RPC_BINDING_HANDLE callBinding, uint32_t* pid, uint32_t* uid, uint32_t* gid) {
    if (callBinding == nullptr) return RPC_S_INVALID_BINDING;
    if (callBinding->channel) return RPC_S_WRONG_KIND_OF_BINDING;
    if (pid) *pid = callBinding->peerPid;
    if (uid) *uid = callBinding->peerUid;
    if (gid) *gid = callBinding->peerGid;
    return RPC_S_OK;
}

RPC_STATUS RpcBindingSetSendWindow(RPC_BINDING_HANDLE binding, std::shared_ptr<CSendWindow> window) {
    if (binding == nullptr) return RPC_S_INVALID_BINDING;
    if (!binding->channel) return RPC_S_WRONG_KIND_OF_BINDING;
    binding->window = std::move(window);
    return RPC_S_OK;
}
