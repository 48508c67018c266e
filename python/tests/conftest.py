"""Shared helpers: the build whose programs the tests run, the C library's own bytes for a tree,
sink names no other run uses. The package comes from PYTHONPATH: the one staged in a build
(<build>/python), or python/ with MBUS_LIBRARY naming the library."""
import ctypes
import itertools
import os
import pathlib
import time

import pytest

import mbus
from mbus._lib import lib

BUILD = pathlib.Path(os.environ.get("MBUS_BUILD_DIR", pathlib.Path(__file__).parents[2] / "build" / "release"))

# A handle of its own on the library, so that the package's prototypes stay as they are.
_c = ctypes.CDLL(lib._name)
_c.MbBuild.restype = _c.MbItemToBytes.restype = ctypes.c_void_p
_c.MbItemToBytes.argtypes = _c.MbHandleRelease.argtypes = [ctypes.c_void_p]
_c.MbAtomGetBlob.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_uint16)]
_names = itertools.count()


def c_stored(format, *args):
    """The stored form of MbBuild(format, args...), as the C library writes it."""
    tree = _c.MbBuild(format.encode(), *args)
    assert tree, f"MbBuild({format!r}) failed"
    blob, data, length = _c.MbItemToBytes(tree), ctypes.c_void_p(), ctypes.c_uint16()
    assert _c.MbAtomGetBlob(blob, ctypes.byref(data), ctypes.byref(length)) == 0
    stored = ctypes.string_at(data.value, length.value)
    _c.MbHandleRelease(blob)
    _c.MbHandleRelease(tree)
    return stored


def unique_name(prefix="py"):
    """A sink name of at most 31 bytes that no other process or test uses."""
    return f"{prefix}{os.getpid()}-{next(_names)}"


def program(relative):
    path = BUILD / relative
    if not path.exists():
        pytest.fail(f"{path} is not built")
    return str(path)


def eventually(condition, seconds=5):
    """Whether condition() became true within seconds."""
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.02)
    return True


@pytest.fixture(scope="module")
def library():
    with mbus.Library():
        yield


@pytest.fixture
def sink(library):
    with mbus.Sink(unique_name()) as opened:
        yield opened
