"""The sinks registered on this machine."""
import collections
import ctypes

from ._items import Item, read_item
from ._lib import (NOTHING_RECEIVED, RESULT_OK, SINK_LIST_ALL_FIELDS, SINK_LIST_NO_SESSION,
                   SINK_LIST_OTHER_SESSION, SINK_LIST_OWN_SESSION, SINK_LIST_SELF, lib)
from ._runtime import MbusError, ensure

SinkInfo = collections.namedtuple("SinkInfo", "name full_name pid session local")
SinkInfo.__doc__ = """One registered sink: its name, its full name (with "(session)" when it was
opened with session=True), its process id, its session number and whether it has a session."""


def sinks(*, include_self=False, other_sessions=False):
    """The sinks of other processes in this session and without a session, as SinkInfo; with
    include_self this process's sink too, with other_sessions those of other sessions too."""
    ensure()
    mask = SINK_LIST_ALL_FIELDS | SINK_LIST_NO_SESSION | SINK_LIST_OWN_SESSION
    mask |= (SINK_LIST_SELF if include_self else 0) | (SINK_LIST_OTHER_SESSION if other_sessions else 0)
    listing = ctypes.c_void_p()
    code = lib.MbSinkListEx(mask, ctypes.byref(listing))
    if code == NOTHING_RECEIVED:
        return []
    if code != RESULT_OK:
        raise MbusError("MbSinkListEx", code)
    with Item(listing.value, "MbSinkListEx") as item:
        entries = read_item(item)
    return [SinkInfo(e["Name"], e["FullName"], int(e["PID"]), int(e["SessionID"]), e["bLocal"]) for e in entries]
