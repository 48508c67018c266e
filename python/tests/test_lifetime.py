"""The library's lifetime: the end of the outermost Library block closes what is still open,
and a later block starts the library again. Runs with no other block open."""
import mbus
from conftest import unique_name


def test_end_of_library_closes_what_is_open():
    with mbus.Library():
        sink = mbus.Sink(unique_name())
        service = sink.service()
        with mbus.Library():
            source = sink.source(sink.name)
        assert not source.closed
    assert sink.closed and service.closed and source.closed
    with mbus.Library():
        assert mbus.loads(mbus.dumps([1])) == [1]
        with mbus.Sink(sink.name) as again:
            assert not again.closed
