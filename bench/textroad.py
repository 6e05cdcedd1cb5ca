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
import pathlib
import statistics
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

import numpy as np  # noqa: E402

from pipeline import (  # noqa: E402  (the binary road's measurement, shared)
    COLUMNS, MEASURE, PATTERN, TARGET_FPS, TARGET_P95, WARMUP, sustained)
from pipeline import measure as pipeline_measure  # noqa: E402
from tarvinel.stelvane import qt_compat  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane.sources.instrument import PointSource, ProducerOptions, point_names  # noqa: E402

RATES = (100_000, 200_000, 400_000, 500_000, 600_000, 800_000)
TARGET_RATE = 500_000
TARGET_RATIO = 0.6      # of the binary road's highest sustained rate
TARGET_FEED = 1.05      # the feed's cost per block against a raw put
# Rows of the instrument's signals the generator cycles through: over three
# live views' worth (the window shows the last 20,000 rows).
POOL = 1 << 16

# The generator: fixed-width text made with numpy from tables of digits, so
# that writing 500,000 rows per second takes a small part of a core (formatting
# row by row in Python would take all of one). Times are seconds since `epoch`
# (on the monotonic clock), written as 0012.345678; the rest of each row comes
# from a pool of the simulated instrument's rows, read from its standard input.
GENERATOR = r"""
import os, sys, time
import numpy as np
rate, roll_every, names, epoch = (float(sys.argv[1]), float(sys.argv[2]), sys.argv[3].split(","),
                                  float(sys.argv[4]))
TAILS = np.frombuffer(sys.stdin.buffer.read(), np.uint8)  # the text after the time, row by row
POOL = int(np.count_nonzero(TAILS == 10))
TAILS = TAILS.reshape(POOL, -1)

def digits(count, width):
    return ((np.arange(count)[:, None] // 10 ** np.arange(width - 1, -1, -1)) % 10 + 48).astype(np.uint8)

SECONDS, MICROSECONDS = digits(10_000, 4), digits(1_000_000, 6)
WIDTH = 11 + TAILS.shape[1]

def block(times, first):
    seconds, micro = np.divmod(np.round((times - epoch) * 1e6).astype(np.int64), 1_000_000)
    text = np.empty((len(times), WIDTH), np.uint8)
    text[:, :4], text[:, 4], text[:, 5:11] = SECONDS[seconds], 46, MICROSECONDS[micro]
    text[:, 11:] = TAILS[(first + np.arange(len(times))) % POOL]
    return text.tobytes()

def write(data):
    view = memoryview(data)
    while view:
        view = view[os.write(1, view):]

try:
    write((",".join(names) + "\n").encode())
    start = time.monotonic()
    sent, next_roll = 0, start + roll_every
    while True:
        now = time.monotonic()
        due = min(int((now - start) * rate) - sent, int(rate * 0.02) + 1)
        if due > 0:
            write(block(start + (sent + np.arange(due)) / rate, sent))
            sent += due
        if now >= next_roll:
            write(b"\n")
            next_roll += roll_every
        time.sleep(0.002)
except (BrokenPipeError, KeyboardInterrupt):
    pass
"""


def instrument_tails(rate: int) -> bytes:
    """The text after the time column of POOL rows of the simulated
    instrument's signals at `rate`, fixed width: the text road draws the same
    curves as the binary road (random values in every column would make every
    curve a dense zigzag, several times dearer to paint)."""
    source = PointSource(ProducerOptions(columns=COLUMNS, run_length=2 * rate), np.random.default_rng(1))
    values = np.clip(source.rows(np.arange(POOL) / rate, 0)[:, 1:], -9.99999, 9.99999)
    return "".join("," + ",".join(f"{v: .5f}" for v in row) + "\n" for row in values).encode()


def cpu_seconds(pid: int | None = None) -> float:
    """User and system CPU time of a process (this one by default), all threads."""
    if pid is None:
        times = os.times()
        return times.user + times.system
    try:
        fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    except FileNotFoundError:
        return math.nan
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def measure(app, window, others):
    """The figures of bench/pipeline.py for a running window, and the CPU
    seconds per million rows stored of the window and of `others` (name: pid)."""
    pids = {"window": None, "producer": window.producer.process.pid, **others}

    def cpu_meter():
        before = {name: cpu_seconds(pid) for name, pid in pids.items()}
        return lambda stored: {"cpu": {name: (cpu_seconds(pid) - before[name]) / max(stored, 1)
                                       * 1e6 for name, pid in pids.items()}}

    return pipeline_measure(app, window, cpu_meter)


def run_text_rate(app, rate):
    """The window reading `rate` rows per second of text from its standard input."""
    from tarvinel.stelvane.app import create_app

    read_end, write_end = os.pipe()
    epoch = time.monotonic()
    generator = subprocess.Popen(
        [sys.executable, "-c", GENERATOR, str(rate), "2", ",".join(point_names(COLUMNS)),
         repr(epoch)], stdin=subprocess.PIPE, stdout=write_end)
    generator.stdin.write(instrument_tails(rate))  # its rows, read before it writes any
    generator.stdin.close()
    os.close(write_end)
    saved_stdin = os.dup(0)
    os.dup2(read_end, 0)  # the window's standard input is the generator's pipe
    os.close(read_end)
    try:
        window = create_app(["-", "--pattern", PATTERN]).window
    finally:
        os.dup2(saved_stdin, 0)  # the producer has its own copy now
        os.close(saved_stdin)
    window.epoch = epoch  # the generator's times count from here
    try:
        return dict(measure(app, window, {"generator": generator.pid}), rate=rate)
    finally:
        generator.kill()
        generator.wait()


def run_binary_rate(app, rate):
    """The simulated instrument at `rate`, as bench/pipeline.py runs it."""
    from tarvinel.stelvane.app import create_app

    window = create_app(["--rate", str(rate), "--columns", str(COLUMNS), "--pattern", PATTERN,
                         "--run-length", str(2 * rate)]).window
    return dict(measure(app, window, {}), rate=rate)


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
    from tarvinel.stelvane.feed import Feed

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


def print_road(name, r):
    ok = sustained(r)
    cpu = " ".join(f"{who} {seconds:.2f}" for who, seconds in r["cpu"].items())
    print(f"{name:>7} {r['rate']:>10,} {r['stored']:>10,.0f} {r['fps']:>5.0f} {r['curves']:>6} "
          f"{1e3 * r['median']:>9.1f} {1e3 * r['p95']:>7.1f} {r['problems']:>8}  "
          f"{'yes' if ok else 'no ':<9} {cpu}", flush=True)
    return ok


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rates", type=lambda text: tuple(int(r) for r in text.split(",")),
                        default=RATES, help="rows per second to offer, comma separated")
    rates = parser.parse_args(argv).rates
    app = qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])
    print(f"{qt_compat.API}, {COLUMNS} columns, pattern {PATTERN!r}, {os.cpu_count()} cores; "
          f"{MEASURE:.0f} s per rate after {WARMUP} s warm-up; load average "
          f"{os.getloadavg()[0]:.1f} (other work on the machine slows every road)", flush=True)
    print(f"{'road':>7} {'offered/s':>10} {'stored/s':>10} {'fps':>5} {'curves':>6} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained "
          "CPU s per million rows stored")
    best = {"text": 0, "binary": 0}
    for rate in rates:
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
