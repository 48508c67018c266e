// Collects the listed sinks from the delivery interface's endpoint map.
#include "platform/rpc/annotation.h"
#include "platform/rpc/deliver.h"

#include <new>

RPC_STATUS SinkListCollect(uint32_t mask, uint32_t ownPid, uint32_t ownSession, std::vector<CSinkRecord>* records) {
    mask = SinkListMaskNormalise(mask);
    RPC_EP_INQ_HANDLE inquiry = nullptr;
    RPC_STATUS status = RpcMgmtEpEltInqBegin(nullptr, RPC_C_EP_MATCH_BY_IF, &Deliver_v1_0_s_ifspec->id,
                                             RPC_C_VERS_ALL, nullptr, &inquiry);
    if (status != RPC_S_OK) return status;
    RPC_CSTR text = nullptr;
    try {
        while ((status = RpcMgmtEpEltInqNextA(inquiry, nullptr, nullptr, nullptr, &text)) == RPC_S_OK) {
            const CSinkAnnotation annotation = SinkAnnotationParse(text);
            if (SinkListIncludes(annotation, mask, ownPid, ownSession)) {
                records->push_back(CSinkRecord{std::string(annotation.fullName), std::string(annotation.name),
                                               annotation.local, annotation.pid, annotation.session});
            }
            RpcStringFreeA(&text);
        }
    } catch (const std::bad_alloc&) {
        RpcStringFreeA(&text);
        status = RPC_S_OUT_OF_MEMORY;
    }
    RpcMgmtEpEltInqDone(&inquiry);
    return status == RPC_X_NO_MORE_ENTRIES ? RPC_S_OK : status;
}
