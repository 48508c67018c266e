"""Item handles of the library made from Python values and read back into them, and the public
dumps, loads and text over them.

A value goes into the library as its stored form (_stored.encode), which the library reads into
a tree of its own; the library puts map entries in its key order. A tree comes out as the
stored form the library writes, decoded here. The library thus decides every byte of dumps and
every character of text.
"""
import ctypes

from . import _stored
from ._lib import RESULT_OK, lib
from ._runtime import MbusError, ensure


class Item:
    """Holds one reference to a new item handle and releases it at the end of a with block."""

    __slots__ = ("handle",)

    def __init__(self, handle, function):
        if not handle:
            raise MbusError(function, "null")
        self.handle = handle

    def __enter__(self):
        return self.handle

    def __exit__(self, *exc):
        lib.MbHandleRelease(self.handle)


def blob_bytes(blob):
    """The bytes of a Blob item; b"" for a Blob without bytes."""
    data = ctypes.c_void_p()
    length = ctypes.c_uint16()
    if lib.MbAtomGetBlob(blob, ctypes.byref(data), ctypes.byref(length)) != RESULT_OK:
        return b""
    return ctypes.string_at(data.value, length.value)


def stored_bytes(item):
    """The stored form the library writes for an item handle."""
    with Item(lib.MbItemToBytes(item), "MbItemToBytes") as blob:
        return blob_bytes(blob)


def new_item(value):
    """(a new item handle holding value, owned by the caller; the library's stored form of it,
    or None when it was not needed). ValueError when the value does not fit, or when keys of
    one map that Python tells apart are one key for the library (a str and bytes of the same
    bytes, for example), which would lose entries."""
    data, multi_entry_map = _stored.encode(value)
    with Item(lib.MbAtomNewBlob(data, len(data)), "MbAtomNewBlob") as blob:
        item = Item(lib.MbItemFromBytes(blob), "MbItemFromBytes").handle
    if not multi_entry_map:
        return item, None
    try:
        stored = stored_bytes(item)
    except BaseException:
        lib.MbHandleRelease(item)
        raise
    if len(stored) != len(data):
        lib.MbHandleRelease(item)
        raise ValueError("a map holds keys that the bus counts as one key")
    return item, stored


def held(value):
    """An Item holding value, for a with block."""
    return Item(new_item(value)[0], "MbItemFromBytes")


def read_item(item):
    return _stored.decode(stored_bytes(item))


def dumps(value):
    """The stored form of a value, as the library writes it (bytes)."""
    ensure()
    item, stored = new_item(value)
    with Item(item, "MbItemFromBytes"):
        return stored if stored is not None else stored_bytes(item)


def loads(data):
    """The value of a stored form. ValueError unless the bytes hold exactly one whole tree."""
    return _stored.decode(data)


def text(value):
    """The library's text form of a value, such as {"id":7, "tags":["a", "b"]}. The library
    ends the text with a NUL byte, which is dropped."""
    ensure()
    with held(value) as item:
        text_blob = lib.MbItemToText(item, 0)
    if not text_blob:
        raise ValueError("the text form exceeds 65,535 bytes")
    with Item(text_blob, "MbItemToText") as blob:
        rendered = blob_bytes(blob)
    return rendered[:-1].decode("utf-8", "surrogateescape")
