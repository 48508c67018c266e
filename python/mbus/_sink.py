"""The receiving side: a Sink (this process's one named endpoint on the bus), its services
(mailboxes with a message queue and a state map) and the messages taken from them."""
import asyncio
import ctypes
import functools
import os
import threading
import time
import weakref

from . import _source
from ._items import Item, held, read_item
from ._lib import (NOTHING_RECEIVED, OPTION_SESSION, RECEIVED_CALL, RECEIVED_QUERY,
                   RECEIVED_REPLY, RESULT_OK, WAIT_TIMEOUT, lib)
from ._runtime import Holder, MbusError, logger
from ._values import Cookie

CALL, QUERY, REPLY = "call", "query", "reply"
_KINDS = {RECEIVED_CALL: CALL, RECEIVED_QUERY: QUERY, RECEIVED_REPLY: REPLY}
# Long waits go in slices, so that a KeyboardInterrupt is seen between them.
_SLICE = 0.2
_DEFAULT = "_default"

_process_sink = None  # weak reference to the open Sink of this process


def name_bytes(name, what):
    """A sink or service name as the library takes it: text without NUL bytes."""
    if not isinstance(name, str):
        raise TypeError(f"a {what} name is a str, not {type(name).__name__}")
    data = name.encode("utf-8")
    if b"\0" in data:
        raise ValueError(f"a {what} name holds no NUL character")
    return data


def new_event():
    """A new auto-reset event, not signalled."""
    event = lib.CreateEventA(None, 0, 0, None)
    if not event:
        raise MbusError("CreateEventA", "null")
    return event


def _close_service(event, handle):
    lib.MbSinkServiceClose(handle)
    lib.CloseHandle(event)


def wait_event(event, timeout):
    """Waits until the event is signalled (True) or timeout seconds passed (False; None waits
    for ever)."""
    deadline = None if timeout is None else time.monotonic() + timeout
    while True:
        left = _SLICE if deadline is None else min(_SLICE, deadline - time.monotonic())
        milliseconds = max(0, int(left * 1000))
        if lib.WaitForSingleObject(event, milliseconds) != WAIT_TIMEOUT:
            return True
        if deadline is not None and time.monotonic() >= deadline:
            return False


class Message:
    """A call, query or reply taken from a service. `value` is the whole item; the other
    fields are its parts (None where the message has no such part): a call's procedure and
    argument; a query's procedure, argument, cookie, source (the querying sink) and service
    (where the reply goes); a reply's cookie, procedure and result."""

    __slots__ = ("kind", "value", "procedure", "argument", "cookie", "source", "service", "result")

    def __init__(self, kind, value):
        self.kind = kind
        self.value = value
        envelope = value if isinstance(value, dict) else {}
        self.procedure = envelope.get("proc")
        self.argument = envelope.get("arg")
        self.cookie = envelope.get("cookie")
        self.source = envelope.get("source")
        self.service = envelope.get("service")
        self.result = envelope.get("result")
        if not isinstance(value, dict):
            if kind == REPLY:
                self.cookie = value
            else:
                self.procedure = value

    def reply(self, result=None):
        """Answers a query: sends a reply with its cookie, procedure and the result to the
        service the query names in the querying sink."""
        if self.kind != QUERY or not isinstance(self.source, str):
            raise ValueError("only a query names where to reply")
        if self.cookie is None:
            raise ValueError("the query carries no cookie to answer with")
        with _source.Source(self.source) as source:
            source.service(self.service or "").reply(self.cookie, result, procedure=self.procedure)

    def __repr__(self):
        return f"Message({self.kind!r}, {self.value!r})"


class Sink(Holder):
    """This process's endpoint on the bus, under a name of 1 to 31 bytes (None: "#" and the
    process id). With session=True the name carries the login session's number. A process has
    at most one open sink."""

    def __init__(self, name=None, *, session=False):
        global _process_sink
        encoded = None if name is None else name_bytes(name, "sink")

        def open_sink():
            handle = lib.MbSinkOpenEx(encoded, None, OPTION_SESSION if session else 0)
            if not handle:
                raise MbusError("MbSinkOpenEx", "null",
                                f"cannot open the sink {name!r}: another process holds the name, "
                                "this process has a sink open, or the name is not 1 to 31 bytes")
            return handle

        super().__init__(open_sink, lib.MbSinkClose)
        self.name = f"#{os.getpid()}" if name is None else name
        _process_sink = weakref.ref(self)
        # Opening a service replaces the one of that name, with what is queued in it: the
        # default service is replaced now, before anything can arrive for it. Every service
        # signals an event of its own, so the sink needs none.
        self.service()

    def service(self, name=_DEFAULT):
        """The service of that name (case-insensitive; "" is the default service), opened
        with an event of its own on first use. Messages for a service that is not open yet
        are not kept."""
        name = name or _DEFAULT
        key = ("service", name.lower())
        return self._child(key, lambda: SinkService(self, name, key))

    def source(self, name, *, session=False):
        """A link to another sink that announces this sink to it (it sees this one as a
        peer); closed with this sink."""
        return _source.Source(name, session=session, sink=self)

    @property
    def peers(self):
        """{peer sink name: flags} (1 failed test, 2 linked from here, 4 announced itself)."""
        peers = ctypes.c_void_p()
        code = lib.MbSinkGetPeers(self._live(), ctypes.byref(peers))
        if code != RESULT_OK:
            raise MbusError("MbSinkGetPeers", code)
        if not peers.value:
            return {}
        with Item(peers.value, "MbSinkGetPeers") as item:
            return read_item(item)

    def fileno(self):
        """The default service's descriptor: readable while a message for it waits, or an
        update of its state, which maps each sink that linked to this one to True, and to
        False once it unlinked."""
        return self.service().fileno()

    def replies(self):
        """The service that receives the replies to this process's queries."""
        return self.service("_replies")

    def __repr__(self):
        return f"<mbus.Sink {self.name!r}{' closed' if self.closed else ''}>"


def process_sink():
    """The open Sink of this process, or None."""
    sink = _process_sink() if _process_sink is not None else None
    return None if sink is None or sink.closed else sink


class SinkService(Holder):
    """A named mailbox of a sink: calls, queries and replies queue up in it, advises and
    updates change its state map."""

    def __init__(self, sink, name, key):
        encoded = name_bytes(name, "service")
        event = new_event()

        def open_service():
            handle = lib.MbSinkServiceOpen(sink._live(), encoded, event)
            if not handle:
                raise MbusError("MbSinkServiceOpen", "null")
            return handle

        try:
            super().__init__(open_service, functools.partial(_close_service, event),
                             parent=sink, key=key)
        except BaseException:
            lib.CloseHandle(event)
            raise
        self.name = name
        self._event = event
        self._replies = None
        self._replies_lock = threading.Lock()

    def take(self):
        """The oldest queued message, removed from the queue, or None. A message whose item has
        no Python value (damaged on the way) is removed all the same and raises ValueError."""
        out = ctypes.c_void_p()
        code = lib.MbSinkServiceTake(self._live(), ctypes.byref(out))
        if code == NOTHING_RECEIVED:
            return None
        if code not in _KINDS:
            if out.value:
                lib.MbHandleRelease(out.value)
            raise MbusError("MbSinkServiceTake", code, "a malformed queue entry was dropped")
        with Item(out.value, "MbSinkServiceTake") as item:
            return Message(_KINDS[code], read_item(item))

    def wait(self, timeout=None):
        """Waits until a message may have arrived (True) or timeout seconds passed (False)."""
        self._live()
        return wait_event(self._event, timeout)

    def receive(self, timeout=None):
        """The next message, waiting up to timeout seconds (None: for ever); None when none
        came."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while (message := self.take()) is None:
            left = None if deadline is None else deadline - time.monotonic()
            if left is not None and left <= 0:
                return None
            self.wait(left)
        return message

    def messages(self, timeout=None):
        """Iterates over the messages as they come; ends when none came for timeout seconds."""
        while (message := self.receive(timeout)) is not None:
            yield message

    def drain(self):
        """Every queued message, taken after clearing the signal of fileno(): what a loop that
        watches the descriptor calls when it polls readable."""
        self._live()
        lib.ResetEvent(self._event)
        messages = []
        while (message := self.take()) is not None:
            messages.append(message)
        return messages

    async def areceive(self, timeout=None):
        """As receive, awaiting the service's descriptor in the running event loop."""
        loop = asyncio.get_running_loop()
        descriptor = self.fileno()
        deadline = None if timeout is None else loop.time() + timeout
        while True:
            # Reset before looking: a message queued after the look signals the event again.
            lib.ResetEvent(self._event)
            message = self.take()
            if message is not None:
                return message
            ready = loop.create_future()
            loop.add_reader(descriptor, lambda: ready.done() or ready.set_result(None))
            try:
                await asyncio.wait_for(ready, None if deadline is None else max(0.0, deadline - loop.time()))
            except asyncio.TimeoutError:
                return self.take()
            finally:
                loop.remove_reader(descriptor)

    async def amessages(self, timeout=None):
        """As messages, for `async for`."""
        while (message := await self.areceive(timeout)) is not None:
            yield message

    def post_call(self, procedure, argument=None):
        """Queues a call in this service as if it had come over the bus."""
        value = procedure if argument is None else {"proc": procedure, "arg": argument}
        with held(value) as item:
            code = lib.MbSinkServicePostCall(self._live(), item)
        if code != RESULT_OK:
            raise MbusError("MbSinkServicePostCall", code)

    @property
    def state(self):
        """The state map as a dict: what advises set and updates merged. Read whole in one
        call, while the map is locked; MbusError once updates made it larger than a stored
        tree holds (65,535 bytes)."""
        out = ctypes.c_void_p()
        code = lib.MbSinkServiceGetState(self._live(), ctypes.byref(out))
        if code != RESULT_OK:
            raise MbusError("MbSinkServiceGetState", code)
        with Item(out.value, "MbSinkServiceGetState") as item:
            return read_item(item)

    def fileno(self):
        """A descriptor that polls readable while the service's event is signalled: after a
        message arrived, until wait, drain or areceive takes the signal."""
        self._live()
        return lib.EventGetFd(self._event)

    def reply_waiter(self):
        """The ReplyWaiter of this service, made on first use."""
        with self._replies_lock:
            if self._replies is None:
                self._replies = ReplyWaiter(self)
            return self._replies

    def __repr__(self):
        return f"<mbus.SinkService {self.name!r}{' closed' if self.closed else ''}>"


class ReplyWaiter:
    """Hands each reply arriving at one service to the query that waits for its cookie, for
    queries from any number of threads. Other messages on the service are logged and dropped."""

    # A waiter whose reply another thread took finds it within this time.
    _POLL = 0.05

    def __init__(self, service):
        self._service = service
        self._lock = threading.Lock()
        self._expected = set()
        self._arrived = {}

    def expect(self, cookie):
        with self._lock:
            self._expected.add(cookie)

    def forget(self, cookie):
        with self._lock:
            self._expected.discard(cookie)
            self._arrived.pop(cookie, None)

    def wait(self, cookie, timeout):
        """The reply for an expected cookie; TimeoutError after timeout seconds."""
        deadline = time.monotonic() + timeout
        try:
            while True:
                self._collect()
                with self._lock:
                    if cookie in self._arrived:
                        return self._arrived.pop(cookie)
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError(f"no reply within {timeout} s")
                self._service.wait(min(left, self._POLL))
        finally:
            self.forget(cookie)

    def _collect(self):
        while (message := self._service.take()) is not None:
            with self._lock:
                if message.kind == REPLY and isinstance(message.cookie, Cookie) and message.cookie in self._expected:
                    self._arrived[message.cookie] = message
                    continue
            logger.warning("dropped a message no query waits for: %r", message)
