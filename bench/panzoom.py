"""Pan and zoom over a long history: frames per second of the history plot.

The demo's window holds 10 finished runs of 1,000,000 rows each (nine
columns: "time", growing across the runs, and eight signals) and shows eight
curves (`time,[^t].*`). A scripted sequence of pans and zooms is applied to
the history plot's view, one step after each paint, the way a mouse drag or
the wheel moves it; the figure is the steps (each ended by a real paint of
the history plot) per second of wall time over the whole sequence.
It also reports the slowest paint, how long the curves took to show the full
detail of a new zoom level, and the processor time per step (what the figure
would be on a core of its own).
"""
import os
import sys
import time

import numpy as np

from harness.history import apply, history_window, steps
from harness.qtapp import PaintCounter, application
from harness.waiting import wait
from tarvinel.stelvane import config, qt_compat

RUNS = 10
ROWS = 1_000_000
RATE = 100_000.0  # rows per second of the made-up time column
TARGET_FPS = 30.0


def fill_history(dataset) -> None:
    names = ["time"] + [f"s{k}" for k in range(len(config.ridx))]
    dataset.set_column_names(names)
    rng = np.random.default_rng(7)
    for run in range(RUNS):
        t = (run * ROWS + np.arange(ROWS)) / RATE
        block = np.empty((ROWS, len(names)))
        block[:, 0] = t
        for k in range(1, len(names)):
            block[:, k] = np.sin(2 * np.pi * t * (0.05 * k)) + 0.05 * rng.standard_normal(ROWS) + k
        dataset.append(block)
        dataset.roll()
    dataset.append(np.zeros((1, len(names))))  # the current run: one row


def main():
    app = application()
    started = time.monotonic()
    window, history = history_window(app, fill_history)
    wait(app, lambda: False, 1.0)
    print(f"{qt_compat.API}, {RUNS} runs x {ROWS:,} rows, {len(config.ridx)} curves, "
          f"history plot {history.width()}x{history.height()} px, "
          f"{os.cpu_count()} cores; ready after {time.monotonic() - started:.1f} s", flush=True)

    vb = history.plotItem.vb
    counter = PaintCounter({"history": history.viewport()})
    durations, detail_waits = [], []
    detail_pending = None  # when the step was made whose full detail is not shown yet
    start, cpu_start = time.monotonic(), time.process_time()
    for kind, amount in steps():
        before = counter.paints["history"]
        step_start = time.monotonic()
        apply(vb, kind, amount)
        if not wait(app, lambda: counter.paints["history"] > before, 5):
            sys.exit("no paint after a step")
        now = time.monotonic()
        durations.append(now - step_start)
        # The curves' detail for a new zoom level or window is made over a
        # few frames while the steps go on, as they would under a dragging hand.
        if window.plot_presenters[1].job is None:  # the history plot's curves are all made
            if detail_pending is not None:
                detail_waits.append(now - detail_pending)
                detail_pending = None
        elif detail_pending is None:
            detail_pending = step_start
    spent = time.monotonic() - start
    fps = len(durations) / spent
    cpu = (time.process_time() - cpu_start) / len(durations)
    detail = (f"{1e3 * np.median(detail_waits):.0f} ms median, {1e3 * max(detail_waits):.0f} ms at most"
              if detail_waits else "at once")
    print(f"{len(durations)} pans and zooms in {spent:.1f} s: {fps:.1f} frames/s "
          f"({1e3 * np.median(durations):.1f} ms median per step, {1e3 * max(durations):.0f} ms "
          f"slowest); full detail after a new zoom level or window: {detail}")
    # The machine is shared: the processor time per step says what the
    # window itself needs, whatever else runs.
    print(f"processor time per step {1e3 * cpu:.1f} ms ({1 / cpu:.0f} frames/s on a free core)")
    print(f"target >= {TARGET_FPS:.0f} frames/s: {'met' if fps >= TARGET_FPS else 'NOT met'}")
    window.close()


if __name__ == "__main__":
    main()
