"""Benchmark: what four derived series (--expr) cost the live window on
standard input.

A sender process writes 400,000 rows/s of text (the simulated instrument's
signals, 9 columns, a roll every two seconds) into the window's standard
input, as `python my_instrument.py | stelvane -` would, and the window is
measured as bench/textroad.py measures it (roads.py), in three set-ups taken
in turn, round after round, in one run:
- plain: eight curves of the columns, no derived series;
- computed: the same eight curves, and four derived series computed for
  every row (a product, a derivative, a moving average over 100 rows, an
  integral), not drawn;
- drawn: the four derived series drawn, in place of four of the columns
  (eight curves again).
Each set-up reports the rows per second stored, the frames per second that
showed new data, the 95th percentile of the rows' latency, the window's
processor time per million rows, and the processor time per million rows
of storing them (the thread's time in the points' Dataset.append, derived
series included: what storing costs whatever else the machine runs); at
the end the ratios of the derived set-ups' figures to plain's (the
median over the rounds, each round against its own plain). The target:
rows/s and frames/s at least 0.9 of plain's.

Last, what the four series cost by themselves, which other work on the
machine hardly disturbs: blocks of the road's typical size stored into a
data set (its runs as long as the window's) with and without them, the best
of several tries, as processor time per million rows and as the share of a
core they take at 400,000 rows/s.
"""
import argparse
import os
import statistics
import time
import timeit

import numpy as np

from harness.measuring import LOAD_NOTE, MEASURE, WARMUP, measure_fed
from harness.qtapp import application
from harness.starting import COLUMNS, piped_window
from tarvinel.stelvane import qt_compat
from tarvinel.stelvane.dataset import Dataset
from tarvinel.stelvane.model.expressions import parse_definition
from tarvinel.stelvane.sources.instrument import point_names

RATE = 400_000
ROUNDS = 9
TARGET_RATIO = 0.9
SERIES = ("product=sine*cosine", "slope=derivative(sine)", "mean=moving_average(noise, 100)",
          "area=integral(cosine)")
# The columns' eight curves by name: PATTERN ("time,[^t].*") would draw the
# derived series too.
COLUMNS_ONLY = "time,(sweep|sine|cosine|sinc|noise|drift|square|ch8)"
DRAWN = "time,(sine|cosine|sinc|noise|product|slope|mean|area)"
SETUPS = (("plain", COLUMNS_ONLY, ()), ("computed", COLUMNS_ONLY, SERIES), ("drawn", DRAWN, SERIES))
BLOCK_ROWS = 6000  # the median block the standard input road hands the window at 400,000 rows/s


class Storing:
    """The processor time of a data set's appends, and the rows stored."""

    def __init__(self, dataset):
        self.spent = 0.0
        self.dataset = dataset
        append = dataset.append

        def timed(data):
            start = time.thread_time()
            try:
                return append(data)
            finally:
                self.spent += time.thread_time() - start
        dataset.append = timed

    def per_million(self) -> float:
        return self.spent / max(self.dataset.rows_stored, 1) * 1e6


def run_setup(app, rate, pattern, series):
    argv = ["-", "--pattern", pattern, "--fresh"]
    for text in series:
        argv += ["--expr", text]
    window, sender = piped_window(rate, argv)
    storing = Storing(window.point_dataset)
    result = measure_fed(app, window, rate, sender)
    result["columns"] = len(window.point_dataset.column_names)
    result["storing"] = storing.per_million()
    return result


def storing_cost(series, rate: int, tries: int = 5) -> float:
    """Processor seconds per million rows of storing blocks of BLOCK_ROWS
    rows into a data set with the derived `series`, the best of `tries`."""
    names = point_names(COLUMNS)
    block = np.random.default_rng(1).standard_normal((BLOCK_ROWS, len(names)))
    block[:, 0] = np.arange(BLOCK_ROWS) / rate
    blocks = 2 * rate // BLOCK_ROWS  # a run of two seconds, as the road rolls

    def store():
        dataset = Dataset("points")
        dataset.set_derived([parse_definition(text) for text in series])
        dataset.set_column_names(names)
        for _ in range(2):
            for _ in range(blocks):
                dataset.append(block)
            dataset.roll()
    best = min(timeit.repeat(store, timer=time.process_time, number=1, repeat=tries))
    return best / (2 * blocks * BLOCK_ROWS) * 1e6


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rate", type=int, default=RATE)
    parser.add_argument("--rounds", type=int, default=ROUNDS)
    args = parser.parse_args()
    app = application()
    print(f"{qt_compat.API}, {args.rate:,} rows/s on standard input, {COLUMNS} columns, "
          f"{os.cpu_count()} cores; {MEASURE:.0f} s per set-up after {WARMUP} s warm-up, "
          f"{args.rounds} rounds; load average {os.getloadavg()[0]:.1f} {LOAD_NOTE}", flush=True)
    print(f"{'round':>5} {'set-up':>9} {'columns':>7} {'curves':>6} {'stored/s':>10} {'fps':>5} "
          f"{'p95 ms':>7} {'window cpu s/M rows':>19} {'storing s/M rows':>16} {'problems':>8}")
    results = {name: [] for name, _, _ in SETUPS}
    for round_number in range(1, args.rounds + 1):
        for name, pattern, series in SETUPS:
            r = run_setup(app, args.rate, pattern, series)
            results[name].append(r)
            print(f"{round_number:>5} {name:>9} {r['columns']:>7} {r['curves']:>6} "
                  f"{r['stored']:>10,.0f} {r['fps']:>5.0f} {1e3 * r['p95']:>7.1f} "
                  f"{r['cpu']['window']:>19.2f} {r['storing']:>16.3f} {r['problems']:>8}",
                  flush=True)
    print("ratios to plain (median over the rounds; each round against its own plain):")
    for name, _, _ in SETUPS[1:]:
        ratios = {figure: statistics.median(on[figure] / off[figure]
                                            for on, off in zip(results[name], results["plain"]))
                  for figure in ("stored", "fps", "p95")}
        cpu = statistics.median(on["cpu"]["window"] / off["cpu"]["window"]
                                for on, off in zip(results[name], results["plain"]))
        met = min(ratios["stored"], ratios["fps"]) >= TARGET_RATIO
        own = statistics.median((on["storing"] - off["storing"]) / off["cpu"]["window"]
                                for on, off in zip(results[name], results["plain"]))
        print(f"  {name:>9}: rows/s {ratios['stored']:.3f}, frames/s {ratios['fps']:.3f} "
              f"(target both >= {TARGET_RATIO}: {'met' if met else 'NOT met'}), p95 "
              f"{ratios['p95']:.3f}, window cpu per row {cpu:.3f}; storing the series "
              f"adds {own:.3f} of plain's window cpu per row", flush=True)
    plain, derived = storing_cost((), args.rate), storing_cost(SERIES, args.rate)
    print(f"storing blocks of {BLOCK_ROWS:,} rows, best of 5: {plain:.3f} s per million rows "
          f"without derived series, {derived:.3f} with the four: +{derived - plain:.3f} s per "
          f"million rows, {100 * (derived - plain) * args.rate / 1e6:.1f}% of a core at "
          f"{args.rate:,} rows/s", flush=True)


if __name__ == "__main__":
    main()
