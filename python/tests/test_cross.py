"""Processes on one bus: the C demo receiver answering a Python sender; the `mbus` tool
sending to, querying, watching and listing a Python sink; the Python examples talking to each
other. The C side prints the library's text form of what it got, which is compared with
mbus.text of the expected value."""
import contextlib
import pathlib
import subprocess
import sys
import threading

import pytest

import mbus
from conftest import eventually, program, unique_name

EXAMPLES = pathlib.Path(__file__).parents[1] / "examples"


@contextlib.contextmanager
def running(*command):
    """A process printing into a pipe, killed at the end of the block if it still runs."""
    process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        yield process
    finally:
        process.kill()
        process.wait()


def read_until(process, prefix):
    """The first line the process prints that starts with prefix."""
    for line in process.stdout:
        if line.startswith(prefix):
            return line.rstrip("\n")
    pytest.fail(f"{process.args[0]} ended without printing {prefix!r}")


def finish(process, timeout=15):
    """(exit status, the lines the process printed from here on)."""
    output, _ = process.communicate(timeout=timeout)
    return process.returncode, output.splitlines()


def run(*command):
    with running(*command) as process:
        return finish(process)


def test_c_demo_receiver_answers_a_python_sender(sink):
    with running(program("examples/demo_receiver")) as receiver, mbus.Source("demo-thermostat") as thermostat:
        read_until(receiver, "receiver: sink demo-thermostat open")
        control = thermostat.service("control")
        control.call("setpoint", 21.5)
        assert control.query("temperature", timeout=5) == {"celsius": 21.5, "unit": "C"}
        control.advise({"mode": "heat", "setpoint": 21.5})
        control.update({"fan": True, "zone": 2})
        control.call("stop")
        status, lines = finish(receiver)
    assert status == 0, lines
    assert "receiver: call " + mbus.text({"proc": "setpoint", "arg": 21.5}) in lines
    assert f"receiver: answering {sink.name}._replies" in lines
    states = [line for line in lines if line.startswith("receiver: control state ")]
    assert states[-1] == "receiver: control state " + mbus.text({"mode": "heat", "setpoint": 21.5, "fan": True, "zone": 2})


def test_c_tool_calls_queries_and_lists_a_python_sink(sink):
    service = sink.service("control")
    assert run(program("tools/mbus"), "call", sink.name, "control", "setpoint", "21.5")[0] == 0
    call = service.receive(5)
    assert (call.kind, call.procedure, call.argument) == (mbus.CALL, "setpoint", "21.5")

    with running(program("tools/mbus"), "query", sink.name, "control", "temperature", "--timeout", "5000") as tool:
        answerer = threading.Thread(target=lambda: service.receive(5).reply({"celsius": 21.5}))
        answerer.start()
        reply = {"cookie": mbus.Cookie(tool.pid), "proc": "temperature", "result": {"celsius": 21.5}}
        assert finish(tool) == (0, [mbus.text(reply)])
        answerer.join()

    status, lines = run(program("tools/mbus"), "list")
    assert status == 0 and any(line.split("\t")[0] == sink.name for line in lines), lines


def test_c_tool_watches_python_advise_and_update(library):
    name = unique_name("watch")
    watch = program("tools/mbus"), "watch", name, "control", "--count", "2", "--seconds", "10"
    with running(*watch) as watcher, mbus.Source(name) as source:
        read_until(watcher, "watching " + name)
        # The watcher prints a state once per wake: the update waits for the first line.
        source.service("control").advise({"mode": "heat", "when": mbus.Cookie(7)})
        advised = read_until(watcher, "control State")
        source.service("control").update({"fan": True})
        status, lines = finish(watcher)
    assert advised == "control State " + mbus.text({"mode": "heat", "when": mbus.Cookie(7)})
    assert (status, lines) == (0, ["control State " + mbus.text({"fan": True, "mode": "heat", "when": mbus.Cookie(7)})])


@pytest.mark.parametrize("receiver", ["receiver.py", "asyncio_receiver.py"])
def test_python_examples_talk_across_processes(library, receiver):
    with running(sys.executable, str(EXAMPLES / receiver)) as process:
        assert eventually(lambda: "thermostat" in [info.name for info in mbus.sinks()], 10)
        assert run(sys.executable, str(EXAMPLES / "sender.py")) == (0, ["temperature: {'celsius': 21.5, 'unit': 'C'}"])
        status, lines = finish(process)
    assert status == 0
    assert [line for line in lines if line != "tick"] == [
        "call setpoint 21.5", "query temperature None", "call stop None", "state: {'fan': True, 'mode': 'heat'}"]
