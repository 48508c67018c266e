"""The stored form of an item tree, both ways, between Python values and bytes.

A stored tree is a 16-byte header ("Kvb", NUL, header length 16, format version 1, library
version 82, flags 0, 0; little-endian) and one item form: "A" and an atom, "L" with a 16-bit
count of item forms, or "M" with a 16-bit count of (atom key, item form) pairs. Atoms are a
type letter and a little-endian payload. The whole tree holds at most 65,535 bytes.

Both directions walk with explicit stacks, not recursion, so trees nested as deep as the bus
allows (thousands of levels) are handled. Values that do not fit raise ValueError; nothing is
ever cut. Map entries are written in the order the dict gives them: the library orders them
(see _items.new_item).
"""
import datetime
import struct

from ._values import Cookie, Unsigned, milliseconds_to_time, time_to_milliseconds

LIMIT = 0xFFFF
HEADER = b"Kvb\0" + struct.pack("<HHIHH", 16, 1, 82, 0, 0)

_COUNT = struct.Struct("<H")
_INT = struct.Struct("<i")
_UNSIGNED = struct.Struct("<I")
_COOKIE = struct.Struct("<Q")
_TIME = struct.Struct("<q")
_REAL = struct.Struct("<d")


def _text(out, letter, data):
    if len(data) > LIMIT:
        raise ValueError(f"a string or blob holds at most 65,535 bytes, not {len(data)}")
    out += letter
    out += _COUNT.pack(len(data))
    out += data
    # Strings are what can make a tree large: stop before a list of them fills memory.
    if len(out) > LIMIT:
        raise ValueError("the stored form exceeds 65,535 bytes")


def _int(out, value):
    if -0x80000000 <= value <= 0x7FFFFFFF:
        out += b"i" + _INT.pack(value)
    elif 0 <= value <= 0xFFFFFFFF:
        out += b"u" + _UNSIGNED.pack(value)
    else:
        raise ValueError(f"{value} fits neither an Int nor an Unsigned (32 bits)")


def _time(out, value):
    milliseconds, utc = time_to_milliseconds(value)
    out += (b"t" if utc else b"g") + _TIME.pack(milliseconds)


_ATOM_WRITERS = {
    type(None): lambda out, value: out.extend(b"n"),
    bool: lambda out, value: out.extend(b"B" if value else b"b"),
    int: _int,
    Unsigned: lambda out, value: out.extend(b"u" + _UNSIGNED.pack(value)),
    Cookie: lambda out, value: out.extend(b"c" + _COOKIE.pack(value)),
    float: lambda out, value: out.extend(b"r" + _REAL.pack(value)),
    str: lambda out, value: _text(out, b"s", value.encode("utf-8", "surrogateescape")),
    bytes: lambda out, value: _text(out, b"d", value),
    bytearray: lambda out, value: _text(out, b"d", bytes(value)),
    memoryview: lambda out, value: _text(out, b"d", value.tobytes()),
    datetime.datetime: _time,
}
# Subclasses (an IntEnum, a str subclass) are written as the first of these they derive from.
_BASES = (bool, Unsigned, Cookie, int, float, str, bytes, bytearray, memoryview, datetime.datetime)


def _atom_writer(value):
    """The writer of value's atom form, or None when value is no atom."""
    writer = _ATOM_WRITERS.get(value.__class__)
    if writer is None and not isinstance(value, (dict, list, tuple)):
        base = next((base for base in _BASES if isinstance(value, base)), None)
        writer = _ATOM_WRITERS.get(base)
    return writer


def _count(value):
    if len(value) > LIMIT:
        raise ValueError(f"a list or map holds at most 65,535 elements, not {len(value)}")
    return _COUNT.pack(len(value))


def encode(value):
    """(stored bytes, whether a map of two or more entries is in the tree) of a Python value."""
    out = bytearray(HEADER)
    # The containers being written, innermost last: (their elements or entries, is a map, id).
    frames = [(iter((value,)), False, None)]
    open_ids = set()
    multi_entry_map = False
    while frames:
        elements, is_map, container_id = frames[-1]
        for element in elements:
            if is_map:
                key, element = element
                writer = _atom_writer(key)
                if writer is None:
                    raise ValueError(f"a map key is an atom, not {type(key).__name__}")
                writer(out, key)
            writer = _atom_writer(element)
            if writer is not None:
                out += b"A"
                writer(out, element)
                continue
            if isinstance(element, dict):
                out += b"M" + _count(element)
                multi_entry_map = multi_entry_map or len(element) > 1
                frames.append((iter(element.items()), True, id(element)))
            elif isinstance(element, (list, tuple)):
                out += b"L" + _count(element)
                frames.append((iter(element), False, id(element)))
            else:
                raise TypeError(f"{type(element).__name__} has no item form")
            if id(element) in open_ids:
                raise ValueError("a list or dict that contains itself has no item form")
            open_ids.add(id(element))
            break
        else:
            frames.pop()
            open_ids.discard(container_id)
    if len(out) > LIMIT:
        raise ValueError(f"the stored form of {len(out)} bytes exceeds 65,535")
    return bytes(out), multi_entry_map


def _fixed(layout, convert):
    def read(data, pos):
        return convert(layout.unpack_from(data, pos)[0]), pos + layout.size
    return read


def _string_end(data, pos):
    """The end of the string form at pos, checked against the data."""
    end = pos + 2 + (data[pos] | data[pos + 1] << 8)
    if end > len(data):
        raise ValueError("the stored form ends inside a string")
    return end


def _read_str(data, pos):
    end = _string_end(data, pos)
    return data[pos + 2:end].decode("utf-8", "surrogateescape"), end


def _read_blob(data, pos):
    end = _string_end(data, pos)
    return data[pos + 2:end], end


_ATOM_READERS = {
    ord("n"): lambda data, pos: (None, pos),
    ord("b"): lambda data, pos: (False, pos),
    ord("B"): lambda data, pos: (True, pos),
    ord("i"): _fixed(_INT, int),
    ord("u"): _fixed(_UNSIGNED, Unsigned),
    ord("c"): _fixed(_COOKIE, Cookie),
    ord("r"): _fixed(_REAL, float),
    ord("g"): _fixed(_TIME, lambda ms: milliseconds_to_time(ms, False)),
    ord("t"): _fixed(_TIME, lambda ms: milliseconds_to_time(ms, True)),
    ord("s"): _read_str,
    ord("d"): _read_blob,
}


def _read_atom(data, pos):
    reader = _ATOM_READERS.get(data[pos])
    if reader is None:
        raise ValueError(f"unknown atom letter 0x{data[pos]:02X} at offset {pos}")
    return reader(data, pos + 1)


def decode(data):
    """The Python value of a stored tree. The bytes must hold exactly one whole tree."""
    data = bytes(data)
    if len(data) < len(HEADER) or data[:3] != b"Kvb" or data[6:8] != b"\x01\x00":
        raise ValueError("not a stored item: the header is missing or of another format")
    if len(data) > LIMIT:
        raise ValueError(f"a stored tree holds at most 65,535 bytes, not {len(data)}")
    try:
        return _decode_tree(data)
    except (IndexError, struct.error):
        raise ValueError("the stored form ends early") from None


def _decode_tree(data):
    pos = len(HEADER)
    root = []
    # Open containers: [container, entries left]; a dict's keys are read as its entries come.
    frames = [[root, 1]]
    while frames:
        frame = frames[-1]
        if frame[1] == 0:
            frames.pop()
            continue
        frame[1] -= 1
        container = frame[0]
        if container.__class__ is dict:
            key, pos = _read_atom(data, pos)
            if key in container:
                raise ValueError(f"the map key {key!r} is repeated at offset {pos}")
        letter = data[pos]
        pos += 1
        if letter == 0x41:
            value, pos = _read_atom(data, pos)
            child = None
        elif letter == 0x4C or letter == 0x4D:
            value = [] if letter == 0x4C else {}
            (count,) = _COUNT.unpack_from(data, pos)
            pos += 2
            child = [value, count]
        else:
            raise ValueError(f"unknown item letter 0x{letter:02X} at offset {pos - 1}")
        if container.__class__ is dict:
            container[key] = value
        else:
            container.append(value)
        if child is not None:
            frames.append(child)
    if pos != len(data):
        raise ValueError(f"{len(data) - pos} bytes follow the stored tree")
    return root[0]
