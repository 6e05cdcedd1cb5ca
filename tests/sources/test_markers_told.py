"""A source's markers reach the status pipe as the window reads it: each
one, up to MOST_MARKERS, then one problem for the rest."""

import multiprocessing
import queue as queue_module
import threading

from tarvinel.stelvane.formats import make_reader
from tarvinel.stelvane.formats.markers import MOST_MARKERS, Marker
from tarvinel.stelvane.sources.feed import Feed
from tarvinel.stelvane.sources.producer import marker_teller
from tarvinel.stelvane.sources.status import Status


def test_a_file_of_markers_tells_the_first_ones_then_that_the_rest_are_passed_over():
    reading, writing = multiprocessing.Pipe(duplex=False)
    messages = []

    def window():  # reads the pipe as the window does, while the reader writes it
        try:
            while True:
                messages.append(reading.recv())
        except EOFError:
            pass
    listener = threading.Thread(target=window)
    listener.start()
    status = Status(writing)
    feed = Feed(queue_module.Queue())
    feed.tell_marker = marker_teller(status)
    reader = make_reader(feed, status.problem, name="marked.csv")
    lines = "".join(f"#@marker t,{i},m{i}\n" for i in range(MOST_MARKERS + 3))
    reader.take(f"t,v\n{lines}0,1\n".encode())
    reader.finish()
    status.close()
    listener.join(10)
    markers = [text for kind, text, *_ in messages if kind == "marker"]
    assert len(markers) == MOST_MARKERS
    assert markers[0] == Marker("t", 0.0, "m0") and markers[-1].text == f"m{MOST_MARKERS - 1}"
    problems = [text for kind, text, *_ in messages if kind == "problem"]
    assert problems == [f"more than {MOST_MARKERS:,} markers: the rest are passed over"]
