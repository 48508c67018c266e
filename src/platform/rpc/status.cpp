#include "platform/rpc/status.h"

#include <cerrno>

RPC_STATUS RpcStatusFromConnectErrno(int error) {
    switch (error) {
        case ENOENT:
        case ECONNREFUSED: return RPC_S_SERVER_UNAVAILABLE;
        case EAGAIN: return RPC_S_SERVER_TOO_BUSY;
        default: return RPC_S_CALL_FAILED_DNE;
    }
}

RPC_STATUS RpcStatusFromSendErrno(int error) {
    return error == EPIPE || error == ECONNRESET ? RPC_S_CALL_FAILED : RPC_S_CALL_FAILED_DNE;
}
