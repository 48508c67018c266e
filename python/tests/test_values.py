"""Values both ways: the stored form against the C library's byte for byte, exact round trips,
the text form, and values or bytes that do not fit raising instead of being cut."""
import ctypes
import datetime
import math
import struct

import pytest

import mbus
from conftest import c_stored
from mbus._stored import HEADER

UTC = datetime.timezone.utc
c64, u64, d = ctypes.c_int64, ctypes.c_uint64, ctypes.c_double


# (value as loads gives it back, MbBuild format, its arguments)
STORED = [
    (None, "N", ()),
    (True, "b", (5,)),
    (False, "b", (0,)),
    (7, "i", (7,)),
    (-2**31, "i", (-2**31,)),
    (2**31 - 1, "i", (2**31 - 1,)),
    (mbus.Unsigned(2**31), "u", (2**31,)),
    (mbus.Unsigned(5), "u", (5,)),
    (mbus.Unsigned(2**32 - 1), "u", (2**32 - 1,)),
    (mbus.Cookie(0x0123456789ABCDEF), "c", (u64(0x0123456789ABCDEF),)),
    (mbus.Cookie(2, 1), "c", (u64(0x100000002),)),
    (2.5, "r", (d(2.5),)),
    (-0.0, "r", (d(-0.0),)),
    (math.inf, "r", (d(math.inf),)),
    (math.nan, "r", (d(math.nan),)),
    ("h\u00e9llo", "s", ("h\u00e9llo".encode(),)),
    ("", "s", (b"",)),
    (b"\x00\xff", "B", (b"\x00\xff", 2)),
    (b"", "B", (None, 0)),
    (datetime.datetime(2024, 2, 29, 23, 59, 59, 999000), "t", (c64(13353724799999),)),
    (datetime.datetime(1601, 1, 1, tzinfo=UTC), "g", (c64(0),)),
    (datetime.datetime(1600, 12, 31, 23, 59, 59, 999000, tzinfo=UTC), "g", (c64(-1),)),
    ([], "[]", ()),
    ({}, "{}", ()),
    ([1, "x", [None]], "[i s [N]]", (1, b"x")),
    # Maps in the library's key order ("B" before "a" before "b"; None first), which the C side
    # builds in another order and a reversed dict does not change.
    ({"B": 1, "a": [True], "b": {}}, "{s {} s [b] s i}", (b"b", b"a", 1, b"B", 1)),
    ({-1: "y", 2: "x", mbus.Unsigned(7): None}, "{i s u N i s}", (2, b"x", 7, -1, b"y")),
    ({None: 1.5, b"k": False}, "{B b N r}", (b"k", 1, 0, d(1.5))),
]


@pytest.mark.parametrize("value, format, args", STORED, ids=[row[1] + repr(row[0])[:20] for row in STORED])
def test_stored_form_matches_the_c_library(library, value, format, args):
    stored = c_stored(format, *args)
    assert mbus.dumps(value) == stored
    assert repr(mbus.loads(stored)) == repr(value)  # the types too, and NaN as NaN
    if isinstance(value, dict):
        assert mbus.dumps(dict(reversed(value.items()))) == stored


def test_round_trips_keep_types(library):
    value = {"big": 2**32 - 1, "c": mbus.Cookie(9), "local": datetime.datetime(1999, 12, 31),
             "nested": [[[{"x": [b""]}]]], "nul": "a\0b", "odd": b"\xff\xfe".decode("utf-8", "surrogateescape"),
             "raw": b"\xfe", "u": mbus.Unsigned(3), "when": datetime.datetime(2020, 5, 17, 8, 30, tzinfo=UTC)}
    back = mbus.loads(mbus.dumps(value))
    assert repr(back) == repr(dict(value, big=mbus.Unsigned(2**32 - 1)))
    assert mbus.dumps(back) == mbus.dumps(value)
    deep = []
    for _ in range(5000):
        deep = [deep]
    back, depth = mbus.loads(mbus.dumps(deep)), 0
    while back:
        back, depth = back[0], depth + 1
    assert depth == 5000


def test_conversions_from_python_types(library):
    aware = datetime.datetime(2021, 1, 1, 2, 0, tzinfo=datetime.timezone(datetime.timedelta(hours=2)))
    assert mbus.loads(mbus.dumps(aware)) == datetime.datetime(2021, 1, 1, tzinfo=UTC)
    assert mbus.loads(mbus.dumps((1, bytearray(b"a"), memoryview(b"b")))) == [1, b"a", b"b"]


@pytest.mark.parametrize("value, expected", [
    ({"id": 7, "tags": ["a", "b"]}, '{"id":7, "tags":["a", "b"]}'),
    (mbus.Cookie(2, 1), "00000001-00000002"),
    (datetime.datetime(1601, 1, 1, 0, 0, 0, 1000, tzinfo=UTC), "01-01-1601 00:00:00.0001 UTC"),
    (datetime.datetime(1601, 1, 1), "nil"),
    ([2.5, True, None, mbus.Unsigned(5), -3], "[2.5, True, None, 5, -3]"),
    (b'q"', '"q""'),
    (datetime.datetime(2024, 2, 29, 23, 59, 59, 999000), "02-29-2024 23:59:59.0999 local"),
])
def test_text_form(library, value, expected):
    assert mbus.text(value) == expected


looped = [1]
looped.append(looped)


@pytest.mark.parametrize("make, error, match", [
    (lambda: [None] * 65536, ValueError, "65,535 elements"),
    (lambda: {i: None for i in range(65536)}, ValueError, "65,535 elements"),
    (lambda: "x" * 70000, ValueError, "65,535 bytes"),
    (lambda: "x" * 65516, ValueError, "exceeds 65,535"),  # 65,515 bytes fill a stored tree
    (lambda: [None] * 32759, ValueError, "exceeds 65,535"),  # as do 32,758 Nones
    (lambda: 2**32, ValueError, "fits neither"),
    (lambda: -2**31 - 1, ValueError, "fits neither"),
    (lambda: datetime.datetime(2000, 1, 1, 0, 0, 0, 1), ValueError, "milliseconds"),
    (lambda: {"a": 1, b"a": 2}, ValueError, "one key"),
    (lambda: {(1, 2): 1}, ValueError, "map key"),
    (lambda: "\ud800", ValueError, "surrogates not allowed"),
    (lambda: looped, ValueError, "contains itself"),
    (lambda: mbus.Unsigned(-1), ValueError, "4294967295"),
    (lambda: mbus.Cookie(2**64), ValueError, "2\\*\\*64"),
    (lambda: mbus.Cookie(1, 2**32), ValueError, "halves"),
    (lambda: object(), TypeError, "object has no item form"),
    (lambda: {1, 2}, TypeError, "set has no item form"),
    (lambda: [1.5j], TypeError, "complex has no item form"),
])
def test_values_that_do_not_fit_raise(library, make, error, match):
    with pytest.raises(error, match=match):
        mbus.dumps(make())


def test_limits_themselves_fit(library):
    assert len(mbus.dumps("x" * 65515)) == 65535
    assert mbus.loads(mbus.dumps([None] * 32758)) == [None] * 32758


A_INT = HEADER + b"Ai\x07\x00\x00\x00"


@pytest.mark.parametrize("data, error", [
    (b"", "header"),
    (A_INT[:15], "header"),
    (b"Kvc" + A_INT[3:], "header"),
    (A_INT[:6] + b"\x02\x00" + A_INT[8:], "header"),
    (HEADER, "ends early"),
    (A_INT[:-1], "ends early"),
    (A_INT + b"\x00", "1 bytes follow"),
    (HEADER + b"As\x05\x00abc", "inside a string"),
    (HEADER + b"I", "unknown item letter 0x49"),
    (HEADER + b"Ax", "unknown atom letter 0x78"),
    (HEADER + b"L\x02\x00An", "ends early"),
    (HEADER + b"M\x02\x00s\x01\x00kAns\x01\x00kAn", "repeated"),
    (HEADER + b"Ag" + struct.pack("<q", 2**62), "outside datetime"),
])
def test_bad_stored_forms_raise(data, error):
    with pytest.raises(ValueError, match=error):
        mbus.loads(data)
