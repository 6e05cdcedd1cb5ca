"""Benchmark: the text road (`stelvane -`) beside the binary road (the simulated
instrument), and the feed's own cost.

For each rate, a generator process writes text rows of 9 numeric columns into
a pipe that is the window's standard input, as `python my_instrument.py |
stelvane -` would. A row's first column is the time it was sampled (on the
machine-wide monotonic clock), the others are the simulated instrument's
signals (both roads draw the same curves), and an empty line every two
seconds ends a run.
The window reads it through the stdin source (text parsed in the producer
process) and is measured the same way as bench/pipeline.py measures the
simulated instrument, which runs at the same rates in the same run:
- points (rows) per second stored by the window;
- frames per second that showed new data;
- latency of every row from its sample time to the end of the paint that
  first showed it: median and 95th percentile.
A road sustains a rate when it stores at least 98% of it, paints at least 30
new frames per second and keeps the 95th percentile under 100 ms.

Last, the feed's cost per block against putting the same command into the
queue directly: blocks sent through a real queue to a reading process, and
the time of the calls alone.
"""
import argparse
import math
import multiprocessing
import os
import statistics
import time

import numpy as np

from harness.measuring import (
    LOAD_NOTE, MEASURE, TARGET_FPS, TARGET_P95, WARMUP, measure_cpu, measure_fed, print_road)
from harness.qtapp import application
from harness.starting import COLUMNS, PATTERN, instrument_window, piped_window, rates
from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.sources.instrument import point_names

RATES = (100_000, 200_000, 400_000, 500_000, 600_000, 800_000)
TARGET_RATE = 500_000
TARGET_RATIO = 0.6      # of the binary road's highest sustained rate
TARGET_FEED = 1.05      # the feed's cost per block against a raw put


def run_text_rate(app, rate):
    """The window reading `rate` rows per second of text from its standard input."""
    window, generator = piped_window(rate, ["-", "--pattern", PATTERN])
    return measure_fed(app, window, rate, generator, "generator")


def run_binary_rate(app, rate):
    """The simulated instrument at `rate`, as bench/pipeline.py runs it."""
    return measure_cpu(app, instrument_window(rate), {}, rate)


# --- the feed's cost -------------------------------------------------------------------

def consume(queue, done):
    """Reads commands until ("END", None), then says how many blocks came."""
    blocks = 0
    while True:
        word, _ = queue.get()
        if word == "END":
            done.send(blocks)
            blocks = 0
        elif word == "PD":
            blocks += 1


class NullQueue:
    """A queue that keeps nothing: the cost of the feed's own work per call,
    without the queue's feeder thread taking the GIL in between."""

    def put(self, item, block=True, timeout=None):
        pass

    def qsize(self):
        return 0


def feed_costs(rows: int, blocks: int, trials: int = 5):
    """The feed against a raw put of the same command, for blocks of `rows`:
    seconds per block through a real queue to a reading process (`blocks` in a
    row, medians of `trials`, alternately), and seconds per call into a queue
    that keeps nothing (best of `trials`)."""
    from tarvinel.stelvane.app import QUEUE_ITEMS
    from tarvinel.stelvane.sources.feed import Feed

    context = multiprocessing.get_context("spawn")
    queue = context.Queue(QUEUE_ITEMS)
    done_reader, done_writer = context.Pipe(duplex=False)
    stop_reader, stop_writer = context.Pipe(duplex=False)
    consumer = context.Process(target=consume, args=(queue, done_writer), daemon=True)
    consumer.start()
    block = np.random.default_rng(2).standard_normal((rows, COLUMNS))

    def sender(queue, raw):
        if raw:
            return lambda: queue.put(("PD", block))
        feed = Feed(queue, stop_reader, pattern=PATTERN)
        feed.columns(point_names(COLUMNS))
        return lambda: feed.rows(block)

    def through(send):
        start = time.perf_counter()
        for _ in range(blocks):
            send()
        queue.put(("END", None))
        assert done_reader.recv() == blocks
        return (time.perf_counter() - start) / blocks

    def per_call(send, count=20_000):
        start = time.perf_counter()
        for _ in range(count):
            send()
        return (time.perf_counter() - start) / count

    raw, fed = sender(queue, True), sender(queue, False)
    passed = {raw: [], fed: []}
    for _ in range(trials):
        for send in (raw, fed):
            passed[send].append(through(send))
    null_raw, null_fed = sender(NullQueue(), True), sender(NullQueue(), False)
    calls = [min(per_call(send) for _ in range(trials)) for send in (null_raw, null_fed)]
    stop_writer.close()
    consumer.terminate()
    consumer.join()
    median = statistics.median
    return median(passed[raw]), median(passed[fed]), calls[0], calls[1]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rates", type=rates,
                        default=RATES, help="rows per second to offer, comma separated")
    offered = parser.parse_args(argv).rates
    app = application()
    print(f"{qt_compat.API}, {COLUMNS} columns, pattern {PATTERN!r}, {os.cpu_count()} cores; "
          f"{MEASURE:.0f} s per rate after {WARMUP} s warm-up; load average "
          f"{os.getloadavg()[0]:.1f} {LOAD_NOTE}", flush=True)
    print(f"{'road':>7} {'offered/s':>10} {'stored/s':>10} {'fps':>5} {'curves':>6} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained "
          "CPU s per million rows stored")
    best = {"text": 0, "binary": 0}
    for rate in offered:
        if print_road("text", run_text_rate(app, rate)):
            best["text"] = max(best["text"], rate)
        if print_road("binary", run_binary_rate(app, rate)):
            best["binary"] = max(best["binary"], rate)
    ratio = best["text"] / best["binary"] if best["binary"] else math.nan
    met = best["text"] >= TARGET_RATE and ratio >= TARGET_RATIO
    print(f"highest rate sustained: text {best['text']:,} rows/s, binary {best['binary']:,} "
          f"rows/s, ratio {ratio:.2f} (target text >= {TARGET_RATE:,} at >= {TARGET_FPS:.0f} fps, "
          f"p95 < {TARGET_P95 * 1e3:.0f} ms, ratio >= {TARGET_RATIO}: "
          f"{'met' if met else 'NOT met'})", flush=True)
    for rows, blocks in ((100, 3000), (5000, 400)):
        raw, fed, raw_call, fed_call = feed_costs(rows, blocks)
        print(f"feed, blocks of {rows:,} rows: {1e6 * fed:.1f} us per block through the queue "
              f"against {1e6 * raw:.1f} us for a raw put, ratio {fed / raw:.3f} "
              f"({'met' if fed / raw <= TARGET_FEED else 'NOT met'}: <= {TARGET_FEED}); "
              f"the feed's own work {1e6 * (fed_call - raw_call):.2f} us per call",
              flush=True)


if __name__ == "__main__":
    main()
