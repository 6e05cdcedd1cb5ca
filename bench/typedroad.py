"""Benchmark: the typed road (`stelvane -` reading rows with an ISO 8601
time column and a text column among 8 numbers) beside the plain-numbers
road, each comma-separated and separated by runs of spaces, in one run.

For each rate and road a generator process (bench/harness/rowsender.py) writes the
rows into a pipe that is the window's standard input, as bench/textroad.py
does; the 8 numbers are the simulated instrument's signals (the same curves
on every road). The
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
import time

from harness.measuring import measure_fed, print_road
from harness.qtapp import application
from harness.starting import COLUMNS, piped_window, rates
from tarvinel.stelvane import qt_compat

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


def run_road(app, road: str, rate: int):
    """The window reading `rate` rows per second of one road from its standard input."""
    typed, sep = ROADS[road]
    names = ["time", "state", *NUMBERS] if typed else ["time", *NUMBERS]
    window, generator = piped_window(rate, ["-", "--pattern", PATTERN], "--sep", sep,
                                     *(["--typed"] if typed else []), names=names)
    if typed:
        # The probe takes a row's time as seconds after window.epoch on the
        # monotonic clock: for wall-clock times, that clock's offset.
        window.epoch = time.monotonic() - time.time()
    return measure_fed(app, window, rate, generator, "generator")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rates", type=rates,
                        default=RATES, help="rows per second to offer, comma separated")
    offered = parser.parse_args(argv).rates
    app = application()
    print(f"{qt_compat.API}, pattern {PATTERN!r}, {os.cpu_count()} cores; load average "
          f"{os.getloadavg()[0]:.1f}; roads: plain/typed, ',' comma- or '_' space-separated",
          flush=True)
    print(f"{'road':>7} {'offered/s':>10} {'stored/s':>10} {'fps':>5} {'curves':>6} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained "
          "CPU s per million rows stored")
    best = dict.fromkeys(ROADS, 0)
    for rate in offered:
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
