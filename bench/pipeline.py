"""The live pipeline end to end: producer process -> queue -> intake -> data
set -> curves -> a painted frame, in the demo application's own window.

For each offered rate the window runs with all curves shown (every curve key
fed from a matched pair) and a roll every two seconds, and traces keep coming
at the demo's default rate. After a warm-up it measures, over a few seconds:
- points (rows) per second stored by the window;
- frames per second that showed new data (paints of the live plot);
- latency of every row from its sample time in the producer (the "time"
  column, on the machine-wide monotonic clock) to the end of the paint of
  the first frame that showed it: median and 95th percentile.
The window sustains a rate when it stores at least 98% of it, paints at least
30 new frames per second and keeps the 95th percentile under 100 ms.
"""
import math
import os
import pathlib
import sys
import tempfile
import time

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent))

if not os.environ.get("DISPLAY") and not os.environ.get("QT_QPA_PLATFORM"):
    os.environ["QT_QPA_PLATFORM"] = "offscreen"

import numpy as np  # noqa: E402

from tarvinel.stelvane import config, qt_compat  # noqa: E402  (binding before pyqtgraph)
from tarvinel.stelvane import settings  # noqa: E402

# The benchmarks' windows remember their settings in a folder of their own,
# gone at exit: a benchmark's pattern for standard input must not become the
# one the user's next `stelvane -` starts with.
_SETTINGS_HOME = tempfile.TemporaryDirectory(prefix="stelvane-bench-settings-")
qt_compat.QtCore.QSettings.setPath(settings.INI, settings.USER_SCOPE, _SETTINGS_HOME.name)

RATES = (50_000, 100_000, 200_000, 400_000, 800_000)
COLUMNS = 1 + len(config.ridx)   # "time" and one column per curve
PATTERN = "time,[^t].*"          # time against every other column
WARMUP = 1.5
MEASURE = 4.0
TARGET_RATE, TARGET_FPS, TARGET_P95 = 200_000, 30.0, 0.100


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
    """The figures of a running window: after its first rows and a warm-up,
    rows stored and fresh frames per second and row latency over MEASURE
    seconds. `meter`, if given, is called as recording starts and returns a
    function of the rows stored that gives more figures."""
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
    window.close()
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


def run_rate(app, rate):
    from tarvinel.stelvane.app import create_app

    window = create_app(["--rate", str(rate), "--columns", str(COLUMNS), "--pattern", PATTERN,
                         "--run-length", str(2 * rate)]).window
    return dict(measure(app, window), rate=rate)


def wait(app, done, seconds):
    end = time.monotonic() + seconds
    while not done() and time.monotonic() < end:
        app.processEvents(qt_compat.QtCore.QEventLoop.ProcessEventsFlag.AllEvents, 5)
        time.sleep(0.0005)


def sustained(result):
    return (result["stored"] >= 0.98 * result["rate"] and result["fps"] >= TARGET_FPS
            and result["p95"] < TARGET_P95)


def main():
    app = qt_compat.QtWidgets.QApplication.instance() or qt_compat.QtWidgets.QApplication([])
    print(f"{qt_compat.API}, {COLUMNS} columns, pattern {PATTERN!r}, {os.cpu_count()} cores; "
          f"{MEASURE:.0f} s per rate after {WARMUP} s warm-up", flush=True)
    print(f"{'offered/s':>10} {'stored/s':>10} {'fps':>5} {'curves':>6} "
          f"{'median ms':>9} {'p95 ms':>7} {'problems':>8}  sustained")
    best = 0
    for rate in RATES:
        r = run_rate(app, rate)
        ok = sustained(r)
        if ok:
            best = max(best, rate)
        print(f"{r['rate']:>10,} {r['stored']:>10,.0f} {r['fps']:>5.0f} {r['curves']:>6} "
              f"{1e3 * r['median']:>9.1f} {1e3 * r['p95']:>7.1f} {r['problems']:>8}  "
              f"{'yes' if ok else 'no'}", flush=True)
    verdict = "met" if best >= TARGET_RATE else "NOT met"
    print(f"highest rate sustained: {best:,} points/s (target {TARGET_RATE:,} points/s at "
          f">= {TARGET_FPS:.0f} fps, p95 < {TARGET_P95 * 1e3:.0f} ms: {verdict})")


if __name__ == "__main__":
    main()
