"""Commands from a real producer process, through a real multiprocessing queue,
into the host's real data sets and toolbar."""

import multiprocessing
import warnings

import pytest

from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.toolbar import ToolBar
from tarvinel.stelvane.vandrel import Vandrel
from tests.support.standins import MainWindow

# The producer runs in a fresh interpreter: the test process has Qt loaded.
CONTEXT = multiprocessing.get_context("spawn")


def produce(queue, items):
    for item in items:
        queue.put(item)


@pytest.fixture
def host(qtbot):
    point, trace = Dataset(), Dataset()
    bar = ToolBar()
    qtbot.addWidget(bar)
    bar.set_mainwindow(MainWindow.with_boxes(point, trace))  # the data sets are the boxes
    queue = CONTEXT.Queue()
    yield Vandrel(queue, bar, point, trace)
    queue.close()
    queue.join_thread()


def run_producer(queue, items):
    """Starts a producer process and waits until all it put is in the pipe."""
    producer = CONTEXT.Process(target=produce, args=(queue, items))
    producer.start()
    producer.join(timeout=60)  # its queue's feeder thread has flushed by then
    assert producer.exitcode == 0


def rows(data):
    return [tuple(row) for row in data.rows]


def flush(vandrel):
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        vandrel.flush()
    return [str(w.message) for w in caught]


def test_commands_from_a_producer_reach_data_sets_and_toolbar(host):
    run_producer(host.queue, [
        ("PN", ["time", "alpha", "beta"]),
        ("TN", ["freq", "amp"]),
        ("PXY", "time,alpha; time,b.*"),
        ("PD", [0.0, 1.0, 2.0]),
        ("PD", [[1.0, 2.0, 3.0], [2.0, 4.0, 6.0]]),
        "PD",
        ("TD", [10.0, 0.5]),
        ("ROLL", None),
        ("PD", [3.0, 9.0, 27.0]),
        ("TXY", "freq,amp"),
        ("bogus", 1),
    ])
    assert flush(host) == ["QueueHandler - fifo Content must be tuple", "QueueHandler - unknown command : bogus"]
    assert host.queue.empty()

    point, trace, bar = host.point_dataset, host.trace_dataset, host.toolbar
    assert [rows(run) for run in point.history] == [[(0.0, 1.0, 2.0), (1.0, 2.0, 3.0), (2.0, 4.0, 6.0)]]
    assert rows(point) == [(3.0, 9.0, 27.0)] and point.column_names == ["time", "alpha", "beta"]
    assert rows(trace) == [(10.0, 0.5)] and trace.column_names == ["freq", "amp"] and len(trace.history) == 0
    assert (bar.ps.stx.text(), bar.ts.stx.text()) == ("time,alpha; time,b.*", "freq,amp")
    assert bar.xypairs == [("time", "alpha"), ("time", "beta")] and bar.mode == "P"
    assert bar.ytxt_lb.toolTip() == "['time', 'alpha', 'beta']"


def test_a_refused_row_ends_flush_and_the_rest_waits_for_the_next(host):
    run_producer(host.queue, [("PN", ["t", "v"]), ("PD", [0.0, 1.0]), ("PD", [1.0]), ("PD", [2.0, 3.0])])
    with pytest.raises(ValueError):  # the data set's own refusal, unchanged
        host.flush()
    assert rows(host.point_dataset) == [(0.0, 1.0)]
    assert not host.queue.empty()
    assert flush(host) == []
    assert rows(host.point_dataset) == [(0.0, 1.0), (2.0, 3.0)] and host.queue.empty()
