"""The Python types that stand for the bus types without a plain Python counterpart.

A plain int is stored as an Int when it fits 32 signed bits and as an Unsigned when it fits 32
unsigned bits; Unsigned forces the Unsigned type, and loading an Unsigned gives one back, so a
value survives storing and loading with its type. Cookie is the opaque 64-bit cookie.
"""
import datetime

_EPOCH = datetime.datetime(1601, 1, 1)
_MILLISECOND = datetime.timedelta(milliseconds=1)
_UTC = datetime.timezone.utc


class Unsigned(int):
    """An unsigned 32-bit integer (0 to 4,294,967,295)."""

    __slots__ = ()

    def __new__(cls, value=0):
        self = super().__new__(cls, value)
        if not 0 <= self <= 0xFFFFFFFF:
            raise ValueError(f"Unsigned holds 0 to 4294967295, not {int(self)}")
        return self

    def __repr__(self):
        return f"Unsigned({int(self)})"


class Cookie(int):
    """An opaque 64-bit cookie (0 to 2**64 - 1), made from one number or from two 32-bit halves."""

    __slots__ = ()

    def __new__(cls, value=0, high=None):
        if high is not None:
            if not (0 <= value <= 0xFFFFFFFF and 0 <= high <= 0xFFFFFFFF):
                raise ValueError("the halves of a Cookie hold 0 to 4294967295 each")
            value = high << 32 | value
        self = super().__new__(cls, value)
        if not 0 <= self <= 0xFFFFFFFFFFFFFFFF:
            raise ValueError(f"Cookie holds 0 to 2**64 - 1, not {int(self)}")
        return self

    @property
    def low(self):
        return int(self) & 0xFFFFFFFF

    @property
    def high(self):
        return int(self) >> 32

    def __repr__(self):
        return f"Cookie(0x{int(self):016X})"


def time_to_milliseconds(value):
    """(milliseconds since 1601-01-01, is_utc) of a datetime: naive ones are local times,
    aware ones UTC times (converted to UTC). Sub-millisecond parts are refused, not cut."""
    utc = value.tzinfo is not None and value.utcoffset() is not None
    try:
        naive = value.astimezone(_UTC).replace(tzinfo=None) if utc else value
    except OverflowError as error:
        raise ValueError(f"{value!r} has no UTC time: {error}") from None
    milliseconds, rest = divmod(naive - _EPOCH, _MILLISECOND)
    if rest:
        raise ValueError(f"{value!r} is finer than the bus's milliseconds")
    return milliseconds, utc


def milliseconds_to_time(milliseconds, utc):
    try:
        value = _EPOCH + milliseconds * _MILLISECOND
    except OverflowError:
        raise ValueError(f"the time {milliseconds} ms after 1601-01-01 is outside datetime's range") from None
    return value.replace(tzinfo=_UTC) if utc else value
