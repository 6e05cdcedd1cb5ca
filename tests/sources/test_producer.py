"""The simulated instrument in a real process, writing into a real queue."""

import multiprocessing
import queue as queue_module
import time

import numpy as np
import pytest

from tarvinel.stelvane.sources.producer import ProducerProcess
from tarvinel.stelvane.protocol import PD, PN, PXY, ROLL, TD, TN, TXY
from tarvinel.stelvane.sources.instrument import TRACE_NAMES, ProducerOptions, point_names

CONTEXT = multiprocessing.get_context("spawn")


def read_for(queue, seconds, until=lambda items: False):
    """Items read for `seconds`, or fewer once `until(items)` holds."""
    items, end = [], time.monotonic() + seconds
    while time.monotonic() < end and not until(items):
        try:
            items.append(queue.get(timeout=0.1))
        except queue_module.Empty:
            pass
    return items


def rolls(items):
    return sum(item[0] == ROLL for item in items)


@pytest.fixture
def run_producer():
    started = []

    def run(options, maxsize=0):
        queue = CONTEXT.Queue(maxsize)
        epoch = time.monotonic()
        producer = ProducerProcess(CONTEXT, queue, options, epoch)
        producer.start()
        started.append(producer)
        return producer, queue, epoch

    yield run
    for producer in started:
        producer.stop()


def test_announces_then_streams_rows_rolls_and_complex_traces(run_producer):
    options = ProducerOptions(rate=3000, columns=10, run_length=500, trace_rate=20,
                              trace_points=11, point_pattern="time,sine", trace_pattern="freq,S.1")
    producer, queue, epoch = run_producer(options)
    items = read_for(queue, 20, until=lambda items: rolls(items) >= 4)
    assert producer.stop() == 0

    names = ["time", "sweep", "sine", "cosine", "sinc", "noise", "drift", "square", "ch8", "ch9"]
    assert point_names(10) == names and point_names(3) == names[:3]
    assert items[:4] == [(PN, names), (PXY, "time,sine"), (TN, list(TRACE_NAMES)),
                         (TXY, "freq,S.1")]
    rows, runs, traces = [], [[]], []
    for word, data in items[4:]:
        if word == PD:
            block = np.atleast_2d(np.asarray(data))
            assert isinstance(data, np.ndarray) or isinstance(data, list) and len(block) == 1
            rows.append(block)
            runs[-1].append(len(block))
        elif word == ROLL:
            assert data is None
            runs.append([])
        else:
            assert word == TD
            traces.append(data)
    rows = np.concatenate(rows)
    assert rows.shape[1] == 10 and len(rows) >= 2000
    # Rows are sampled at the rate, in order, and none is lost between blocks.
    assert np.allclose(np.diff(rows[:, 0]), 1 / 3000)
    assert rows[0, 0] >= 0 and epoch + rows[-1, 0] <= time.monotonic()
    assert [sum(run) for run in runs[:-1]] == [500] * (len(runs) - 1) and len(runs) >= 4
    assert np.allclose(rows[:500, 1], np.arange(500) / 500)  # the sweep restarts every run
    span = rows[-1, 0] - rows[0, 0]
    assert abs(len(traces) - 20 * span) <= 3
    for trace in traces:
        assert trace.shape == (11, 5) and trace.dtype == np.complex128
        assert np.all(trace[:, 0].imag == 0) and np.any(trace[:, 2].imag != 0)
        assert np.all(np.abs(trace[:, 2]) < 1.2)


def test_a_slow_rate_sends_single_rows_as_lists(run_producer):
    producer, queue, _ = run_producer(ProducerOptions(rate=20, columns=2, trace_rate=0))
    # A spawned producer may take seconds to start on a busy machine.
    items = read_for(queue, 20, until=lambda items: len(items) >= 6)
    assert [word for word, _ in items[:2]] == [PN, PXY]
    rows = [data for word, data in items[2:]]
    assert rows and all(type(row) is list and len(row) == 2 for row in rows)


def test_stops_promptly_even_when_nobody_reads(run_producer):
    producer, queue, _ = run_producer(ProducerOptions(rate=100_000, columns=4), maxsize=3)
    time.sleep(1.0)  # the queue is full and the producer waits in put()
    start = time.monotonic()
    assert producer.stop(timeout=5) == 0
    assert time.monotonic() - start < 2
    queue.close()
    queue.join_thread()


def test_ends_by_itself_after_its_seconds(run_producer):
    producer, queue, _ = run_producer(ProducerOptions(rate=100, seconds=0.3, trace_rate=0))
    producer.process.join(10)
    assert producer.process.exitcode == 0
    assert ProducerProcess(CONTEXT, queue, ProducerOptions(), 0.0).stop() is None  # never started


def test_stop_after_the_producer_was_killed_returns_at_once(run_producer):
    producer, queue, _ = run_producer(ProducerOptions(rate=10, trace_rate=0))
    queue.get(timeout=20)  # running, and soon waiting for the next row
    time.sleep(0.2)
    producer.process.kill()
    producer.process.join(5)
    start = time.monotonic()
    assert producer.stop(timeout=5) == -9
    assert time.monotonic() - start < 1
