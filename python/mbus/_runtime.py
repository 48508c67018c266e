"""The library's lifetime in this process, its trace hook into logging, and the handles the
package holds.

The library runs from the first use (a Library context, an opened handle, dumps or text) to
the end of the last Library context, or to the end of the interpreter. Before it ends, every
handle the package still holds is closed, newest first, so that nothing is left to a library
that is gone: a handle of an ended run is never passed to a later one, where its address could
belong to another object.
"""
import atexit
import itertools
import logging
import threading
import weakref

from ._lib import TRACE_ERROR, TRACE_WARNING, TraceCallback, lib

logger = logging.getLogger("mbus")


class MbusError(Exception):
    """A library call failed; `function` names it and `code` is what it returned."""

    def __init__(self, function, code, detail=""):
        self.function = function
        self.code = code
        super().__init__(f"{function} failed (result {code})" + (f": {detail}" if detail else ""))


def _trace(text, category):
    if category & TRACE_ERROR:
        level = logging.ERROR
    elif category & TRACE_WARNING:
        level = logging.WARNING
    else:
        level = logging.DEBUG
    if logger.isEnabledFor(level):
        logger.log(level, "%s", text.decode("utf-8", "replace").rstrip())


# Kept for the library's whole run: the library calls it from its own threads.
_trace_callback = TraceCallback(_trace)
_no_callback = TraceCallback()

_lock = threading.RLock()
_tracing = True
_contexts = 0
_run = 0  # counts the library's runs; 0 before the first
_running = False
# key -> weakref.finalize of each open holder, in opening order.
_open = {}
_keys = itertools.count()


def ensure():
    """Starts the library unless it runs; returns the number of the current run."""
    global _run, _running
    with _lock:
        if not _running:
            if not lib.MbLibraryInit():
                raise MbusError("MbLibraryInit", 0)
            lib.MbTracerSet(_trace_callback if _tracing else _no_callback)
            _running = True
            _run += 1
        return _run


def trace_to_logging(enabled=True):
    """Whether the library's trace goes to the logger "mbus", as it does unless turned off.
    Each trace line costs the library's thread a call into Python, and every message handled
    brings one: a process that sends and takes many thousands of messages a second may turn
    the trace off, and no longer hears of lost messages."""
    global _tracing
    with _lock:
        _tracing = enabled
        if _running:
            lib.MbTracerSet(_trace_callback if enabled else _no_callback)


def _stop():
    global _running
    with _lock:
        if not _running:
            return
        for key in sorted(_open, reverse=True):
            finalizer = _open.get(key)
            if finalizer is not None:
                finalizer()
        lib.MbLibraryTerm()
        _running = False


atexit.register(_stop)


class Library:
    """`with Library():` keeps the library running for the block; the end of the outermost
    block closes every handle still open and ends the library."""

    def __enter__(self):
        global _contexts
        with _lock:
            ensure()
            _contexts += 1
        return self

    def __exit__(self, *exc):
        global _contexts
        with _lock:
            _contexts -= 1
            if _contexts == 0:
                _stop()


def _close(key, run, release, handle):
    with _lock:
        _open.pop(key, None)
        if _running and run == _run:
            release(handle)


class Holder:
    """One library object the package holds a reference to. close(), the end of a with block,
    the end of the library or the garbage collector releases it, exactly once. A holder opened
    under a parent (a service of a sink) is closed before the parent."""

    def __init__(self, open_handle, release, parent=None, key=None):
        """open_handle() starts the object and returns its handle, or raises; release(handle)
        gives it back. A parent finds its open child again under key."""
        with _lock:
            run = ensure()
            self._handle = open_handle()
            serial = next(_keys)
            self._finalizer = weakref.finalize(self, _close, serial, run, release, self._handle)
            _open[serial] = self._finalizer
        self._children = {}
        self._children_lock = threading.RLock()
        self._parent = parent
        self._key = serial if key is None else key
        if parent is not None:
            with parent._children_lock:
                parent._children[self._key] = self

    @property
    def closed(self):
        return not self._finalizer.alive

    def close(self):
        with self._children_lock:
            children = list(self._children.values())
        for child in reversed(children):
            child.close()
        if self._parent is not None:
            with self._parent._children_lock:
                if self._parent._children.get(self._key) is self:
                    del self._parent._children[self._key]
        self._finalizer()

    def _child(self, key, make):
        """The open child under key; make() opens it when there is none. One at a time, since
        opening a second service of one name would replace the first."""
        with self._children_lock:
            child = self._children.get(key)
            return child if child is not None and not child.closed else make()

    def _live(self):
        """The handle; ValueError once closed."""
        if not self._finalizer.alive:
            raise ValueError(f"operation on a closed {type(self).__name__}")
        return self._handle

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
