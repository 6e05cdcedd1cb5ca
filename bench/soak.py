"""The application held at speed for a long time: does it stay as it started?

The demo application's own window with the simulated instrument at 400,000
points per second (all curves shown, a roll every two seconds, traces at the
demo's rate) runs for 10 minutes (--minutes to shorten). Every 10 seconds it
samples:
- resident memory of the window's process and of the producer process;
- frames per second that showed new data (paints of the live plot);
- latency of every row from its sample time in the producer to the end of
  the paint of the first frame that showed it (bench/pipeline.py's probe):
  median and 95th percentile over the interval;
- rows stored per second and the finished runs the history holds.

Memory grows until the history holds its runs (--history, as the
application's option); the verdict compares what follows with itself:
- memory: the peak of the last minute's samples is less than 5% above the
  peak of the first minute's samples after the history filled;
- frame rate and 95th-percentile latency do not degrade: over the samples
  after the fill, the median of the second half keeps at least 90% of the
  first half's frame rate, and its latency stays within 10% (plus 5 ms, a
  frame's scheduling noise) of the first half's.

    python bench/soak.py [--minutes 10] [--rate 400000] [--interval 10]
"""
import argparse
import math
import os
import sys
import time

import numpy as np

from harness.measuring import Probe
from harness.starting import COLUMNS, PATTERN
from harness.waiting import wait
from tarvinel.stelvane import qt_compat

MEMORY_GROWTH = 0.05
FPS_KEPT = 0.90
P95_SLACK, P95_NOISE = 0.10, 0.005


def resident_mb(pid: int) -> float:
    try:
        with open(f"/proc/{pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024
    except FileNotFoundError:
        pass
    return math.nan


def parse_args(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--rate", type=int, default=400_000, help="points per second offered")
    parser.add_argument("--interval", type=float, default=10.0, help="seconds between samples")
    parser.add_argument("--history", type=int, default=10, help="finished runs the history keeps")
    return parser.parse_args(argv)


class Sampler:
    """One row of the series per interval, from the probe's frames since the last."""

    def __init__(self, app, window, probe, producer_pid):
        self.app, self.window, self.probe, self.producer_pid = app, window, probe, producer_pid
        self.rows = []
        self._since = time.monotonic()
        self._stored = window.point_dataset.rows_stored

    def take(self, elapsed: float) -> dict:
        now = time.monotonic()
        spent = now - self._since
        probe, points = self.probe, self.window.point_dataset
        latencies = np.concatenate(probe.latencies) if probe.latencies else np.array([math.nan])
        row = {
            "t": elapsed,
            "rss": resident_mb(os.getpid()),
            "producer_rss": resident_mb(self.producer_pid),
            "fps": probe.frames / spent,
            "median": float(np.median(latencies)),
            "p95": float(np.percentile(latencies, 95)),
            "stored": (points.rows_stored - self._stored) / spent,
            "history": len(points.history),
            "problems": self.window.problems.count,
        }
        probe.latencies.clear()  # ten minutes of rows would not fit in memory
        probe.frames = 0
        self._since, self._stored = now, points.rows_stored
        self.rows.append(row)
        return row


HEADER = (f"{'t s':>6} {'RSS MB':>8} {'prod MB':>8} {'fps':>5} {'median ms':>9} {'p95 ms':>7} "
          f"{'stored/s':>10} {'runs':>4} {'problems':>8}")


def line(row) -> str:
    return (f"{row['t']:>6.0f} {row['rss']:>8.1f} {row['producer_rss']:>8.1f} {row['fps']:>5.1f} "
            f"{1e3 * row['median']:>9.1f} {1e3 * row['p95']:>7.1f} {row['stored']:>10,.0f} "
            f"{row['history']:>4} {row['problems']:>8}")


def verdict(rows, history: int, interval: float) -> list[tuple[str, bool, str]]:
    """(what, held, figures) for each criterion, judged on the samples taken
    after the history had filled."""
    filled = [r for r in rows if r["history"] >= history]
    if len(filled) < 4:
        return [("enough samples after the history filled", False,
                 f"{len(filled)} of at least 4: run longer")]
    half = len(filled) // 2
    first, second = filled[:half], filled[half:]
    # Memory swings with the cycle of runs entering and leaving the history;
    # one sample against another would measure where in that cycle each was
    # taken. The peak of a minute's samples at each end measures growth.
    span = max(1, min(round(60 / interval), len(filled) // 4))
    peaks = [max(r["rss"] for r in part) for part in (filled[:span], filled[-span:])]
    grown = peaks[1] / peaks[0] - 1
    fps = [float(np.median([r["fps"] for r in part])) for part in (first, second)]
    p95 = [float(np.median([r["p95"] for r in part])) for part in (first, second)]
    return [
        ("memory grows less than 5% after the history filled", grown < MEMORY_GROWTH,
         f"peak of the first and the last {span} samples: {peaks[0]:.1f} -> {peaks[1]:.1f} MB "
         f"({100 * grown:+.1f}%)"),
        ("frame rate does not degrade", fps[1] >= FPS_KEPT * fps[0],
         f"median {fps[0]:.1f} -> {fps[1]:.1f} fps"),
        ("95th-percentile latency does not degrade", p95[1] <= (1 + P95_SLACK) * p95[0] + P95_NOISE,
         f"median {1e3 * p95[0]:.1f} -> {1e3 * p95[1]:.1f} ms"),
    ]


def main(argv=None) -> int:
    from tarvinel.stelvane.app import create_app

    args = parse_args(argv)
    app = qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])
    application = create_app(["--rate", str(args.rate), "--columns", str(COLUMNS), "--pattern", PATTERN,
                              "--run-length", str(2 * args.rate), "--history", str(args.history)])
    window = application.window
    probe = Probe(window)
    wait(app, lambda: len(window.point_dataset) > 0, 30)
    print(f"{qt_compat.API}, {args.rate:,} points/s offered, {COLUMNS} columns, pattern {PATTERN!r}, "
          f"a roll every 2 s, history of {args.history} runs, {os.cpu_count()} cores; "
          f"{args.minutes:g} min, a sample every {args.interval:g} s", flush=True)
    print(HEADER, flush=True)
    sampler = Sampler(app, window, probe, application.producer.process.pid)
    probe.recording = True
    start = time.monotonic()
    end = start + 60 * args.minutes
    next_sample = start + args.interval
    while next_sample <= end + 1e-9:
        wait(app, lambda: False, next_sample - time.monotonic())
        print(line(sampler.take(next_sample - start)), flush=True)
        next_sample += args.interval
    probe.recording = False
    window.close()

    held = True
    for what, ok, figures in verdict(sampler.rows, args.history, args.interval):
        held &= ok
        print(f"{'held' if ok else 'NOT held'}: {what} ({figures})")
    print(f"soak verdict: {'held' if held else 'NOT held'}")
    return 0 if held else 1


if __name__ == "__main__":
    sys.exit(main())
