"""Loads libmbus.so and declares the C functions and constants the package uses.

The library is looked for, in this order: the path in the MBUS_LIBRARY environment variable
(and nothing else when it is set), the path recorded when the package was installed or staged
in a build tree (_paths.py), then the system's dynamic loader.
"""
import ctypes
import ctypes.util
import os

RESULT_OK = 0
RECEIVED_CALL, RECEIVED_QUERY, RECEIVED_REPLY, NOTHING_RECEIVED = 6, 7, 8, 9
TRACE_WARNING, TRACE_ERROR = 1, 2
OPTION_SESSION = 1
SINK_LIST_ALL_FIELDS = 0x1F
SINK_LIST_NO_SESSION, SINK_LIST_OWN_SESSION = 0x100, 0x200
SINK_LIST_OTHER_SESSION, SINK_LIST_SELF = 0x400, 0x800
WAIT_TIMEOUT = 258
VERSION = 82

TraceCallback = ctypes.CFUNCTYPE(None, ctypes.c_char_p, ctypes.c_uint32)

_H = ctypes.c_void_p
_P = ctypes.POINTER
_u16, _u32, _i32 = ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32
_text = ctypes.c_char_p

# name: (result type, argument types)
_PROTOTYPES = {
    "MbHandleRelease": (_u32, [_H]),
    "MbTracerSet": (None, [TraceCallback]),
    "MbLibraryInit": (_i32, []),
    "MbLibraryTerm": (None, []),
    "MbVersionGet": (_u32, []),
    "MbAtomNewBlob": (_H, [ctypes.c_char_p, _u32]),
    "MbAtomGetBlob": (_u32, [_H, _P(ctypes.c_void_p), _P(_u16)]),
    "MbItemToBytes": (_H, [_H]),
    "MbItemFromBytes": (_H, [_H]),
    "MbItemToText": (_H, [_H, _u32]),
    "MbSinkOpenEx": (_H, [_text, _H, _u32]),
    "MbSinkClose": (_i32, [_H]),
    "MbSinkGetPeers": (_u32, [_H, _P(_H)]),
    "MbSinkOpenSourceEx": (_H, [_H, _text, _u32]),
    "MbSinkServiceOpen": (_H, [_H, _text, _H]),
    "MbSinkServiceClose": (None, [_H]),
    "MbSinkServiceTake": (_u32, [_H, _P(_H)]),
    "MbSinkServicePostCall": (_u32, [_H, _H]),
    "MbSinkServiceGetState": (_u32, [_H, _P(_H)]),
    "MbSourceOpenEx": (_H, [_text, _u32]),
    "MbSourceClose": (_i32, [_H]),
    "MbSourceGetPid": (_u32, [_H]),
    "MbServiceOpen": (_H, [_H, _text]),
    "MbServiceClose": (_i32, [_H]),
    "MbServiceTest": (_i32, [_H]),
    "MbServiceSend": (_i32, [_H, _u32, ctypes.c_char_p, _u16]),
    "MbServiceAdvise": (_i32, [_H, _u32, _H]),
    "MbServiceUpdate": (_i32, [_H, _u32, _H]),
    "MbServiceCall": (_i32, [_H, _u32, _H, _H]),
    "MbServiceQueryCookie": (_i32, [_H, _u32, _H, _H, _H, _u32, _u32]),
    "MbServiceReply": (_i32, [_H, _u32, _H, _H, _H]),
    "MbSinkListEx": (_u32, [_u32, _P(_H)]),
    "CreateEventA": (_H, [_H, ctypes.c_int, ctypes.c_int, _text]),
    "ResetEvent": (ctypes.c_int, [_H]),
    "WaitForSingleObject": (_u32, [_H, _u32]),
    "CloseHandle": (ctypes.c_int, [_H]),
    "EventGetFd": (ctypes.c_int, [_H]),
}


def _candidates():
    explicit = os.environ.get("MBUS_LIBRARY")
    if explicit:
        yield explicit
        return
    try:
        from . import _paths
    except ImportError:
        pass
    else:
        yield _paths.LIBRARY
    found = ctypes.util.find_library("mbus")
    if found:
        yield found
    yield "libmbus.so.1"


def _load():
    failures = []
    for candidate in _candidates():
        try:
            lib = ctypes.CDLL(candidate)
        except OSError as error:
            failures.append(f"{candidate}: {error}")
            continue
        for name, (result, arguments) in _PROTOTYPES.items():
            function = getattr(lib, name)
            function.restype = result
            function.argtypes = arguments
        version = lib.MbVersionGet()
        if version != VERSION:
            raise ImportError(f"{candidate} is libmbus version {version}; this package needs {VERSION}")
        return lib
    raise ImportError("libmbus.so not found (set MBUS_LIBRARY to its path): " + "; ".join(failures))


lib = _load()
