// The local RPC runtime ("ncalrpc" over Unix-domain sockets) under its Win32 names. Internal to
// the library: nothing here is exported. Strings are narrow char text; object UUIDs, security
// descriptors and network addresses are not supported (local calls only).
#pragma once

#include <cstdint>
#include <memory>

typedef long RPC_STATUS;
typedef char* RPC_CSTR;

struct CRpcBinding;
typedef CRpcBinding* RPC_BINDING_HANDLE;
struct CRpcEpInquiry;
typedef CRpcEpInquiry* RPC_EP_INQ_HANDLE;

struct UUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};

struct RPC_IF_ID {
    UUID Uuid;
    uint16_t VersMajor;
    uint16_t VersMinor;
};

struct RPC_BINDING_VECTOR {
    unsigned long Count;
    RPC_BINDING_HANDLE* BindingH;
};

struct UUID_VECTOR {
    unsigned long Count;
    UUID** Uuid;
};

// One incoming call as the dispatcher hands it to an interface: the service text is
// NUL-terminated; data is null exactly when the frame carried no data (then length is 0).
struct CRpcCall {
    const char* service;
    uint32_t flags;
    uint16_t kind;
    const uint8_t* data;
    uint16_t length;
};

// What the runtime knows of an interface: its identity and how one received call reaches the
// manager entry vector given at registration (the role of the server stub's dispatch table).
// endOfRun, a Linux extra, may be null: it is called after the last call of each run, the calls
// that one read of one connection brought, so that a manager that holds work back across the
// calls of a stream finishes it before the dispatcher waits again.
struct RPC_INTERFACE {
    RPC_IF_ID id;
    void (*dispatch)(RPC_BINDING_HANDLE callBinding, const void* managerEpv, const CRpcCall& call);
    void (*endOfRun)(const void* managerEpv);
};
typedef const RPC_INTERFACE* RPC_IF_HANDLE;
typedef void RPC_MGR_EPV;
// Called once per accepted connection with the call binding as context, before any of its bytes
// is read; a status other than RPC_S_OK refuses the connection, and is the verdict its client
// gets (see peer_access.h).
typedef RPC_STATUS (*RPC_IF_CALLBACK_FN)(RPC_IF_HANDLE interfaceHandle, void* context);

constexpr RPC_STATUS RPC_S_OK = 0;
constexpr RPC_STATUS RPC_S_ACCESS_DENIED = 5;
constexpr RPC_STATUS RPC_S_OUT_OF_MEMORY = 14;
constexpr RPC_STATUS RPC_S_INVALID_ARG = 87;
constexpr RPC_STATUS RPC_S_INVALID_STRING_BINDING = 1700;
constexpr RPC_STATUS RPC_S_WRONG_KIND_OF_BINDING = 1701;
constexpr RPC_STATUS RPC_S_INVALID_BINDING = 1702;
constexpr RPC_STATUS RPC_S_PROTSEQ_NOT_SUPPORTED = 1703;
constexpr RPC_STATUS RPC_S_INVALID_ENDPOINT_FORMAT = 1706;
constexpr RPC_STATUS RPC_S_TYPE_ALREADY_REGISTERED = 1711;
constexpr RPC_STATUS RPC_S_NO_BINDINGS = 1718;
constexpr RPC_STATUS RPC_S_CANT_CREATE_ENDPOINT = 1720;
constexpr RPC_STATUS RPC_S_SERVER_UNAVAILABLE = 1722;
constexpr RPC_STATUS RPC_S_SERVER_TOO_BUSY = 1723;
constexpr RPC_STATUS RPC_S_CALL_FAILED = 1726;
constexpr RPC_STATUS RPC_S_CALL_FAILED_DNE = 1727;
constexpr RPC_STATUS RPC_S_UNKNOWN_IF = 1717;
constexpr RPC_STATUS RPC_S_DUPLICATE_ENDPOINT = 1740;
constexpr RPC_STATUS RPC_S_STRING_TOO_LONG = 1743;
constexpr RPC_STATUS EPT_S_CANT_PERFORM_OP = 1752;
constexpr RPC_STATUS EPT_S_NOT_REGISTERED = 1753;
constexpr RPC_STATUS RPC_S_NO_MORE_ELEMENTS = 1772;
constexpr RPC_STATUS RPC_X_NO_MORE_ENTRIES = 1772;
constexpr RPC_STATUS RPC_X_NULL_REF_POINTER = 1780;
// Linux extra: a frame of a batch that writes now only (see CSubmitMode) that could not go out
// without waiting; nothing of it was written.
constexpr RPC_STATUS RPC_S_WOULD_WAIT = 10035;

constexpr unsigned int RPC_IF_AUTOLISTEN = 1;
constexpr unsigned int RPC_IF_ALLOW_LOCAL_ONLY = 32;
constexpr unsigned long RPC_C_EP_ALL_ELTS = 0;
constexpr unsigned long RPC_C_EP_MATCH_BY_IF = 1;
constexpr unsigned long RPC_C_VERS_ALL = 1;

// Server. Registration requires RPC_IF_AUTOLISTEN (there is no separate listen call) and a
// manager entry vector (no default manager is compiled in); registering the same interface
// again with the same vector succeeds and changes nothing. maxCalls is accepted and ignored:
// one dispatcher thread runs every call.
RPC_STATUS RpcServerRegisterIfEx(RPC_IF_HANDLE ifSpec, const UUID* mgrTypeUuid, RPC_MGR_EPV* mgrEpv, unsigned int flags,
                                 unsigned int maxCalls, RPC_IF_CALLBACK_FN callback);
// Binds and listens on the endpoint; the same endpoint again in this process succeeds, one bound
// by another process gives RPC_S_DUPLICATE_ENDPOINT.
RPC_STATUS RpcServerUseProtseqEpA(const char* protseq, unsigned int maxCalls, const char* endpoint,
                                  void* securityDescriptor);
RPC_STATUS RpcServerInqBindings(RPC_BINDING_VECTOR** bindingVector);
RPC_STATUS RpcBindingVectorFree(RPC_BINDING_VECTOR** bindingVector);
// Withdraws the interface. When no interface is left the endpoints are closed (their names are
// free on return), connections are closed and, with waitForCallsToComplete, the call in progress
// is waited for; called from inside a manager routine it never waits (that call is its caller).
RPC_STATUS RpcServerUnregisterIf(RPC_IF_HANDLE ifSpec, const UUID* mgrTypeUuid, unsigned int waitForCallsToComplete);

// Endpoint map: one entry per registration call, holding the interface and the annotation
// (at most 59 bytes once escaped); entries of a process vanish with it.
RPC_STATUS RpcEpRegisterNoReplaceA(RPC_IF_HANDLE ifSpec, RPC_BINDING_VECTOR* bindingVector, UUID_VECTOR* uuidVector,
                                   const char* annotation);
RPC_STATUS RpcEpUnregister(RPC_IF_HANDLE ifSpec, RPC_BINDING_VECTOR* bindingVector, UUID_VECTOR* uuidVector);
// epBinding must be null (the machine's map); inquiryType RPC_C_EP_ALL_ELTS or RPC_C_EP_MATCH_BY_IF;
// versions are not recorded, so every versOption matches every version.
RPC_STATUS RpcMgmtEpEltInqBegin(RPC_BINDING_HANDLE epBinding, unsigned long inquiryType, const RPC_IF_ID* ifId,
                                unsigned long versOption, const UUID* objectUuid, RPC_EP_INQ_HANDLE* inquiryContext);
// Any out pointer may be null. The map records no binding: *binding is set to null. The
// annotation is freed with RpcStringFreeA. RPC_X_NO_MORE_ENTRIES after the last element.
RPC_STATUS RpcMgmtEpEltInqNextA(RPC_EP_INQ_HANDLE inquiryContext, RPC_IF_ID* ifId, RPC_BINDING_HANDLE* binding,
                                UUID* objectUuid, RPC_CSTR* annotation);
RPC_STATUS RpcMgmtEpEltInqDone(RPC_EP_INQ_HANDLE* inquiryContext);

// Client bindings. A string binding reads "ncalrpc:[endpoint]" (with a network address before
// the bracket and options after a comma inside it when given); ']', ',' and '\' in the
// endpoint are escaped with '\'.
RPC_STATUS RpcStringBindingComposeA(const char* objUuid, const char* protseq, const char* networkAddr,
                                    const char* endpoint, const char* options, RPC_CSTR* stringBinding);
RPC_STATUS RpcBindingFromStringBindingA(const char* stringBinding, RPC_BINDING_HANDLE* binding);
RPC_STATUS RpcStringFreeA(RPC_CSTR* string);
RPC_STATUS RpcBindingFree(RPC_BINDING_HANDLE* binding);

// Linux extras for flow control. A manager routine that cannot take more for now calls
// RpcServerPauseIntake: once it returns, the dispatcher reads no more of any connection (the
// senders' writes then wait in their sockets) until some thread calls RpcServerResumeIntake.
// Nothing already read is dropped: the frames after the pausing call run on resume, in order.
// RpcServerIntakePaused tells whether the dispatcher reads nothing now.
void RpcServerPauseIntake();
void RpcServerResumeIntake();
bool RpcServerIntakePaused();
// Inside a manager routine: whether its frame is the last thing read from its connection, with
// no byte behind it. A frame that has more behind it is part of a stream that goes on.
bool RpcServerCallCameAlone();

// Linux extras for the client side. A binding may carry its sender's send window (see
// CSendWindow): frames of batched calls on it settle the window's reservations. RpcClientDrain
// waits up to `milliseconds` for every frame kept back by a receiver that did not read to be
// written, then gives up the rest (each frame is lost and reported through its window) and ends
// the thread that writes them; true when nothing was left.
class CSendWindow;
RPC_STATUS RpcBindingSetSendWindow(RPC_BINDING_HANDLE binding, std::shared_ptr<CSendWindow> window);
bool RpcClientDrain(uint32_t milliseconds);

// Linux extra: the credentials (SO_PEERCRED) of the process behind a call binding, as handed to
// a manager routine. Any out pointer may be null.
RPC_STATUS RpcBindingInqPeerCredentials(RPC_BINDING_HANDLE callBinding, uint32_t* pid, uint32_t* uid, uint32_t* gid);
