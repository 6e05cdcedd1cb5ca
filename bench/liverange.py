"""What a redraw of the live plot costs zoomed out over a long current run:
the demo's window with a current run of 1,000,000 rows (nine columns:
"time" and eight signals, eight curves of `time,[^t].*`) that grows by
5,000 rows a frame (300,000 rows/s at 60 frames/s; the run keeps its
newest 1,000,000), redrawn a frame at a time (the live plot's curves made
and the plot painted) while it follows the default window (the newest
20,000 rows) and while zoomed out over the whole run, in alternating
rounds so that a busy machine weighs on both alike. It prints the
milliseconds per redraw of each side by side and their ratio, the
frame's budget (16.7 ms at 60 Hz), what thinning the million rows
themselves would cost instead of their table of extremes, and how often
the plot redrew when nothing changed (it must not).
"""
import queue as queue_module
import time

import numpy as np

from harness.qtapp import application
from harness.sidebyside import alternating
from harness.starting import PATTERN
from harness.waiting import wait
from tarvinel.stelvane import config, qt_compat
from tarvinel.stelvane.model.series import pair_series
from tarvinel.stelvane.presenters.plots import points_wanted

ROWS = 1_000_000
BLOCK = 5_000  # new rows a frame
RATE = 100_000.0  # rows per second of the made-up time column
FRAMES = 60  # a round
ROUNDS = 3  # of each kind, alternating
BUDGET_MS = 1000 / 60


def block(first: int, count: int, width: int) -> np.ndarray:
    t = (first + np.arange(count)) / RATE
    rows = np.empty((count, width))
    rows[:, 0] = t
    noise = np.random.default_rng(first).standard_normal(count)
    for k in range(1, width):
        rows[:, k] = np.sin(2 * np.pi * t * (0.05 * k)) + 0.05 * noise + k
    return rows


def live_window(app):
    """A shown window whose current run holds ROWS rows, drawn as eight curves."""
    from tarvinel.stelvane.window.mainwindow import MainWindow

    window = MainWindow(queue_module.Queue())
    window.resize(1200, 900)
    window.show()
    names = ["time"] + [f"s{k}" for k in range(len(config.ridx))]
    window.point_dataset.set_column_names(names)
    window.point_dataset.append(block(0, ROWS, len(names)))
    window.toolbar.ps.stx.set_text(PATTERN)
    window.start()
    live = window.live_plot
    wait(app, lambda: sum(1 for c in live.plots.values() if c.xData is not None
                          and len(c.xData)) == len(config.ridx), 30)
    window.timer.stop()  # the frames are the benchmark's from here on
    return window


class Redraws:
    """Counts the live presenter's redraws (its curves made anew)."""

    def __init__(self, presenter):
        self.count = 0
        shown = presenter._show

        def counted(*args, **kwargs):
            self.count += 1
            return shown(*args, **kwargs)
        presenter._show = counted


def round_of(window, zoomed: bool, rows: int) -> tuple[list[float], int]:
    """FRAMES redraws (new rows, curves, paint): ms each, and the rows after."""
    live, data = window.live_plot, window.point_dataset
    if zoomed:
        time_column = data.column("time")
        live.setXRange(float(time_column[0]), float(time_column[-1]) + FRAMES * BLOCK / RATE,
                       padding=0)
    else:
        live.enable_auto_range()
    window.presenter.present()
    live.viewport().repaint()
    spent = []
    for _ in range(FRAMES):
        data.append(block(rows, BLOCK, len(data.column_names)))
        rows += BLOCK
        start = time.perf_counter()
        window.presenter.present()
        live.viewport().repaint()
        spent.append(1e3 * (time.perf_counter() - start))
    return spent, rows


def main():
    app = application()
    window = live_window(app)
    presenter, live = window.plot_presenters[0], window.live_plot
    redraws = Redraws(presenter)
    rows = [ROWS]  # the current run's, growing round after round

    def redrawn(is_zoomed):
        def round_spent():
            spent, rows[0] = round_of(window, is_zoomed, rows[0])
            return spent
        return round_spent

    rounds = alternating(ROUNDS, {"following": redrawn(False), "zoomed": redrawn(True)})
    following, zoomed = sum(rounds["following"], []), sum(rounds["zoomed"], [])
    # Zoomed out with nothing new: no redraw at all.
    before = redraws.count
    for _ in range(FRAMES):
        window.presenter.present()
        live.viewport().repaint()
    idle = redraws.count - before
    drawn = presenter.drawn_rows
    points = points_wanted(live)
    data, pairs = window.point_dataset, window.selection.pairs[:len(config.ridx)]
    thinnings = []
    for _ in range(5):
        start = time.perf_counter()
        for pair in pairs:
            pair_series(data, pair, None, None, None, points)
        thinnings.append(1e3 * (time.perf_counter() - start))
    direct = float(np.median(thinnings))
    window.close()
    f, z = np.median(following), np.median(zoomed)
    print(f"live plot, {len(pairs)} curves, {BLOCK:,} new rows a frame, {qt_compat.API}:")
    print(f"  following the newest 20,000 rows: {f:6.2f} ms per redraw (95th pct "
          f"{np.percentile(following, 95):.2f})")
    print(f"  zoomed out over {drawn:,} rows:  {z:6.2f} ms per redraw (95th pct "
          f"{np.percentile(zoomed, 95):.2f})")
    print(f"  ratio zoomed out / following: {z / f:.2f}; budget of a 60 Hz frame "
          f"{BUDGET_MS:.1f} ms: {'met' if z <= BUDGET_MS else 'NOT met'}")
    print(f"  thinning the {drawn:,} rows themselves instead of their table: {direct:.1f} ms "
          f"for the curves alone ({direct / z:.1f} times a whole redraw)")
    print(f"  redraws zoomed out with nothing new: {idle} in {FRAMES} frames")


if __name__ == "__main__":
    main()
