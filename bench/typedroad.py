"""Benchmark: the typed road (`stelvane -` reading rows with an ISO 8601
time column and a text column among 8 numbers) beside the plain-numbers
road, each comma-separated and separated by runs of spaces, in one run.

For each rate and road a generator process writes the rows into a pipe that
is the window's standard input, as bench/textroad.py does; the 8 numbers are
the simulated instrument's signals (the same curves on every road). The
typed rows begin with the time they were written (UTC, `...T10:00:00.123456Z`)
and a state word (`idle`, `busy`, `wait`, `fail`); the plain rows with the
seconds since the generator started. The window is measured as
bench/pipeline.py measures it: rows stored per second, frames per second that
showed new data, and the latency of every row from its time to the end of
the paint that first showed it. A road sustains a rate when it stores at
least 98% of it, paints at least 30 new frames per second and keeps the 95th
percentile under 100 ms. The target: each typed road sustains 400,000 rows/s
and at least 0.7 of the plain road with the same separator.
"""
import argparse
import math
import os
import pathlib
import subprocess
import sys
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))

from textroad import instrument_tails, measure, print_road  # noqa: E402
from pipeline import COLUMNS  # noqa: E402
from tarvinel.stelvane import qt_compat  # noqa: E402  (binding before pyqtgraph)

RATES = (200_000, 400_000)
TARGET_RATE = 400_000
TARGET_RATIO = 0.7
NUMBERS = [f"c{i}" for i in range(1, COLUMNS)]
PATTERN = "time,c.*"  # the time against the 8 numbers: 8 curves on every road
ROADS = {  # name: (typed, separator)
    "plain ,": (False, ","),
    "typed ,": (True, ","),
    "plain _": (False, " "),
    "typed _": (True, " "),
}

# The generator: fixed-width text made with numpy from tables of digits, as
# bench/textroad.py makes it. argv: rate, roll seconds, typed (0/1), separator,
# the names, the monotonic time plain rows count from.
GENERATOR = r"""
import os, sys, time
import numpy as np
rate, roll_every, typed, sep = float(sys.argv[1]), float(sys.argv[2]), sys.argv[3] == "1", sys.argv[4]
names, start_mono = sys.argv[5].split(","), float(sys.argv[6])
TAILS = np.frombuffer(sys.stdin.buffer.read().replace(b",", sep.encode()), np.uint8)
POOL = int(np.count_nonzero(TAILS == 10))
TAILS = TAILS.reshape(POOL, -1)
WORDS = np.frombuffer(b"idlebusywaitfail", np.uint8).reshape(4, 4)

def digits(count, width):
    return ((np.arange(count)[:, None] // 10 ** np.arange(width - 1, -1, -1)) % 10 + 48).astype(np.uint8)

TWO, MICRO, FOUR = digits(100, 2), digits(1_000_000, 6), digits(10_000, 4)
DAY = time.strftime("%Y-%m-%dT", time.gmtime()).encode()
HEAD = 27 + 1 + 4 if typed else 11   # 2026-12-09T10:00:00.123456Z + sep + word, or 0012.345678
WIDTH = HEAD + TAILS.shape[1]

def block(times, first):
    text = np.empty((len(times), WIDTH), np.uint8)
    if typed:
        day_seconds, micro = np.divmod(np.round(times * 1e6).astype(np.int64) % 86_400_000_000, 1_000_000)
        hours, rest = np.divmod(day_seconds, 3600)
        minutes, seconds = np.divmod(rest, 60)
        text[:, :11] = np.frombuffer(DAY, np.uint8)
        text[:, 11:13], text[:, 13], text[:, 14:16] = TWO[hours], 58, TWO[minutes]
        text[:, 16], text[:, 17:19], text[:, 19] = 58, TWO[seconds], 46
        text[:, 20:26], text[:, 26], text[:, 27] = MICRO[micro], 90, ord(sep)
        text[:, 28:32] = WORDS[(first + np.arange(len(times))) // 1000 % 4]
    else:
        seconds, micro = np.divmod(np.round((times - start_mono) * 1e6).astype(np.int64), 1_000_000)
        text[:, :4], text[:, 4], text[:, 5:11] = FOUR[seconds], 46, MICRO[micro]
    text[:, HEAD:] = TAILS[(first + np.arange(len(times))) % POOL]
    return text.tobytes()

def write(data):
    view = memoryview(data)
    while view:
        view = view[os.write(1, view):]

try:
    write((sep.join(names) + "\n").encode())
    start = time.monotonic()
    # Typed rows carry the wall clock; plain ones the monotonic clock.
    offset = time.time() - time.monotonic() if typed else 0.0
    sent, next_roll = 0, start + roll_every
    while True:
        now = time.monotonic()
        due = min(int((now - start) * rate) - sent, int(rate * 0.02) + 1)
        if due > 0:
            write(block(offset + start + (sent + np.arange(due)) / rate, sent))
            sent += due
        if now >= next_roll:
            write(b"\n")
            next_roll += roll_every
        time.sleep(0.002)
except (BrokenPipeError, KeyboardInterrupt):
    pass
"""


def run_road(app, road: str, rate: int):
    """The window reading `rate` rows per second of one road from its standard input."""
    from tarvinel.stelvane.app import create_app

    typed, sep = ROADS[road]
    names = ["time", "state", *NUMBERS] if typed else ["time", *NUMBERS]
    read_end, write_end = os.pipe()
    mono_at_start = time.monotonic()
    generator = subprocess.Popen(
        [sys.executable, "-c", GENERATOR, str(rate), "2", "1" if typed else "0", sep,
         ",".join(names), repr(mono_at_start)], stdin=subprocess.PIPE, stdout=write_end)
    generator.stdin.write(instrument_tails(rate))
    generator.stdin.close()
    os.close(write_end)
    saved_stdin = os.dup(0)
    os.dup2(read_end, 0)
    os.close(read_end)
    try:
        window = create_app(["-", "--pattern", PATTERN]).window
    finally:
        os.dup2(saved_stdin, 0)
        os.close(saved_stdin)
    # The probe takes a row's time as seconds after window.epoch on the
    # monotonic clock: for wall-clock times, that clock's offset.
    window.epoch = time.monotonic() - time.time() if typed else mono_at_start
    try:
        return dict(measure(app, window, {"generator": generator.pid}), rate=rate)
    finally:
        generator.kill()
        generator.wait()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rates", type=lambda text: tuple(int(r) for r in text.split(",")),
                        default=RATES, help="rows per second to offer, comma separated")
    rates = parser.parse_args(argv).rates
    app = qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])
    print(f"{qt_compat.API}, pattern {PATTERN!r}, {os.cpu_count()} cores; load average "
          f"{os.getloadavg()[0]:.1f}; roads: plain/typed, ',' comma- or '_' space-separated",
          flush=True)
    print(f"{'road':>7} {'offered/s':>10} {'stored/s':>10} {'fps':>5} {'curves':>6} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained "
          "CPU s per million rows stored")
    best = dict.fromkeys(ROADS, 0)
    for rate in rates:
        for road in ROADS:
            if print_road(road, run_road(app, road, rate)):
                best[road] = max(best[road], rate)
    for sep in (",", "_"):
        plain, typed = best[f"plain {sep}"], best[f"typed {sep}"]
        ratio = typed / plain if plain else math.nan
        met = typed >= TARGET_RATE and ratio >= TARGET_RATIO
        print(f"'{sep}': highest rate sustained typed {typed:,} rows/s, plain {plain:,} rows/s, "
              f"ratio {ratio:.2f} (target typed >= {TARGET_RATE:,}, ratio >= {TARGET_RATIO}: "
              f"{'met' if met else 'NOT met'})", flush=True)


if __name__ == "__main__":
    main()
