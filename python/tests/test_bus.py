"""The bus inside one process: every kind of message through the transport and back, queries
and their time-out, the listing, event-loop waiting, the trace hook, handle release and bad
use of handles."""
import asyncio
import gc
import logging
import select
import threading
import time

import pytest

import mbus
from mbus import _runtime
from conftest import unique_name


@pytest.fixture
def control(sink):
    """(the sink's "control" service, the proxy that sends to it)."""
    service = sink.service("control")
    with mbus.Source(sink.name) as source:
        yield service, source.service("Control")


def answer_one(service, result):
    """Answers the next query on service from another thread."""
    thread = threading.Thread(target=lambda: service.receive(5).reply(result))
    thread.start()
    return thread


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
    thread = answer_one(service, {"celsius": 21.5, "unit": "C"})
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
    results = {}

    def ask(number):
        results[number] = proxy.query("double", number, timeout=10)

    askers = [threading.Thread(target=ask, args=(n,)) for n in range(8)]
    for asker in askers:
        asker.start()
    for _ in askers:
        query = service.receive(10)
        query.reply(query.argument * 2)
    for asker in askers:
        asker.join()
    assert results == {n: n * 2 for n in range(8)}


def test_state_advise_replaces_update_merges(control):
    service, proxy = control
    proxy.advise({"mode": "heat", "setpoint": 21.5})
    proxy.advise({"mode": "cool"})
    proxy.update({"fan": True, "zone": 2})
    proxy.update({"zone": mbus.Unsigned(3)})
    proxy.call("sync")  # queued after the state messages: its arrival means they were handled
    assert service.receive(5).procedure == "sync"
    assert service.state == {"fan": True, "mode": "cool", "zone": mbus.Unsigned(3)}


def test_listing_and_peers(sink):
    names = [info.name for info in mbus.sinks(include_self=True)]
    assert sink.name in names and sink.name not in [info.name for info in mbus.sinks()]
    own = next(info for info in mbus.sinks(include_self=True) if info.name == sink.name)
    assert own.pid > 0 and own.full_name == sink.name and own.local is False
    other = unique_name("peer")
    sink.source(other)
    assert sink.peers == {other: 2}  # linked from here, not announced by the other side


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
    assert select.select([descriptor], [], [], 0)[0] == []


def test_trace_hook_feeds_logging(caplog, sink, control):
    service, proxy = control
    with caplog.at_level(logging.DEBUG, logger="mbus"):
        proxy.call("traced", 1)
        service.receive(5)
        with mbus.Source(unique_name("absent")) as nowhere:
            nowhere.service().call("lost")
            deadline = time.monotonic() + 5
            while not any(r.levelno == logging.ERROR for r in caplog.records) and time.monotonic() < deadline:
                time.sleep(0.02)
    lines = [(record.levelno, record.getMessage()) for record in caplog.records]
    assert (logging.DEBUG, f'{sink.name}.control.Call: "traced", 1.') in lines
    assert any(level == logging.ERROR and "RPC Exception 0x000006BA" in text for level, text in lines)


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


def test_closed_handles_and_wrong_types_raise(sink):
    service = sink.service("x")
    source = mbus.Source(sink.name)
    proxy = source.service("x")
    for bad_call, error in [
        (lambda: proxy.call(1.5), TypeError),
        (lambda: proxy.call(True), TypeError),
        (lambda: proxy.advise([1]), TypeError),
        (lambda: proxy.send(b"x" * 65536), ValueError),
        (lambda: proxy.reply(None), ValueError),
        (lambda: mbus.Sink(7), TypeError),
        (lambda: sink.service("a\0b"), ValueError),
        (lambda: mbus.Sink(unique_name()), mbus.MbusError),  # one sink per process
        (lambda: mbus.Source(""), mbus.MbusError),
    ]:
        with pytest.raises(error):
            bad_call()
    proxy.call("q")
    with pytest.raises(ValueError, match="only a query"):
        service.receive(5).reply(1)
    source.close()
    assert proxy.closed
    sink.close()
    assert service.closed
    for closed_use in (lambda: proxy.call("x"), lambda: service.take(), lambda: service.state,
                       lambda: sink.service("y"), lambda: sink.fileno()):
        with pytest.raises(ValueError, match="closed"):
            closed_use()
    with pytest.raises(mbus.MbusError, match=r"MbSinkOpenEx failed \(result null\)"):
        mbus.Sink("x" * 32)
    with mbus.Source(unique_name()) as elsewhere, pytest.raises(RuntimeError, match="open Sink"):
        elsewhere.service().query("q", timeout=0.1)
