"""mbus for Python: typed items and the local message bus of libmbus.so, through ctypes.

Values map both ways: None, bool, int (an Int, or an Unsigned above the Int range), Unsigned,
Cookie, float, str, bytes (a Blob), datetime (naive: LocalTime; aware: UtcTime), list and dict.
"""
from ._items import dumps, loads, text
from ._listing import SinkInfo, sinks
from ._runtime import Library, MbusError, trace_to_logging
from ._sink import CALL, QUERY, REPLY, Message, Sink, SinkService
from ._source import Service, Source
from ._values import Cookie, Unsigned

__all__ = [
    "CALL", "QUERY", "REPLY", "Cookie", "Library", "MbusError", "Message", "Service", "Sink",
    "SinkInfo", "SinkService", "Source", "Unsigned", "dumps", "loads", "sinks", "text", "trace_to_logging",
]
