"""Processes on one bus: the C demo receiver answering a Python sender; the `mbus` tool
sending to, querying, watching and listing a Python sink; the Python examples talking to each
other. The C side prints the library's text form of what it got, which is compared with
mbus.text of the expected value."""
import pathlib
import subprocess
import sys
import threading
import time

import pytest

import mbus
from conftest import program, unique_name


def start(*command):
    return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def read_until(process, prefix):
    """The lines the process printed up to and including the first one starting with prefix."""
    lines = []
    for line in process.stdout:
        lines.append(line.rstrip("\n"))
        if line.startswith(prefix):
            return lines
    pytest.fail(f"{process.args[0]} ended without printing {prefix!r}: {lines}")


def finish(process, timeout=15):
    """(exit status, every line the process printed)."""
    output, _ = process.communicate(timeout=timeout)
    return process.returncode, output.splitlines()


def test_c_demo_receiver_answers_a_python_sender(sink):
    receiver = start(program("examples/demo_receiver"))
    try:
        read_until(receiver, "receiver: sink demo-thermostat open")
        with mbus.Source("demo-thermostat") as thermostat:
            control = thermostat.service("control")
            control.call("setpoint", 21.5)
            assert control.query("temperature", timeout=5) == {"celsius": 21.5, "unit": "C"}
            control.advise({"mode": "heat", "setpoint": 21.5})
            control.update({"fan": True, "zone": 2})
            control.call("stop")
            status, lines = finish(receiver)
    finally:
        receiver.kill()
        receiver.wait()
    assert status == 0, lines
    assert "receiver: call " + mbus.text({"proc": "setpoint", "arg": 21.5}) in lines
    assert f"receiver: answering {sink.name}._replies" in lines
    states = [line for line in lines if line.startswith("receiver: control state ")]
    assert states[-1] == "receiver: control state " + mbus.text({"mode": "heat", "setpoint": 21.5, "fan": True, "zone": 2})


def test_c_tool_calls_and_queries_a_python_sink(sink):
    service = sink.service("control")
    status, lines = finish(start(program("tools/mbus"), "call", sink.name, "control", "setpoint", "21.5"))
    assert status == 0, lines
    call = service.receive(5)
    assert (call.kind, call.procedure, call.argument) == (mbus.CALL, "setpoint", "21.5")

    tool = start(program("tools/mbus"), "query", sink.name, "control", "temperature", "--timeout", "5000")
    answerer = threading.Thread(target=lambda: service.receive(5).reply({"celsius": 21.5}))
    answerer.start()
    status, lines = finish(tool)
    answerer.join()
    assert status == 0, lines
    reply = {"cookie": mbus.Cookie(tool.pid), "proc": "temperature", "result": {"celsius": 21.5}}
    assert lines == [mbus.text(reply)]

    status, lines = finish(start(program("tools/mbus"), "list"))
    assert status == 0 and any(line.split("\t")[0] == sink.name for line in lines), lines


def test_c_tool_watches_python_advise_and_update(library):
    name = unique_name("watch")
    watcher = start(program("tools/mbus"), "watch", name, "control", "--count", "2", "--seconds", "10")
    try:
        read_until(watcher, "watching " + name)
        with mbus.Source(name) as source:
            # The watcher prints a state once per wake: the update waits for the first line.
            source.service("control").advise({"mode": "heat", "when": mbus.Cookie(7)})
            advised = read_until(watcher, "control State")[-1]
            source.service("control").update({"fan": True})
            status, lines = finish(watcher)
    finally:
        watcher.kill()
        watcher.wait()
    assert status == 0, lines
    assert advised == "control State " + mbus.text({"mode": "heat", "when": mbus.Cookie(7)})
    assert lines == ["control State " + mbus.text({"fan": True, "mode": "heat", "when": mbus.Cookie(7)})]


@pytest.mark.parametrize("receiver", ["receiver.py", "asyncio_receiver.py"])
def test_python_examples_talk_across_processes(library, receiver):
    examples = pathlib.Path(__file__).parents[1] / "examples"
    process = start(sys.executable, str(examples / receiver))
    try:
        deadline = time.monotonic() + 10
        while "thermostat" not in [info.name for info in mbus.sinks()] and time.monotonic() < deadline:
            time.sleep(0.05)
        assert finish(start(sys.executable, str(examples / "sender.py"))) == (
            0, ["temperature: {'celsius': 21.5, 'unit': 'C'}"])
        status, lines = finish(process)
    finally:
        process.kill()
        process.wait()
    assert status == 0
    assert [line for line in lines if line != "tick"] == [
        "call setpoint 21.5", "query temperature None", "call stop None", "state: {'fan': True, 'mode': 'heat'}"]
