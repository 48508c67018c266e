#include "messaging/deliver_interface.h"

#include "platform/rpc/batch.h"
#include "platform/rpc/binding.h"
#include "platform/rpc/frame.h"
#include "platform/rpc/status.h"

#include <cstring>
#include <new>
#include <optional>

namespace {

void DispatchDeliver(RPC_BINDING_HANDLE callBinding, const void* managerEpv, const CRpcCall& call) {
    static_cast<const Deliver_v1_0_epv_t*>(managerEpv)
        ->Deliver(callBinding, call.service, call.flags, call.kind, call.data, call.length);
}

void EndDeliverRun(const void* managerEpv) {
    if (const auto endOfRun = static_cast<const Deliver_v1_0_epv_t*>(managerEpv)->EndOfRun) endOfRun();
}

const RPC_INTERFACE kDeliverInterface = {
    {{0xf7ca7934, 0x33a7, 0x42f1, {0x9e, 0x20, 0xb3, 0xbb, 0xe8, 0x40, 0xba, 0x9b}}, 1, 0},
    DispatchDeliver,
    EndDeliverRun,
};

}  // namespace

const RPC_IF_HANDLE Deliver_v1_0_c_ifspec = &kDeliverInterface;
const RPC_IF_HANDLE Deliver_v1_0_s_ifspec = &kDeliverInterface;

void Deliver(RPC_BINDING_HANDLE binding, const char* service, uint32_t flags, uint16_t kind, const uint8_t* data,
             uint16_t length) {
    if (binding == nullptr) throw CRpcException(RPC_S_INVALID_BINDING);
    if (!binding->channel) throw CRpcException(RPC_S_WRONG_KIND_OF_BINDING);
    if (service == nullptr || (data == nullptr && length != 0)) throw CRpcException(RPC_X_NULL_REF_POINTER);
    const size_t serviceLength = std::strlen(service);
    if (serviceLength > 0xFFFF) throw CRpcException(RPC_S_STRING_TOO_LONG);

    uint8_t header[kFrameHeaderSize];
    FrameEncodeHeader(header, flags, kind, static_cast<uint16_t>(serviceLength), data != nullptr, length);
    iovec parts[3] = {
        {header, sizeof header}, {const_cast<char*>(service), serviceLength}, {const_cast<uint8_t*>(data), length}};

    // Outside a batch the call is a batch of its own, which leaves the binding's window alone.
    CRpcBatch* batch = CRpcBatch::Current();
    std::optional<CRpcBatch> own;
    try {
        if (batch != nullptr) {
            batch->Gather(binding->channel, parts, 3, binding->window, length);
            return;
        }
        own.emplace();
        own->Gather(binding->channel, parts, 3);
    } catch (const std::bad_alloc&) {
        throw CRpcException(RPC_S_OUT_OF_MEMORY);
    }
    const std::vector<CRpcCallFailure> failures = own->End();
    if (!failures.empty()) throw CRpcException(failures.front().status);
}
