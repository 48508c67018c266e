/* mbus: typed items and a local message bus between the processes of one machine. */
#ifndef MBUS_MBUS_H
#define MBUS_MBUS_H

#include <stdarg.h>
#include <stdint.h>

#if defined(__GNUC__)
#define MB_API __attribute__((visibility("default")))
#else
#define MB_API
#endif

/* Every function returns normally: nothing is thrown across this interface. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define MB_NOEXCEPT noexcept
#elif defined(__cplusplus)
#define MB_NOEXCEPT throw()
#else
#define MB_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void*    MbHandle;        /* any library object */
typedef MbHandle MbItem;          /* item wrapper */
typedef MbHandle MbSink;
typedef MbHandle MbSinkService;
typedef MbHandle MbSource;
typedef MbHandle MbService;
typedef void*    MbEvent;         /* an event handle from CreateEventA (win32.h) */
typedef uint32_t MbResult;
typedef int32_t  MbBool;          /* 32-bit boolean: 1 true, 0 false */
typedef void (*MbTraceCallback)(const char* text, uint32_t category);
typedef struct MbSystemTime {     /* same layout as SYSTEMTIME, 16 bytes */
    uint16_t wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds;
} MbSystemTime;

/* results */
enum {
    MbResultOk = 0,
    MbResultFailed = 1,
    MbResultWrongType = 2,
    MbResultInvalid = 3,
    MbResultNotFound = 4,
    MbResultTruncated = 5
};

/* receive results */
enum {
    MbReceivedCall = 6,
    MbReceivedQuery = 7,
    MbReceivedReply = 8,
    MbNothingReceived = 9
};

/* type codes */
enum {
    MbTypeUnknown = 0,
    MbTypeNone = 1,
    MbTypeBlob = 2,
    MbTypeBool = 3,
    MbTypeCookie = 4,
    MbTypeInt = 5,
    MbTypeLocalTime = 6,
    MbTypeReal = 7,
    MbTypeUtcTime = 8,
    MbTypeString = 9,
    MbTypeUnsigned = 10,
    MbTypeItem = 11,
    MbTypeAtom = 12,
    MbTypeList = 13,
    MbTypeMap = 14
};

/* trace categories */
enum {
    MbTraceWarning = 1,
    MbTraceError = 2,
    MbTraceDiagnostic = 16,
    MbTraceBlankSeparator = 256
};

/* message kinds */
enum {
    MbKindRequest = 0,
    MbKindSend = 1,
    MbKindAdvise = 2,
    MbKindUpdate = 3,
    MbKindCall = 4,
    MbKindQuery = 5,
    MbKindReply = 6
};

/* control codes, carried in the flags of a Send */
enum {
    MbControlMask = 0x30000,
    MbControlConnect = 0x10000,
    MbControlDisconnect = 0x20000,
    MbControlTest = 0x30000
};

/* peer flags */
enum {
    MbPeerFailed = 1,
    MbPeerLocal = 2,
    MbPeerRemote = 4
};

/* open options */
enum {
    MbOptionSession = 1   /* append the session number to the name */
};

/* sink listing */
enum {
    MbSinkListFullName = 0x01,
    MbSinkListLocal = 0x02,
    MbSinkListName = 0x04,
    MbSinkListPid = 0x08,
    MbSinkListSession = 0x10,
    MbSinkListNoSession = 0x100,
    MbSinkListOwnSession = 0x200,
    MbSinkListOtherSession = 0x400,
    MbSinkListSelf = 0x800
};

/* misc */
enum {
    MbAppendIndex = 65535,
    MbLibraryVersion = 82
};

/* handles, memory */
MB_API MbResult MbHandleAddRef(MbHandle h) MB_NOEXCEPT;
MB_API MbResult MbHandleRelease(MbHandle h) MB_NOEXCEPT;
MB_API MbResult MbHandleLock(MbHandle h) MB_NOEXCEPT;
MB_API MbResult MbHandleUnlock(MbHandle h) MB_NOEXCEPT;
MB_API MbResult MbMemoryFree(void* buffer) MB_NOEXCEPT;
MB_API MbResult MbBufferFree(void* buffer) MB_NOEXCEPT;

/* tracing, lifetime */
MB_API void     MbTracerSet(MbTraceCallback callback) MB_NOEXCEPT;
MB_API void     MbTracerSetEx(MbTraceCallback callback, uint32_t options) MB_NOEXCEPT;
MB_API MbBool   MbLibraryInit(void) MB_NOEXCEPT;
MB_API void     MbLibraryTerm(void) MB_NOEXCEPT;
MB_API uint32_t MbVersionGet(void) MB_NOEXCEPT;

/* item creation */
MB_API MbItem MbAtomNewNone(void) MB_NOEXCEPT;
MB_API MbItem MbAtomNewBlob(const void* data, uint32_t length) MB_NOEXCEPT;
MB_API MbItem MbAtomNewBool(int32_t value) MB_NOEXCEPT;
MB_API MbItem MbAtomNewCookie(uint32_t low, uint32_t high) MB_NOEXCEPT;
MB_API MbItem MbAtomNewInt(int32_t value) MB_NOEXCEPT;
MB_API MbItem MbAtomNewReal(double value) MB_NOEXCEPT;
MB_API MbItem MbAtomNewString(const char* text) MB_NOEXCEPT;
MB_API MbItem MbAtomNewTime(int32_t utc, int64_t milliseconds) MB_NOEXCEPT;
MB_API MbItem MbAtomNewSystemTime(int32_t utc, const MbSystemTime* time) MB_NOEXCEPT;
MB_API MbItem MbAtomNewUnsigned(uint32_t value) MB_NOEXCEPT;
MB_API MbItem MbListNew(void) MB_NOEXCEPT;
MB_API MbItem MbMapNew(void) MB_NOEXCEPT;

/* atom getters */
MB_API MbResult MbAtomGetBlob(MbItem item, const void** data, uint16_t* length) MB_NOEXCEPT;
MB_API MbResult MbAtomCopyBlob(MbItem item, void* buffer, uint16_t* count, uint16_t size) MB_NOEXCEPT;
MB_API MbResult MbAtomDupBlob(MbItem item, void** buffer, uint16_t* length) MB_NOEXCEPT;
MB_API MbResult MbAtomGetString(MbItem item, const char** text, uint16_t* length) MB_NOEXCEPT;
MB_API MbResult MbAtomCopyString(MbItem item, char* buffer, uint16_t* length, uint16_t size) MB_NOEXCEPT;
MB_API MbResult MbAtomDupString(MbItem item, char** text, uint16_t* length) MB_NOEXCEPT;
MB_API MbResult MbAtomGetBool(MbItem item, int32_t* value) MB_NOEXCEPT;
MB_API MbResult MbAtomGetInt(MbItem item, int32_t* value) MB_NOEXCEPT;
MB_API MbResult MbAtomGetUnsigned(MbItem item, uint32_t* value) MB_NOEXCEPT;
MB_API MbResult MbAtomGetReal(MbItem item, double* value) MB_NOEXCEPT;
MB_API MbResult MbAtomGetCookie(MbItem item, uint64_t* value) MB_NOEXCEPT;
MB_API MbResult MbAtomGetTime(MbItem item, int32_t* utc, int64_t* milliseconds) MB_NOEXCEPT;
MB_API MbResult MbAtomGetSystemTime(MbItem item, int32_t* utc, MbSystemTime* time) MB_NOEXCEPT;
MB_API MbResult MbItemGetType(MbItem item, uint32_t* type) MB_NOEXCEPT;

/* atom setters */
MB_API MbResult MbAtomSetBlob(MbItem item, const void* data, uint32_t length) MB_NOEXCEPT;
MB_API MbResult MbAtomSetBool(MbItem item, int32_t value) MB_NOEXCEPT;
MB_API MbResult MbAtomSetCookie(MbItem item, uint32_t low, uint32_t high) MB_NOEXCEPT;
MB_API MbResult MbAtomSetInt(MbItem item, int32_t value) MB_NOEXCEPT;
MB_API MbResult MbAtomSetReal(MbItem item, double value) MB_NOEXCEPT;
MB_API MbResult MbAtomSetString(MbItem item, const char* text) MB_NOEXCEPT;
MB_API MbResult MbAtomSetTime(MbItem item, int32_t utc, int64_t milliseconds) MB_NOEXCEPT;
MB_API MbResult MbAtomSetSystemTime(MbItem item, int32_t utc, const MbSystemTime* time) MB_NOEXCEPT;
MB_API MbResult MbAtomSetUnsigned(MbItem item, uint32_t value) MB_NOEXCEPT;

/* lists, maps, comparison, storage, text */
MB_API MbResult MbListAppend(MbItem list, MbItem element, uint16_t* index) MB_NOEXCEPT;
MB_API MbResult MbListInsert(MbItem list, uint32_t position, MbItem element, uint16_t* index) MB_NOEXCEPT;
MB_API MbResult MbItemGetCount(MbItem container, uint16_t* count) MB_NOEXCEPT;
MB_API MbResult MbItemGetAt(MbItem container, uint16_t position, MbItem* element) MB_NOEXCEPT;
MB_API MbResult MbItemSetAt(MbItem container, uint16_t position, MbItem value) MB_NOEXCEPT;
MB_API MbResult MbItemRemoveAt(MbItem container, uint16_t position) MB_NOEXCEPT;
MB_API MbResult MbMapGetKeyAt(MbItem map, uint32_t position, MbItem* key) MB_NOEXCEPT;
MB_API MbResult MbItemGet(MbItem container, MbItem key, MbItem* element) MB_NOEXCEPT;
MB_API MbResult MbItemSet(MbItem container, MbItem key, MbItem value) MB_NOEXCEPT;
MB_API MbResult MbItemRemove(MbItem container, MbItem key) MB_NOEXCEPT;
MB_API MbResult MbMapGetNamed(MbItem container, const char* key, MbItem* element) MB_NOEXCEPT;
MB_API MbResult MbMapHasNamed(MbItem container, const char* key) MB_NOEXCEPT;
MB_API MbResult MbMapSetNamed(MbItem container, const char* key, MbItem value) MB_NOEXCEPT;
MB_API MbResult MbMapRemoveNamed(MbItem container, const char* key) MB_NOEXCEPT;
MB_API MbResult MbItemClear(MbItem container) MB_NOEXCEPT;
MB_API MbBool   MbItemEqual(MbItem a, MbItem b) MB_NOEXCEPT;
MB_API MbItem   MbItemToBytes(MbItem item) MB_NOEXCEPT;
MB_API MbItem   MbItemFromBytes(MbItem blob) MB_NOEXCEPT;
MB_API MbItem   MbItemToText(MbItem item, uint32_t bare) MB_NOEXCEPT;

/* build format */
MB_API MbItem MbBuild(const char* format, ...) MB_NOEXCEPT;
MB_API MbItem MbBuildV(const char* format, va_list args) MB_NOEXCEPT;

/* sinks */
MB_API MbSink   MbSinkOpen(const char* name, MbEvent event) MB_NOEXCEPT;
MB_API MbSink   MbSinkOpenEx(const char* name, MbEvent event, uint32_t options) MB_NOEXCEPT;
MB_API MbBool   MbSinkClose(MbSink sink) MB_NOEXCEPT;
MB_API MbBool   MbSinkCloseNoWait(MbSink sink) MB_NOEXCEPT;
MB_API uint32_t MbSinkGetPeerFlags(MbSink sink, const char* peer) MB_NOEXCEPT;
MB_API MbResult MbSinkGetPeers(MbSink sink, MbItem* peers) MB_NOEXCEPT;
MB_API MbBool   MbSinkTestPeers(MbSink sink) MB_NOEXCEPT;
MB_API MbSource MbSinkOpenSource(MbSink sink, const char* name) MB_NOEXCEPT;
MB_API MbSource MbSinkOpenSourceEx(MbSink sink, const char* name, uint32_t options) MB_NOEXCEPT;
MB_API MbBool   MbSinkConnect(MbSink sink, const char* name, MbSource* source) MB_NOEXCEPT;
MB_API MbBool   MbSinkConnectEx(MbSink sink, const char* name, uint32_t options, MbSource* source) MB_NOEXCEPT;

/* sink services */
MB_API MbSinkService MbSinkServiceOpen(MbSink sink, const char* name, MbEvent event) MB_NOEXCEPT;
MB_API void          MbSinkServiceClose(MbSinkService service) MB_NOEXCEPT;
MB_API MbResult      MbSinkServicePeek(MbSinkService service, MbItem* message) MB_NOEXCEPT;
MB_API MbResult      MbSinkServiceTake(MbSinkService service, MbItem* message) MB_NOEXCEPT;
MB_API MbResult      MbSinkServicePostCall(MbSinkService service, MbItem item) MB_NOEXCEPT;
MB_API MbResult      MbSinkServiceGetState(MbSinkService service, MbItem* state) MB_NOEXCEPT;

/* sources */
MB_API MbSource MbSourceOpen(const char* name) MB_NOEXCEPT;
MB_API MbSource MbSourceOpenEx(const char* name, uint32_t options) MB_NOEXCEPT;
MB_API MbBool   MbSourceClose(MbSource source) MB_NOEXCEPT;
MB_API MbBool   MbSourceTest(MbSource source) MB_NOEXCEPT;
MB_API uint32_t MbSourceGetPid(MbSource source) MB_NOEXCEPT;

/* service proxies and senders */
MB_API MbService MbServiceOpen(MbSource source, const char* name) MB_NOEXCEPT;
MB_API MbBool    MbServiceClose(MbService service) MB_NOEXCEPT;
MB_API MbBool    MbServiceTest(MbService service) MB_NOEXCEPT;
MB_API MbBool    MbServicePost(MbService service, uint32_t flags, uint16_t kind, const void* data, uint16_t length) MB_NOEXCEPT;
MB_API MbBool    MbServiceSend(MbService service, uint32_t flags, const void* data, uint16_t length) MB_NOEXCEPT;
MB_API MbBool    MbServiceAdvise(MbService service, uint32_t flags, MbItem item) MB_NOEXCEPT;
MB_API MbBool    MbServiceUpdate(MbService service, uint32_t flags, MbItem item) MB_NOEXCEPT;
MB_API MbBool    MbServiceCall(MbService service, uint32_t flags, MbItem procedure, MbItem argument) MB_NOEXCEPT;
MB_API MbBool    MbServiceQuery(MbService service, uint32_t flags, MbItem procedure, MbItem argument,
                                MbSinkService replyService, MbItem cookie) MB_NOEXCEPT;
MB_API MbBool    MbServiceQueryCookie(MbService service, uint32_t flags, MbItem procedure, MbItem argument,
                                      MbSinkService replyService, uint32_t cookieLow, uint32_t cookieHigh) MB_NOEXCEPT;
MB_API MbBool    MbServiceReply(MbService service, uint32_t flags, MbItem procedure, MbItem cookie,
                                MbItem result) MB_NOEXCEPT;

/* listing of sinks */
MB_API MbResult MbSinkListEx(uint32_t mask, MbItem* list) MB_NOEXCEPT;
MB_API MbResult MbSinkList(MbItem* list) MB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MBUS_MBUS_H */
