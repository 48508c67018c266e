"""The bus inside one process: every kind of message through the transport and back, queries
and their time-out, the listing, event-loop waiting, the trace hook, handle release and bad
use of handles."""
import asyncio
import concurrent.futures
import gc
import logging
import os
import select
import threading
import time

import pytest

import mbus
from conftest import eventually, unique_name
from mbus import _runtime


@pytest.fixture
def control(sink):
    """(the sink's "control" service, the proxy that sends to it)."""
    service = sink.service("control")
    with mbus.Source(sink.name) as source:
        yield service, source.service("Control")


@pytest.mark.parametrize("send, kind, fields", [
    (lambda p: p.call("setpoint", 21.5), mbus.CALL, {"procedure": "setpoint", "argument": 21.5}),
    (lambda p: p.call(7), mbus.CALL, {"procedure": 7, "argument": None, "value": 7}),
    (lambda p: p.call(b"raw", [1, {"k": None}]), mbus.CALL, {"procedure": b"raw", "argument": [1, {"k": None}]}),
    (lambda p: p.reply(mbus.Cookie(5)), mbus.REPLY, {"cookie": mbus.Cookie(5), "result": None}),
    (lambda p: p.reply("c", {"t": 1}, procedure="temp"), mbus.REPLY,
     {"cookie": "c", "procedure": "temp", "result": {"t": 1}}),
])
def test_messages_arrive_whole(control, send, kind, fields):
    service, proxy = control
    send(proxy)
    message = service.receive(5)
    assert message.kind == kind
    assert {name: getattr(message, name) for name in fields} == fields
    assert service.take() is None


def test_query_reply_and_timeout(sink, control):
    service, proxy = control
    thread = threading.Thread(target=lambda: service.receive(5).reply({"celsius": 21.5, "unit": "C"}))
    thread.start()
    assert proxy.query("temperature", {"scale": "C"}, timeout=5) == {"celsius": 21.5, "unit": "C"}
    thread.join()
    started = time.monotonic()
    with pytest.raises(TimeoutError):
        proxy.query("nobody answers", timeout=0.3)
    assert 0.3 <= time.monotonic() - started < 3
    unanswered = service.take()
    assert (unanswered.kind, unanswered.source, unanswered.service) == (mbus.QUERY, sink.name, "_replies")


def test_queries_from_threads_get_their_own_replies(control):
    service, proxy = control
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        replies = [pool.submit(proxy.query, "double", number, timeout=10) for number in range(8)]
        for _ in replies:
            query = service.receive(10)
            query.reply(query.argument * 2)
        assert [reply.result() for reply in replies] == [number * 2 for number in range(8)]


def test_state_advise_replaces_update_merges(control):
    service, proxy = control
    proxy.advise({"mode": "heat", "setpoint": 21.5})
    proxy.advise({"mode": "cool"})
    proxy.update({"fan": True, "zone": 2})
    proxy.update({"zone": mbus.Unsigned(3)})
    proxy.call("sync")  # queued after the state messages: its arrival means they were handled
    assert service.receive(5).procedure == "sync"
    assert service.state == {"fan": True, "mode": "cool", "zone": mbus.Unsigned(3)}
    for part in range(3):  # merged into more than a stored tree holds
        proxy.update({f"{part}-{i}": "x" * 20 for i in range(1000)})
    proxy.call("sync")
    assert service.receive(5).procedure == "sync"
    with pytest.raises(mbus.MbusError, match=r"MbItemToBytes failed \(result null\)"):
        service.state


def test_listing_and_peers(sink):
    own = [info for info in mbus.sinks(include_self=True) if info.name == sink.name]
    assert own == [mbus.SinkInfo(sink.name, sink.name, os.getpid(), 0, False)]
    assert sink.name not in [info.name for info in mbus.sinks()]
    other = unique_name("peer")
    sink.source(other)
    assert sink.peers == {other: 2}  # linked from here, not announced by the other side
    itself = sink.source(sink.name)  # announces this sink to itself
    assert eventually(lambda: itself.pid == os.getpid())
    assert sink.peers == {other: 2, sink.name: 6} and sink.service().state == {sink.name: True}


def test_session_and_unnamed_sinks(library):
    name = unique_name()
    with mbus.Sink(name, session=True) as sink, mbus.Source(name, session=True) as source:
        (info,) = [info for info in mbus.sinks(include_self=True) if info.name == name]
        assert info.full_name == f"{name}({info.session})" and info.local
        source.service().call("to the session's sink")
        assert sink.service().receive(5).procedure == "to the session's sink"
    with mbus.Sink() as unnamed:
        assert unnamed.name == f"#{os.getpid()}" in [info.name for info in mbus.sinks(include_self=True)]


def test_event_loop_awaits_messages_without_a_thread(control):
    service, proxy = control

    async def scenario():
        assert await service.areceive(timeout=0.1) is None
        loop = asyncio.get_running_loop()
        loop.call_later(0.05, proxy.call, "late", 1)
        first = await service.areceive(timeout=5)
        service.post_call("local")
        return first, [message.procedure async for message in service.amessages(timeout=0.2)]

    first, rest = asyncio.run(scenario())
    assert (first.procedure, first.argument, rest) == ("late", 1, ["local"])


def test_descriptor_polls_readable_while_messages_wait(control):
    service, proxy = control
    descriptor = service.fileno()
    assert select.select([descriptor], [], [], 0)[0] == []
    proxy.call("a")
    proxy.call("b")
    assert select.select([descriptor], [], [], 5)[0] == [descriptor]
    messages = service.drain()
    while len(messages) < 2 and select.select([descriptor], [], [], 5)[0]:
        messages += service.drain()
    assert [message.procedure for message in messages] == ["a", "b"]
    # A message taken between a drain's reset and its take may leave a signal behind.
    assert service.drain() == [] and select.select([descriptor], [], [], 0)[0] == []


def test_trace_hook_feeds_logging(caplog, sink, control):
    service, proxy = control
    with caplog.at_level(logging.DEBUG, logger="mbus"):
        mbus.trace_to_logging(False)
        proxy.call("untraced")
        assert service.receive(5).procedure == "untraced" and caplog.records == []
        mbus.trace_to_logging(True)
        proxy.send(b"ab\0cd")
        proxy.test()
        proxy.call("traced", 1)
        service.receive(5)
        with mbus.Source(unique_name("absent")) as nowhere:
            nowhere.service().call("lost")
            eventually(lambda: any(record.levelno == logging.ERROR for record in caplog.records))
    lines = [(record.levelno, record.getMessage()) for record in caplog.records]
    assert {(logging.DEBUG, f'{sink.name}.control.Send: received 5 bytes (ab).'),
            (logging.DEBUG, f"{sink.name}: was tested."),
            (logging.DEBUG, f'{sink.name}.control.Call: "traced", 1.')} <= set(lines)
    assert (logging.ERROR, "** RPC Exception 0x000006BA: in CSource::Request().\nThe RPC server is unavailable.") in lines


def rss_kib():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


def test_ten_thousand_messages_leak_nothing(control):
    service, proxy = control

    def round_of(count, batch=500):
        # In step with the receiver, so that both rounds hold the same number in flight.
        for start in range(0, count, batch):
            for number in range(start, start + batch):
                proxy.call("tick", {"n": number, "pad": "x" * 64})
            assert all(service.receive(5).argument["n"] == number for number in range(start, start + batch))

    round_of(10000)  # fills the library's slabs and request pools
    gc.collect()
    holders, before = len(_runtime._open), rss_kib()
    round_of(10000)
    gc.collect()
    assert len(_runtime._open) == holders
    assert rss_kib() - before < 1024, "RSS grew by a MiB over 10,000 messages"


def test_bad_use_raises(sink):
    service, source = sink.service("x"), mbus.Source(sink.name)
    proxy = source.service("x")
    proxy.call("q")
    call = service.receive(5)
    while_open = [
        (lambda: proxy.call(1.5), TypeError, "procedure is a str"),
        (lambda: proxy.call(True), TypeError, "procedure is a str"),
        (lambda: proxy.advise([1]), TypeError, "state is a dict"),
        (lambda: proxy.send(b"x" * 65536), ValueError, "65,535 bytes"),
        (lambda: proxy.reply(None), ValueError, "cookie"),
        (lambda: call.reply(1), ValueError, "only a query"),
        (lambda: mbus.Sink(7), TypeError, "name is a str"),
        (lambda: sink.service("a\0b"), ValueError, "NUL"),
        (lambda: mbus.Sink(unique_name()), mbus.MbusError, r"MbSinkOpenEx failed \(result null\)"),  # a second
        (lambda: mbus.Source(""), mbus.MbusError, "MbSourceOpenEx failed"),
    ]
    # Closing the source closes its proxies, closing the sink its services.
    once_closed = [
        (lambda: proxy.call("x"), ValueError, "closed Service"),
        (service.take, ValueError, "closed SinkService"),
        (lambda: service.state, ValueError, "closed SinkService"),
        (lambda: sink.service("y"), ValueError, "closed Sink"),
        (sink.fileno, ValueError, "closed Sink"),
        (lambda: mbus.Sink("x" * 32), mbus.MbusError, "not 1 to 31 bytes"),
        (lambda: mbus.Source(unique_name()).service().query("q"), RuntimeError, "open Sink"),
    ]
    for bad_call, error, match in while_open:
        with pytest.raises(error, match=match):
            bad_call()
    source.close()
    sink.close()
    for bad_call, error, match in once_closed:
        with pytest.raises(error, match=match):
            bad_call()
