/* mbus: typed items and a local message bus between the processes of one machine.

   This header is the reference of the C interface; docs/guide.md walks through it with
   complete programs.

   Items. An item is a tree: an Atom item holds one typed value (None, Blob, Bool, Cookie, Int,
   Unsigned, Real, String, LocalTime, UtcTime), a List item holds items by position, a Map item
   holds items under atom keys, kept in key order. A tree turns into an exact stored byte form
   (MbItemToBytes) and back, and into a text for people (MbItemToText).

   Messages. A receiving process opens one sink under a machine-wide name (MbSinkOpen) and
   services on it (MbSinkServiceOpen); each service queues the calls, queries and replies sent to
   it and keeps a state map that advises and updates change. A sending process opens a source
   bound to a sink name (MbSourceOpen), a service proxy on it (MbServiceOpen), and sends.

   Conventions that hold for every function below:
   - Handles. Every object comes as an opaque handle holding references. A function that
     returns a new handle (a creator, an opener, an out-argument) gives the caller one
     reference; the caller drops it with the function named there: MbHandleRelease for items,
     MbSinkClose, MbSinkServiceClose, MbSourceClose or MbServiceClose for the messaging objects.
     Items passed in are never released by the callee; a container or message that keeps one
     takes a reference of its own. A handle the library does not know (never made, already
     released to zero, from before MbLibraryTerm) is never used: the function fails as for NULL
     and traces "**Warning: attempt to reference an unknown object at 0x...".
   - Results. Functions returning MbResult give MbResultOk (0) on success, MbResultFailed (1)
     when an allocation or a conversion failed, MbResultWrongType (2) when an atom is of a type
     that does not convert, MbResultInvalid (3) for a NULL or unknown handle, a handle of the
     wrong kind or a missing required argument, MbResultNotFound (4) for an absent key or a
     position beyond the end, MbResultTruncated (5) when a buffer was too small. Out-arguments
     are cleared first, so they hold 0 or NULL whenever the result is not MbResultOk. MbBool
     functions give 1 or 0; handle-returning functions give NULL on failure.
   - Lengths are 16-bit. A Blob holds at most 65,535 bytes: a longer length argument keeps its
     low 16 bits (65,541 bytes give a Blob of 5). Lists and maps hold at most 65,535 entries,
     reference counts go to 65,535, and a stored form or a text is at most 65,535 bytes: a
     larger tree cannot be stored, sent or rendered (the call fails with a traced error).
   - Times count milliseconds since 1601-01-01 00:00:00 (a FILETIME divided by 10,000), with no
     time-zone conversion: LocalTime and UtcTime differ only in their label. 0 means no time.
   - Threads. Every function may be called from any thread. Each list or map operation locks
     the container for its own duration; a sequence of calls (count, then get) is consistent
     only under MbHandleLock. Atom values are read and written without a lock.
   - Nothing is thrown across this interface; a failed allocation makes the call fail. */
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
/* Receives each trace as one text, its line ending included, with the OR of its categories
   (MbTraceWarning, MbTraceError, MbTraceDiagnostic). Runs on whichever thread traces: the
   caller's own or one of the library's threads (the sink and source request threads, the
   transport), possibly on several at once: make it thread-safe and quick, since the thread
   that traces waits for it. */
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

/* receive results: what MbSinkServicePeek and MbSinkServiceTake found */
enum {
    MbReceivedCall = 6,
    MbReceivedQuery = 7,
    MbReceivedReply = 8,
    MbNothingReceived = 9
};

/* type codes: 1 to 10 the type of an atom, 11 to 14 the kind of an item (MbItemGetType) */
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

/* trace categories; MbTraceBlankSeparator is an option of MbTracerSetEx */
enum {
    MbTraceWarning = 1,
    MbTraceError = 2,
    MbTraceDiagnostic = 16,
    MbTraceBlankSeparator = 256
};

/* message kinds (MbServicePost) */
enum {
    MbKindRequest = 0,
    MbKindSend = 1,
    MbKindAdvise = 2,
    MbKindUpdate = 3,
    MbKindCall = 4,
    MbKindQuery = 5,
    MbKindReply = 6
};

/* control codes, carried in the flags of a Send: the library's own link notices and tests.
   Senders leave these bits clear. */
enum {
    MbControlMask = 0x30000,
    MbControlConnect = 0x10000,
    MbControlDisconnect = 0x20000,
    MbControlTest = 0x30000
};

/* peer flags (MbSinkGetPeerFlags, MbSinkGetPeers): Local, this sink has a source open to the
   peer (MbSinkOpenSource); Remote, the peer announced a source open to this sink; Failed, the
   last MbSinkTestPeers could not queue a test to it. */
enum {
    MbPeerFailed = 1,
    MbPeerLocal = 2,
    MbPeerRemote = 4
};

/* open options */
enum {
    MbOptionSession = 1   /* append the session number to the name */
};

/* sink listing (MbSinkListEx): the low bits choose the fields of each entry, the high bits
   which sinks are listed */
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

/* ==== Handles and memory ================================================================== */

/* Adds a reference to any library object. MbResultOk, or MbResultInvalid for NULL or an
   unknown handle. An object holds at most 65,535 references. */
MB_API MbResult MbHandleAddRef(MbHandle h) MB_NOEXCEPT;
/* Drops one reference; the last one destroys the object (a container drops its elements).
   MbResultOk, or MbResultInvalid for NULL or an unknown handle: a handle released to zero is
   unknown from then on. Sinks, sink services, sources and service proxies are given back with
   their own close functions, which also withdraw them from the bus. */
MB_API MbResult MbHandleRelease(MbHandle h) MB_NOEXCEPT;
/* Takes the object's lock (recursive; other threads wait) and a reference that keeps the
   object alive until MbHandleUnlock, which the same thread calls once per lock. Hold an item's
   lock across a sequence of container calls that must see one state. MbResultOk or
   MbResultInvalid. */
MB_API MbResult MbHandleLock(MbHandle h) MB_NOEXCEPT;
/* Leaves the lock that MbHandleLock took and drops its reference. MbResultOk or
   MbResultInvalid. Another thread than the locking one cannot leave the lock: that is traced
   as an error and the lock stays held. */
MB_API MbResult MbHandleUnlock(MbHandle h) MB_NOEXCEPT;
/* Frees a buffer that MbAtomDupBlob or MbAtomDupString returned. MbResultOk, or
   MbResultInvalid for NULL. */
MB_API MbResult MbMemoryFree(void* buffer) MB_NOEXCEPT;
/* The same function as MbMemoryFree under a second name. */
MB_API MbResult MbBufferFree(void* buffer) MB_NOEXCEPT;

/* ==== Library lifetime and tracing ======================================================== */

/* Installs the callback that receives the library's traces: warnings (unknown handles, a full
   send window), errors (lost messages, storage limits) and one diagnostic line per message a
   sink handles. NULL removes it; without a callback nothing is traced or formatted. Does
   nothing before MbLibraryInit, and MbLibraryTerm removes it. The callback runs on library
   threads too: see MbTraceCallback. Same as MbTracerSetEx(callback, 0). */
MB_API void     MbTracerSet(MbTraceCallback callback) MB_NOEXCEPT;
/* MbTracerSet with options: with MbTraceBlankSeparator the library's reports and notices end
   their lines with a blank instead of a newline; the lines of received messages
   ("SINK.SERVICE.Call: ...") and the system text of a lost message keep their line ends. */
MB_API void     MbTracerSetEx(MbTraceCallback callback, uint32_t options) MB_NOEXCEPT;
/* Starts the library: the object tracker, the tracer and the two request threads. Call it
   before any other function: until then creators return NULL. Returns 1 on success,
   0 when the threads cannot start. Not counted: a second call while started returns 1 and
   changes nothing, and one MbLibraryTerm ends the library however often it was started. */
MB_API MbBool   MbLibraryInit(void) MB_NOEXCEPT;
/* Ends the library: stops the request threads, gives messages that receivers have not read yet
   up to 5 s to go out (each one still left is traced as lost), withdraws the process's sink and
   removes the trace callback. Every handle becomes unknown; objects still held stay in memory.
   MbLibraryInit may start the library again. */
MB_API void     MbLibraryTerm(void) MB_NOEXCEPT;
/* MbLibraryVersion (82). Needs no MbLibraryInit. */
MB_API uint32_t MbVersionGet(void) MB_NOEXCEPT;

/* ==== Making items ========================================================================
   Each creator returns a new item with one reference for the caller (MbHandleRelease), or
   NULL when an allocation failed or the library is not started. */

/* An Atom item holding None. */
MB_API MbItem MbAtomNewNone(void) MB_NOEXCEPT;
/* A Blob holding a copy of the bytes. Only the low 16 bits of length count: 65,536 bytes make
   an empty Blob. NULL data or a length of 0 make a Blob without bytes. */
MB_API MbItem MbAtomNewBlob(const void* data, uint32_t length) MB_NOEXCEPT;
/* A Bool; the value is kept as given, any non-zero value is true. */
MB_API MbItem MbAtomNewBool(int32_t value) MB_NOEXCEPT;
/* A Cookie: an opaque 64-bit value from its low and high halves, for matching replies to
   queries. */
MB_API MbItem MbAtomNewCookie(uint32_t low, uint32_t high) MB_NOEXCEPT;
/* An Int. */
MB_API MbItem MbAtomNewInt(int32_t value) MB_NOEXCEPT;
/* A Real. */
MB_API MbItem MbAtomNewReal(double value) MB_NOEXCEPT;
/* A String holding a copy of the NUL-terminated text. NULL or "" make a String without text,
   which MbAtomGetString refuses. */
MB_API MbItem MbAtomNewString(const char* text) MB_NOEXCEPT;
/* A UtcTime when utc is non-zero, else a LocalTime, of milliseconds since 1601. */
MB_API MbItem MbAtomNewTime(int32_t utc, int64_t milliseconds) MB_NOEXCEPT;
/* As MbAtomNewTime, from calendar fields (years 1601 to 30827; wDayOfWeek is ignored). NULL or
   an all-zero time give 0 (no time); any other invalid time gives NULL. */
MB_API MbItem MbAtomNewSystemTime(int32_t utc, const MbSystemTime* time) MB_NOEXCEPT;
/* An Unsigned. */
MB_API MbItem MbAtomNewUnsigned(uint32_t value) MB_NOEXCEPT;
/* An empty List item. */
MB_API MbItem MbListNew(void) MB_NOEXCEPT;
/* An empty Map item. */
MB_API MbItem MbMapNew(void) MB_NOEXCEPT;

/* ==== Reading atoms =======================================================================
   Every getter clears its outs first. A NULL or unknown handle, or an item that holds no atom
   (a List or Map item), gives MbResultInvalid; an atom of a type that does not convert gives
   MbResultWrongType. Getters add no reference and never change the atom. */

/* The Blob's own bytes and their length (both outs required). The pointer stays valid while
   the atom keeps this value: copy it before another thread may change the item. A Blob
   without bytes gives MbResultInvalid. */
MB_API MbResult MbAtomGetBlob(MbItem item, const void** data, uint16_t* length) MB_NOEXCEPT;
/* Copies at most size bytes of a Blob into buffer (no terminator) and sets *count (optional)
   to the number copied. MbResultTruncated when the Blob is longer than size; MbResultInvalid
   for a NULL buffer or a size of 0. */
MB_API MbResult MbAtomCopyBlob(MbItem item, void* buffer, uint16_t* count, uint16_t size) MB_NOEXCEPT;
/* A malloc'd copy of the Blob's bytes, exactly *length of them (both outs required); the
   caller frees it with MbMemoryFree. MbResultFailed when it cannot be allocated. */
MB_API MbResult MbAtomDupBlob(MbItem item, void** buffer, uint16_t* length) MB_NOEXCEPT;
/* The String's own NUL-terminated text and its length (optional; a text longer than 65,535
   bytes reports 65,535). Valid while the atom keeps this value. A String without text gives
   MbResultInvalid. */
MB_API MbResult MbAtomGetString(MbItem item, const char** text, uint16_t* length) MB_NOEXCEPT;
/* Copies at most size - 1 characters and a NUL into buffer; buffer[0] is set to NUL first.
   *length (optional) gets the whole text's length, not the count copied, so a second buffer
   can be sized after MbResultTruncated (length >= size). MbResultInvalid for a NULL buffer or
   a size of 0. */
MB_API MbResult MbAtomCopyString(MbItem item, char* buffer, uint16_t* length, uint16_t size) MB_NOEXCEPT;
/* A malloc'd NUL-terminated copy of the String's text (length optional); the caller frees it
   with MbMemoryFree. MbResultFailed when it cannot be allocated. */
MB_API MbResult MbAtomDupString(MbItem item, char** text, uint16_t* length) MB_NOEXCEPT;
/* The value as a Bool: a Bool's stored value (MbAtomNewBool keeps any non-zero value), 1 for
   a non-zero Int or Unsigned and for a Real of magnitude 0.5 or more, else 0. */
MB_API MbResult MbAtomGetBool(MbItem item, int32_t* value) MB_NOEXCEPT;
/* The value as an Int from a Bool, an Int, an Unsigned up to 2,147,483,647, or a Real rounded
   to nearest with halves away from zero (2.5 gives 3) within -2,147,483,647 to 2,147,483,647.
   MbResultWrongType out of range. */
MB_API MbResult MbAtomGetInt(MbItem item, int32_t* value) MB_NOEXCEPT;
/* The value as an Unsigned from a Bool, a non-negative Int, an Unsigned, or a Real rounded to
   nearest within 0 to 4,294,967,295. MbResultWrongType out of range. */
MB_API MbResult MbAtomGetUnsigned(MbItem item, uint32_t* value) MB_NOEXCEPT;
/* The value as a Real from a Bool, an Int, an Unsigned or a Real. */
MB_API MbResult MbAtomGetReal(MbItem item, double* value) MB_NOEXCEPT;
/* A Cookie's 64-bit value (high half in the upper 32 bits); other types: MbResultWrongType. */
MB_API MbResult MbAtomGetCookie(MbItem item, uint64_t* value) MB_NOEXCEPT;
/* A LocalTime's or UtcTime's milliseconds since 1601 (required) and *utc (optional): 1 for a
   UtcTime, else 0. Other types: MbResultWrongType. */
MB_API MbResult MbAtomGetTime(MbItem item, int32_t* utc, int64_t* milliseconds) MB_NOEXCEPT;
/* As MbAtomGetTime, as calendar fields (day of week computed); a stored 0 gives 1601-01-01.
   MbResultFailed when the value has no calendar date (negative or too large). */
MB_API MbResult MbAtomGetSystemTime(MbItem item, int32_t* utc, MbSystemTime* time) MB_NOEXCEPT;
/* The type of an Atom item's value (MbTypeNone to MbTypeUnsigned), or the kind of another item:
   MbTypeList, MbTypeMap, or MbTypeItem for an item without content. */
MB_API MbResult MbItemGetType(MbItem item, uint32_t* type) MB_NOEXCEPT;

/* ==== Changing atoms ======================================================================
   Each setter replaces the item's value, whatever its type was: a List or Map item becomes an
   Atom item and drops its elements. MbResultOk, MbResultInvalid for a NULL or unknown item,
   MbResultFailed when an allocation failed (the item is left as it was). */

/* A Blob copy of the bytes; only the low 16 bits of length count (see MbAtomNewBlob). */
MB_API MbResult MbAtomSetBlob(MbItem item, const void* data, uint32_t length) MB_NOEXCEPT;
/* A Bool, kept as given. */
MB_API MbResult MbAtomSetBool(MbItem item, int32_t value) MB_NOEXCEPT;
/* A Cookie from its low and high halves. */
MB_API MbResult MbAtomSetCookie(MbItem item, uint32_t low, uint32_t high) MB_NOEXCEPT;
/* An Int. */
MB_API MbResult MbAtomSetInt(MbItem item, int32_t value) MB_NOEXCEPT;
/* A Real. */
MB_API MbResult MbAtomSetReal(MbItem item, double value) MB_NOEXCEPT;
/* A String copy of the text; NULL or "" give a String without text. */
MB_API MbResult MbAtomSetString(MbItem item, const char* text) MB_NOEXCEPT;
/* A UtcTime (utc non-zero) or LocalTime of milliseconds since 1601. */
MB_API MbResult MbAtomSetTime(MbItem item, int32_t utc, int64_t milliseconds) MB_NOEXCEPT;
/* As MbAtomSetTime from calendar fields (see MbAtomNewSystemTime); an invalid time gives
   MbResultFailed and changes nothing. */
MB_API MbResult MbAtomSetSystemTime(MbItem item, int32_t utc, const MbSystemTime* time) MB_NOEXCEPT;
/* An Unsigned. */
MB_API MbResult MbAtomSetUnsigned(MbItem item, uint32_t value) MB_NOEXCEPT;

/* ==== Lists and maps ======================================================================
   A List is indexed by position (0 first). A Map is searched by key: a key is an atom, taken
   from a key item, made from a text (a String key) or from a position (an Unsigned key).
   Number keys (Bool, Int, Unsigned, Real) compare by value whatever their type, Strings by
   their bytes (case matters); a later value under an equal key replaces the earlier. Elements handed out carry a reference for the caller
   (MbHandleRelease) and stay valid after another thread removes them. A container never holds
   itself: putting a container into itself or below itself fails with MbResultFailed and a
   warning, "attempt to nest a container inside itself at 0x...". */

/* MbListInsert at MbAppendIndex. */
MB_API MbResult MbListAppend(MbItem list, MbItem element, uint16_t* index) MB_NOEXCEPT;
/* Inserts element before the one at position (low 16 bits), or appends it at MbAppendIndex;
   the list takes its own reference. *index (optional) gets the position used, or
   MbAppendIndex on failure. MbResultFailed for a position at or beyond the count or a full
   list (65,535); MbResultInvalid unless list is a List item and element an item. */
MB_API MbResult MbListInsert(MbItem list, uint32_t position, MbItem element, uint16_t* index) MB_NOEXCEPT;
/* The number of elements of a List or entries of a Map; MbResultInvalid for anything else. */
MB_API MbResult MbItemGetCount(MbItem container, uint16_t* count) MB_NOEXCEPT;
/* A List's element at position, or a Map's value under the Unsigned key equal to position
   (not the position-th entry: see MbMapGetKeyAt). MbResultNotFound beyond the end or when the
   key is absent. */
MB_API MbResult MbItemGetAt(MbItem container, uint16_t position, MbItem* element) MB_NOEXCEPT;
/* Replaces a List's element at position (MbResultFailed beyond the end), or sets a Map's value
   under the Unsigned key equal to position. The container takes its own reference to value
   and drops the one it held. */
MB_API MbResult MbItemSetAt(MbItem container, uint16_t position, MbItem value) MB_NOEXCEPT;
/* Removes a List's element at position, or a Map's entry under the Unsigned key equal to
   position. MbResultOk also when there was none. */
MB_API MbResult MbItemRemoveAt(MbItem container, uint16_t position) MB_NOEXCEPT;
/* A new item holding the key of a Map's position-th entry in key order (0 first), to walk a
   map with MbItemGetCount; MbResultNotFound at or beyond the count. The item shares the map's
   own key atom (the same one on every call while the entry stays): do not change it. */
MB_API MbResult MbMapGetKeyAt(MbItem map, uint32_t position, MbItem* key) MB_NOEXCEPT;
/* The value under the key item's atom in a Map, or in a List the element at the position the
   key names (a Bool names 0 or 1, a non-negative Int or an Unsigned its value; other keys name
   none). MbResultNotFound when absent; MbResultInvalid when key holds no atom. */
MB_API MbResult MbItemGet(MbItem container, MbItem key, MbItem* element) MB_NOEXCEPT;
/* Sets value under the key item's atom in a Map (any atom type can be a key), or replaces the
   List element at the position the key names (MbResultNotFound beyond the end). The container
   takes its own reference to value. */
MB_API MbResult MbItemSet(MbItem container, MbItem key, MbItem value) MB_NOEXCEPT;
/* Removes the entry under the key item's atom from a Map (MbResultOk also when absent), or the
   List element at the position the key names (MbResultNotFound beyond the end). */
MB_API MbResult MbItemRemove(MbItem container, MbItem key) MB_NOEXCEPT;
/* MbItemGet with a String key made from the text. On a List: MbResultNotFound. */
MB_API MbResult MbMapGetNamed(MbItem container, const char* key, MbItem* element) MB_NOEXCEPT;
/* MbResultOk when the Map has a String key equal to the text, MbResultNotFound when not. */
MB_API MbResult MbMapHasNamed(MbItem container, const char* key) MB_NOEXCEPT;
/* MbItemSet with a String key made from the text. */
MB_API MbResult MbMapSetNamed(MbItem container, const char* key, MbItem value) MB_NOEXCEPT;
/* MbItemRemove with a String key made from the text; MbResultOk also when absent. */
MB_API MbResult MbMapRemoveNamed(MbItem container, const char* key) MB_NOEXCEPT;
/* Removes every element of a List or entry of a Map, dropping their references.
   MbResultInvalid for anything else. */
MB_API MbResult MbItemClear(MbItem container) MB_NOEXCEPT;

/* ==== Comparing, storing and rendering ==================================================== */

/* 1 when the two items hold equal atoms: Int 1, Unsigned 1, Real 1.0 and Bool true are equal;
   a String never equals a number. Compares atoms only: two items without atom (Lists, Maps,
   NULL or unknown handles) compare equal whatever they hold, and an atom never equals a
   container. Compare trees by their stored forms (MbItemToBytes). */
MB_API MbBool   MbItemEqual(MbItem a, MbItem b) MB_NOEXCEPT;
/* A new Blob item holding the tree's stored form (a header, then the tree; an Int 7 stores in
   22 bytes), or NULL when the handle is NULL or unknown or the form would exceed 65,535 bytes
   (traced as "storage full"). The form is exact: MbItemFromBytes gives back an equal tree. */
MB_API MbItem   MbItemToBytes(MbItem item) MB_NOEXCEPT;
/* A new tree read from the stored form held by a Blob item, or NULL when blob is not a Blob
   with bytes or its header is refused. Bytes that end early give the tree as far as it was
   read, after a traced error. */
MB_API MbItem   MbItemFromBytes(MbItem blob) MB_NOEXCEPT;
/* A new Blob item holding the tree's text form and a terminating NUL, for people and traces
   ({"id":7, "tags":["a", "b"]}; docs/guide.md gives the form of each type). Strings and Blobs
   appear between quotes as they are, without escapes: the text is not meant to be parsed.
   With bare non-zero nothing is rendered and the Blob has no bytes. NULL for a NULL or
   unknown handle or a text longer than 65,535 bytes. */
MB_API MbItem   MbItemToText(MbItem item, uint32_t bare) MB_NOEXCEPT;

/* ==== Building a tree in one call =========================================================
   The format names one item per letter, taking its arguments from the variable list in order:
     N None (no argument)               b Bool (int32_t)
     B Blob (const void*, uint32_t)     c Cookie (uint64_t)
     i Int (int32_t)                    u Unsigned (uint32_t)
     r Real (double)                    s String (const char*, may be NULL)
     t LocalTime, g UtcTime (int64_t milliseconds since 1601)
     T LocalTime, G UtcTime (const MbSystemTime*)
     H an item of the caller's (MbItem), which the tree references; the caller keeps its own
     [ ... ] a List of the items between, { ... } a Map of key, value, key, value ...
   Commas, colons and white space are ignored anywhere. Containers nest up to 16 deep. Pass
   64-bit arguments as 64-bit values (cast a literal: (uint64_t)1, (int64_t)0).
   Returns a new tree with one reference for the caller, or NULL for a NULL or empty format, an
   unknown letter, unbalanced brackets, a key without value, a List or Map as a key, a second
   top-level item, an invalid handle or time, or a failed allocation; nothing half-built is
   left behind and no argument after the failing letter is read. */

/* Builds the tree the format describes: MbBuild("{s:i,s:[s,s]}", "id", 7, "tags", "a", "b"). */
MB_API MbItem MbBuild(const char* format, ...) MB_NOEXCEPT;
/* MbBuild with a va_list; args is copied, so the caller's list is left as it was. */
MB_API MbItem MbBuildV(const char* format, va_list args) MB_NOEXCEPT;

/* ==== The receiving side: sinks ===========================================================
   A sink is this process's one mailbox on the machine, found by its name. A process registers
   at most one sink at a time. Names are 1 to 31 bytes; the name is taken by this process
   until MbSinkClose or its end. Each message a sink handles is traced as one diagnostic line
   (see docs/guide.md). */

/* MbSinkOpenEx with options 0. */
MB_API MbSink   MbSinkOpen(const char* name, MbEvent event) MB_NOEXCEPT;
/* Registers this process's sink under name; with MbOptionSession the name becomes
   "name(<session number>)", which must still fit in 31 bytes. NULL or "" register "#<pid>".
   event (optional, from CreateEventA) is signalled after messages were handled for a service
   that has no event of its own (once for a group that came back to back), and after each link
   notice. The sink comes with the default service "_default". Returns the sink, closed with
   MbSinkClose, or NULL when the library is not started, this process has a sink already, the
   name is too long or another process has it. */
MB_API MbSink   MbSinkOpenEx(const char* name, MbEvent event, uint32_t options) MB_NOEXCEPT;
/* Withdraws the sink from the bus, waits for messages being handled to finish, and drops the
   caller's reference. Services still open stay the caller's to close. 1 when the handle was
   known. */
MB_API MbBool   MbSinkClose(MbSink sink) MB_NOEXCEPT;
/* MbSinkClose without waiting for messages being handled. */
MB_API MbBool   MbSinkCloseNoWait(MbSink sink) MB_NOEXCEPT;
/* The MbPeer flags of the peer sink of that name, 0 when none is known. */
MB_API uint32_t MbSinkGetPeerFlags(MbSink sink, const char* peer) MB_NOEXCEPT;
/* A new Map from each peer sink's name to its MbPeer flags (Int), for the caller to release;
   MbResultOk with *peers NULL when there is no peer. */
MB_API MbResult MbSinkGetPeers(MbSink sink, MbItem* peers) MB_NOEXCEPT;
/* Queues a test message on the source this sink opened to each peer; 1 when every peer has
   one and its test was queued. A peer without (MbPeerLocal clear), or whose test could not be
   queued, gets MbPeerFailed. */
MB_API MbBool   MbSinkTestPeers(MbSink sink) MB_NOEXCEPT;
/* MbSinkOpenSourceEx with options 0. */
MB_API MbSource MbSinkOpenSource(MbSink sink, const char* name) MB_NOEXCEPT;
/* As MbSourceOpenEx, for a source that announces this sink to the other side: the peer sink
   gets this sink's name (and pid) in an update of its default service's state,
   {"<this sink>": True}, and False when the source closes. Lets the other side link back;
   once both have, each side's MbSourceGetPid gives the other's pid. Closed with
   MbSourceClose. */
MB_API MbSource MbSinkOpenSourceEx(MbSink sink, const char* name, uint32_t options) MB_NOEXCEPT;
/* MbSinkConnectEx with options 0. */
MB_API MbBool   MbSinkConnect(MbSink sink, const char* name, MbSource* source) MB_NOEXCEPT;
/* Keeps a link variable alive; call it periodically with the same variable. With *source
   NULL it opens one (MbSinkOpenSourceEx; may give NULL). With a source held it queues a test
   when the peer has announced itself (MbPeerRemote), and otherwise, or when the test is not
   queued, closes the source and sets *source to NULL (the next call opens it again). 1, or 0
   for a NULL argument or an unknown sink. */
MB_API MbBool   MbSinkConnectEx(MbSink sink, const char* name, uint32_t options, MbSource* source) MB_NOEXCEPT;

/* ==== The receiving side: services ========================================================
   A sink service queues the calls, queries and replies sent to its name (at most 65,536
   messages or 16 MiB of stored form; while full, the sink takes nothing more from its senders,
   who keep their messages, until takes bring it down to seven eighths) and keeps a state map
   that advises replace and updates merge into. Raw Send and Request messages are not queued:
   their payload reaches the trace only. A message for a service name the sink does not have
   is dropped without a trace. */

/* Opens the service name (not NULL or ""; names compare without case) on the sink, replacing
   a service of that name. event (optional) is signalled after messages were handled for it
   (once for a group that came back to back), instead of the sink's. Returns a handle closed
   with MbSinkServiceClose, or NULL. */
MB_API MbSinkService MbSinkServiceOpen(MbSink sink, const char* name, MbEvent event) MB_NOEXCEPT;
/* Takes the service off its sink (unless a newer service of its name replaced it) and drops
   the caller's reference; queued messages are dropped with it. */
MB_API void          MbSinkServiceClose(MbSinkService service) MB_NOEXCEPT;
/* The oldest queued message with a reference for the caller, left in the queue. Returns
   MbReceivedCall, MbReceivedQuery or MbReceivedReply, MbNothingReceived with *message NULL,
   or MbResultInvalid. */
MB_API MbResult      MbSinkServicePeek(MbSinkService service, MbItem* message) MB_NOEXCEPT;
/* As MbSinkServicePeek, and removes the message from the queue: the caller releases it.
   The message is
   - a call: the bare procedure item when sent without argument, else the Map
     {"arg": argument, "proc": procedure};
   - a query: the Map {"arg", "cookie", "proc", "service", "source"}: "source" names the sink
     and "service" the service to reply to ("arg", "cookie" and "service" only when given);
   - a reply: the bare cookie when sent with neither procedure nor result, else the Map
     {"cookie", "proc", "result"} ("proc" and "result" only when given). */
MB_API MbResult      MbSinkServiceTake(MbSinkService service, MbItem* message) MB_NOEXCEPT;
/* Queues item (with a reference of the queue's) as if a call carrying it had arrived, traces
   it and signals the event. MbResultOk; MbResultFailed for a NULL item, a Map without "proc"
   or a full queue; MbResultInvalid for an unknown service. */
MB_API MbResult      MbSinkServicePostCall(MbSinkService service, MbItem item) MB_NOEXCEPT;
/* The service's state map with a reference for the caller (MbHandleRelease): the Map the last
   advise gave, with the entries of later updates set into it. An empty Map at first. The
   default service's state holds the link notices, {"<peer sink>": True or False}. */
MB_API MbResult      MbSinkServiceGetState(MbSinkService service, MbItem* state) MB_NOEXCEPT;

/* ==== The sending side: sources ===========================================================
   A source is one link to a sink by name. Opening checks nothing on the other side: a sink
   that is not there (or ends) makes each message sent to it lost, traced as an error
   "** RPC Exception 0x000006BA: in CSource::Request()." with the system text. Messages from
   one process to one sink arrive in sending order, across all its sources. */

/* MbSourceOpenEx with options 0. */
MB_API MbSource MbSourceOpen(const char* name) MB_NOEXCEPT;
/* A source bound to the sink name (with MbOptionSession, "name(<own session number>)").
   Returns a handle closed with MbSourceClose, or NULL for a NULL or empty name. */
MB_API MbSource MbSourceOpenEx(const char* name, uint32_t options) MB_NOEXCEPT;
/* Closes the source and drops the caller's reference; messages already accepted still go out
   first. 1 when the handle was known. */
MB_API MbBool   MbSourceClose(MbSource source) MB_NOEXCEPT;
/* Queues a test message to the sink, which traces "<sink>: was tested.". 1 when queued; a
   missing sink shows as a lost message in the trace, not here. */
MB_API MbBool   MbSourceTest(MbSource source) MB_NOEXCEPT;
/* The pid of the process behind the sink, for a source opened with MbSinkOpenSource once that
   sink has announced a source of its own to this one (MbSinkOpenSource on its side); 0 until
   then, and always for a source from MbSourceOpen. */
MB_API uint32_t MbSourceGetPid(MbSource source) MB_NOEXCEPT;

/* ==== The sending side: service proxies and sending =======================================
   Every sending function only queues the message and returns at once, 1 when it was accepted
   and 0 when it was refused (invalid arguments, an item whose stored form exceeds 65,535
   bytes, or a full send window: 65,536 messages or 32 MiB accepted and not yet written, until
   it drained to seven eighths, traced once as "sending refused while the backlog is full").
   An accepted message reaches the live target's queue; nothing is acknowledged. Item payloads
   go as their stored form; the caller's items keep their references. flags reach the receiver
   unchanged (leave MbControlMask clear). */

/* A proxy for the service name on the source's sink (NULL or "" name the default service).
   Returns a handle closed with MbServiceClose, or NULL when the source is unknown or closed. */
MB_API MbService MbServiceOpen(MbSource source, const char* name) MB_NOEXCEPT;
/* Drops the caller's reference to the proxy. 1 when the handle was known. */
MB_API MbBool    MbServiceClose(MbService service) MB_NOEXCEPT;
/* Queues a test message for the service's name (traced by the sink as a test). 1 when queued. */
MB_API MbBool    MbServiceTest(MbService service) MB_NOEXCEPT;
/* Queues length bytes as a message of the given MbKind, as they are. Payloads of kind Send or
   Request are only traced by the receiver ("received N bytes (TEXT)", the bytes shown as
   text); the item kinds must carry a stored form (MbItemToBytes). */
MB_API MbBool    MbServicePost(MbService service, uint32_t flags, uint16_t kind, const void* data, uint16_t length) MB_NOEXCEPT;
/* MbServicePost with MbKindSend. */
MB_API MbBool    MbServiceSend(MbService service, uint32_t flags, const void* data, uint16_t length) MB_NOEXCEPT;
/* Sends a Map that replaces the service's state map. A non-Map is discarded by the receiver
   (traced "*discarded*"). 0 for a NULL item. */
MB_API MbBool    MbServiceAdvise(MbService service, uint32_t flags, MbItem item) MB_NOEXCEPT;
/* Sends a Map whose entries are set into the service's state map (replacing equal keys). A
   non-Map is discarded by the receiver. 0 for a NULL item. */
MB_API MbBool    MbServiceUpdate(MbService service, uint32_t flags, MbItem item) MB_NOEXCEPT;
/* Sends a call. procedure must be a String, Int, Unsigned or Blob atom, else 0. Without
   argument (NULL) the procedure itself is the message; with one, the receiver gets
   {"arg": argument, "proc": procedure} (see MbSinkServiceTake). */
MB_API MbBool    MbServiceCall(MbService service, uint32_t flags, MbItem procedure, MbItem argument) MB_NOEXCEPT;
/* Sends a query whose answer goes to replyService, a service of this process's own sink
   (required). procedure as for MbServiceCall; argument and cookie are optional. The receiver
   gets {"arg", "cookie", "proc", "service", "source"} and answers with MbServiceReply through
   a source to "source" and a proxy for "service", passing the cookie back. */
MB_API MbBool    MbServiceQuery(MbService service, uint32_t flags, MbItem procedure, MbItem argument,
                                MbSinkService replyService, MbItem cookie) MB_NOEXCEPT;
/* MbServiceQuery with a Cookie made from its low and high halves. */
MB_API MbBool    MbServiceQueryCookie(MbService service, uint32_t flags, MbItem procedure, MbItem argument,
                                      MbSinkService replyService, uint32_t cookieLow, uint32_t cookieHigh) MB_NOEXCEPT;
/* Sends a reply: the cookie (required) with the procedure and result, both optional. With
   neither, the cookie itself is the message; else {"cookie", "proc", "result"}. */
MB_API MbBool    MbServiceReply(MbService service, uint32_t flags, MbItem procedure, MbItem cookie,
                                MbItem result) MB_NOEXCEPT;

/* ==== Listing the sinks of the machine ==================================================== */

/* A new List (the caller releases it) of the registered sinks that mask selects. Fields (the
   low bits; none chosen means all): "FullName" (the name with its session suffix), "bLocal"
   (Bool: the name has a suffix), "Name" (without suffix), "PID", "SessionID" (Unsigned); each
   entry is a Map of them, or a String when only FullName or only Name is chosen. Sinks (the
   high bits; none chosen means NoSession | OwnSession): without suffix, of the own session, of
   other sessions, and this process's own (MbSinkListSelf). MbResultOk, MbNothingReceived with
   *list NULL when none is selected, MbResultFailed when the listing cannot be read. */
MB_API MbResult MbSinkListEx(uint32_t mask, MbItem* list) MB_NOEXCEPT;
/* MbSinkListEx with every field, for the sinks without suffix and of the own session except
   this process's own. */
MB_API MbResult MbSinkList(MbItem* list) MB_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* MBUS_MBUS_H */
