"""Shared fixtures: the build under test, a second ctypes view of its library for building
items the C way, and sinks with names no other run uses. The package comes from PYTHONPATH:
the one staged in a build (<build>/python), or python/ with MBUS_LIBRARY naming the library."""
import ctypes
import itertools
import os
import pathlib

import pytest

import mbus
from mbus._lib import lib

# The build whose programs (the C demo receiver, the mbus tool) the tests run.
BUILD = pathlib.Path(os.environ.get("MBUS_BUILD_DIR", pathlib.Path(__file__).parents[2] / "build" / "release"))

_names = itertools.count()


def unique_name(prefix="py"):
    """A sink name of at most 31 bytes that no other process or test uses."""
    return f"{prefix}{os.getpid()}-{next(_names)}"


def program(relative):
    path = BUILD / relative
    if not path.exists():
        pytest.fail(f"{path} is not built")
    return str(path)


class CItems:
    """The library's own item functions, on a ctypes handle of its own (the package's
    prototypes stay as they are)."""

    def __init__(self):
        self.lib = ctypes.CDLL(lib._name)
        for name in ("MbBuild", "MbItemToBytes", "MbItemToText"):
            getattr(self.lib, name).restype = ctypes.c_void_p
        self.lib.MbItemToBytes.argtypes = [ctypes.c_void_p]
        self.lib.MbHandleRelease.argtypes = [ctypes.c_void_p]
        self.lib.MbAtomGetBlob.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p),
                                           ctypes.POINTER(ctypes.c_uint16)]

    def stored(self, format, *args):
        """The stored form of MbBuild(format, args...): the C library's bytes for a tree."""
        tree = self.lib.MbBuild(format.encode(), *args)
        assert tree, f"MbBuild({format!r}) failed"
        blob = self.lib.MbItemToBytes(tree)
        data, length = ctypes.c_void_p(), ctypes.c_uint16()
        assert self.lib.MbAtomGetBlob(blob, ctypes.byref(data), ctypes.byref(length)) == 0
        stored = ctypes.string_at(data.value, length.value)
        self.lib.MbHandleRelease(blob)
        self.lib.MbHandleRelease(tree)
        return stored


@pytest.fixture(scope="module")
def library():
    with mbus.Library():
        yield


@pytest.fixture(scope="module")
def citems(library):
    return CItems()


@pytest.fixture
def sink(library):
    with mbus.Sink(unique_name()) as opened:
        yield opened
