"""A live window measured while rows come in.

A running window is measured after its first rows and a warm-up, over
MEASURE seconds:
- points (rows) per second stored by the window;
- frames per second that showed new data (paints of the live plot);
- latency of every row from its sample time (the "time" column, on the
  machine-wide monotonic clock, as seconds after `window.epoch`) to the end
  of the paint of the first frame that showed it: median and 95th percentile.
A window sustains a rate when it stores at least 98% of it, paints at least
30 new frames per second and keeps the 95th percentile under 100 ms.

Also the processor time of the processes involved (this one, the producer,
a sender), per million rows stored.
"""
import math
import os
import pathlib
import time

import numpy as np

from .qtapp import discard
from .waiting import wait

WARMUP = 1.5
MEASURE = 4.0
TARGET_FPS, TARGET_P95 = 30.0, 0.100
LOAD_NOTE = "(other work on the machine slows every road)"


class Probe:
    """Latency of each row at the first painted frame that showed it."""

    def __init__(self, window):
        self.window = window
        self.recording = False
        self.latencies = []
        self.frames = 0
        self.shown_up_to = -math.inf  # newest sample time already painted
        self.run = None
        window.live_plot.on_painted = self.painted

    def painted(self):
        now = time.monotonic()
        points = self.window.point_dataset
        if "time" not in points.column_names:
            return
        times = [points.column("time")]
        if self.run is not None and points.run_number != self.run and points.history:
            times.insert(0, points.history[-1].column("time"))  # rolled since the last frame
        self.run = points.run_number
        fresh = [t[np.searchsorted(t, self.shown_up_to, side="right"):] for t in times]
        fresh = np.concatenate(fresh)
        if not len(fresh):
            return
        self.shown_up_to = fresh[-1]
        if self.recording:
            self.frames += 1
            self.latencies.append(now - (self.window.epoch + fresh))


def measure(app, window, meter=None):
    """The figures of a running window, which it closes. `meter`, if given,
    is called as recording starts and returns a function of the rows stored
    that gives more figures."""
    probe = Probe(window)
    wait(app, lambda: len(window.point_dataset) > 0, 30)
    wait(app, lambda: False, WARMUP)
    shown = sum(1 for c in window.live_plot.plots.values() if c.xData is not None and len(c.xData))
    more = meter() if meter is not None else (lambda stored: {})
    probe.recording = True
    stored_before, start = window.point_dataset.rows_stored, time.monotonic()
    wait(app, lambda: False, MEASURE)
    stored, spent = window.point_dataset.rows_stored - stored_before, time.monotonic() - start
    probe.recording = False
    figures = more(stored)
    discard(window)
    latencies = np.concatenate(probe.latencies) if probe.latencies else np.array([math.nan])
    return {
        "stored": stored / spent,
        "fps": probe.frames / spent,
        "median": float(np.median(latencies)),
        "p95": float(np.percentile(latencies, 95)),
        "curves": shown,
        "problems": window.problems.count,
        **figures,
    }


def sustained(result):
    return (result["stored"] >= 0.98 * result["rate"] and result["fps"] >= TARGET_FPS
            and result["p95"] < TARGET_P95)


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


def measure_cpu(app, window, others, rate):
    """measure()'s figures at the offered `rate`, and the CPU seconds per
    million rows stored of the window, its producer and `others` (name: pid)."""
    pids = {"window": None, "producer": window.producer.process.pid, **others}

    def cpu_meter():
        before = {name: cpu_seconds(pid) for name, pid in pids.items()}
        return lambda stored: {"cpu": {name: (cpu_seconds(pid) - before[name]) / max(stored, 1)
                                       * 1e6 for name, pid in pids.items()}}

    return dict(measure(app, window, cpu_meter), rate=rate)


def cpu_text(result) -> str:
    return " ".join(f"{who} {seconds:.2f}" for who, seconds in result["cpu"].items())


def measure_fed(app, window, rate, sender, name="sender", others=None):
    """measure_cpu() of a window fed by the process `sender` (its CPU under
    `name`, beside `others`), which it then ends."""
    try:
        return measure_cpu(app, window, {name: sender.pid, **(others or {})}, rate)
    finally:
        sender.kill()
        sender.wait()


def print_road(name, r):
    ok = sustained(r)
    print(f"{name:>7} {r['rate']:>10,} {r['stored']:>10,.0f} {r['fps']:>5.0f} {r['curves']:>6} "
          f"{1e3 * r['median']:>9.1f} {1e3 * r['p95']:>7.1f} {r['problems']:>8}  "
          f"{'yes' if ok else 'no ':<9} {cpu_text(r)}", flush=True)
    return ok
