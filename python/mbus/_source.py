"""The sending side: a Source (a link to another process's sink, by name) and the Service
proxies opened on it, through which calls, queries, replies, advises, updates and raw bytes go.
Sending is asynchronous: a sending method returns once the library queued the message, and
raises MbusError when it did not."""
import contextlib
import itertools

from . import _sink
from ._items import held
from ._lib import OPTION_SESSION, lib
from ._runtime import Holder, MbusError
from ._values import Cookie

# Cookies of this process's queries: each reply is matched to its query by it.
_cookies = itertools.count(1)


def _optional(stack, value):
    """The handle of an item holding value, released with the stack; None for None."""
    return None if value is None else stack.enter_context(held(value))


def _procedure(value):
    """A procedure is a str, bytes or int (not a bool): the library sends no other type."""
    if isinstance(value, bool) or not isinstance(value, (str, bytes, bytearray, int)):
        raise TypeError(f"a procedure is a str, bytes or int, not {type(value).__name__}")
    return value


class Source(Holder):
    """A link to the sink of that name (with session=True, of that name in this login
    session). Opening succeeds whether or not the sink is there: what is sent to a missing sink
    is lost, and the library traces the loss. With a sink, the link also announces that sink."""

    def __init__(self, name, *, session=False, sink=None):
        encoded = _sink.name_bytes(name, "sink")
        options = OPTION_SESSION if session else 0

        def open_source():
            if sink is None:
                handle, function = lib.MbSourceOpenEx(encoded, options), "MbSourceOpenEx"
            else:
                handle, function = lib.MbSinkOpenSourceEx(sink._live(), encoded, options), "MbSinkOpenSourceEx"
            if not handle:
                raise MbusError(function, "null", f"cannot link to {name!r}")
            return handle

        super().__init__(open_source, lib.MbSourceClose, parent=sink)
        self.name = name

    def service(self, name=""):
        """The proxy of the named service of the linked sink ("" is its default service)."""
        key = ("service", name.lower())
        return self._child(key, lambda: Service(self, name, key))

    @property
    def pid(self):
        """The process id of the linked sink as it announced itself to this process's sink; 0
        until it did."""
        return lib.MbSourceGetPid(self._live())

    def __repr__(self):
        return f"<mbus.Source {self.name!r}{' closed' if self.closed else ''}>"


class Service(Holder):
    """The sending proxy of one service of a linked sink."""

    def __init__(self, source, name, key):
        encoded = _sink.name_bytes(name, "service")

        def open_service():
            handle = lib.MbServiceOpen(source._live(), encoded)
            if not handle:
                raise MbusError("MbServiceOpen", "null")
            return handle

        super().__init__(open_service, lib.MbServiceClose, parent=source, key=key)
        self.name = name

    def _sent(self, function, queued):
        if not queued:
            raise MbusError(function, 0, "the message was not queued")

    def send(self, data, flags=0):
        """Sends raw bytes (at most 65,535), which the receiver only traces."""
        data = bytes(data)
        if len(data) > 0xFFFF:
            raise ValueError(f"a message holds at most 65,535 bytes, not {len(data)}")
        self._sent("MbServiceSend", lib.MbServiceSend(self._live(), flags, data, len(data)))

    def call(self, procedure, argument=None, flags=0):
        """Sends a call: the procedure (str, bytes or int) and an optional argument."""
        with contextlib.ExitStack() as stack:
            items = _optional(stack, _procedure(procedure)), _optional(stack, argument)
            self._sent("MbServiceCall", lib.MbServiceCall(self._live(), flags, *items))

    def query(self, procedure, argument=None, *, timeout=5.0, reply_to=None, flags=0):
        """Sends a query and returns the result of its reply; TimeoutError when none came
        within timeout seconds. The reply goes to reply_to (a SinkService), by default to the
        replies service of this process's open Sink."""
        if reply_to is None:
            sink = _sink.process_sink()
            if sink is None:
                raise RuntimeError("a query needs an open Sink in this process to receive its reply")
            reply_to = sink.replies()
        waiter = reply_to.reply_waiter()
        cookie = Cookie(next(_cookies))
        waiter.expect(cookie)
        try:
            with contextlib.ExitStack() as stack:
                items = _optional(stack, _procedure(procedure)), _optional(stack, argument)
                queued = lib.MbServiceQueryCookie(self._live(), flags, *items, reply_to._live(), cookie.low, cookie.high)
            self._sent("MbServiceQueryCookie", queued)
        except BaseException:
            waiter.forget(cookie)
            raise
        return waiter.wait(cookie, timeout).result

    def reply(self, cookie, result=None, *, procedure=None, flags=0):
        """Sends a reply that carries the query's cookie, and the result and procedure."""
        if cookie is None:
            raise ValueError("a reply carries the cookie of its query")
        with contextlib.ExitStack() as stack:
            items = _optional(stack, procedure), _optional(stack, cookie), _optional(stack, result)
            self._sent("MbServiceReply", lib.MbServiceReply(self._live(), flags, *items))

    def advise(self, state, flags=0):
        """Replaces the service's state map by a dict."""
        self._send_state("MbServiceAdvise", lib.MbServiceAdvise, state, flags)

    def update(self, state, flags=0):
        """Merges a dict into the service's state map."""
        self._send_state("MbServiceUpdate", lib.MbServiceUpdate, state, flags)

    def _send_state(self, name, function, state, flags):
        if not isinstance(state, dict):
            raise TypeError(f"a state is a dict, not {type(state).__name__}")
        with held(state) as item:
            self._sent(name, function(self._live(), flags, item))

    def test(self):
        """Sends a test message, which the receiving sink only traces."""
        self._sent("MbServiceTest", lib.MbServiceTest(self._live()))

    def __repr__(self):
        return f"<mbus.Service {self.name!r}{' closed' if self.closed else ''}>"
