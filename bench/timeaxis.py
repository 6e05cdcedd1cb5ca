"""What a time axis costs while the user pans and zooms: the history plot of
the demo's window over one run of 1,000,000 rows whose first column is a
time (seconds since the epoch, a day across a daylight-saving change), with
the plain number axis and with the time axis in turn, the same scripted
sequence of pans and zooms as bench/panzoom.py, rounds alternating so that
a busy machine weighs on both alike. It prints the frames per second and
the processor time per step of each side by side, their ratio, and what the
axis itself takes to lay out its ticks and texts for one frame.
"""
import os
import sys
import time

os.environ.setdefault("TZ", "Europe/Berlin")
time.tzset()

import numpy as np  # noqa: E402

from harness.history import apply, history_window, steps  # noqa: E402
from harness.qtapp import PaintCounter, application  # noqa: E402
from harness.sidebyside import alternating  # noqa: E402
from harness.waiting import wait  # noqa: E402
from tarvinel.stelvane.widgets import axes  # noqa: E402
from tarvinel.stelvane import config, qt_compat  # noqa: E402
from tarvinel.stelvane.protocol import NUMBER, TIME  # noqa: E402

QtGui = qt_compat.QtGui

ROWS = 1_000_000
START = 1792890000 - 12 * 3600  # 2026-10-25, half a day before Berlin's clocks go back
ROUNDS = 2  # of each kind, alternating


def fill_run(dataset) -> None:
    names = ["time"] + [f"s{k}" for k in range(len(config.ridx))]
    dataset.set_column_names(names)
    t = START + np.arange(ROWS) * (86400 / ROWS)
    block = np.empty((ROWS, len(names)))
    block[:, 0] = t
    for k in range(1, len(names)):
        block[:, k] = np.sin(2 * np.pi * (t - START) / (3600 * k)) + k
    dataset.append(block)
    dataset.roll()
    dataset.append(block[-1:])  # the current run: one row


def one_round(app, plot):
    """(frames per second, processor seconds per step) over the sequence."""
    vb = plot.plotItem.vb
    vb.autoRange()
    wait(app, lambda: False, 0.3)
    counter = PaintCounter({"plot": plot.viewport()})
    sequence = steps()
    start, cpu_start = time.monotonic(), time.process_time()
    for kind, amount in sequence:
        before = counter.paints["plot"]
        apply(vb, kind, amount)
        if not wait(app, lambda: counter.paints["plot"] > before, 5):
            sys.exit("no paint after a step")
    spent = time.monotonic() - start
    return len(sequence) / spent, (time.process_time() - cpu_start) / len(sequence)


def layout_seconds(axis, repeats=200) -> float:
    """Processor time of one layout of the axis' ticks and texts, as a paint
    after a pan asks for it (the drawing of the picture left out)."""
    picture = QtGui.QPicture()
    painter = QtGui.QPainter(picture)
    try:
        low, high = axis.range
        start = time.process_time()
        for k in range(repeats):
            shift = (high - low) * 0.01 * k  # a new range each time, as a pan gives
            axis.range = [low + shift, high + shift]
            axis.generateDrawSpecs(painter)
        return (time.process_time() - start) / repeats
    finally:
        axis.range = [low, high]
        painter.end()


def main():
    app = application()
    window, plot = history_window(app, fill_run)
    print(f"{qt_compat.API}, one run of {ROWS:,} rows, {len(config.ridx)} curves, history plot "
          f"{plot.width()}x{plot.height()} px, TZ={os.environ['TZ']}", flush=True)

    def on_axis(kind):
        def round_figures():
            axes.set_axis_kind(plot, "bottom", kind)
            return one_round(app, plot)
        return round_figures

    results = alternating(ROUNDS, {kind: on_axis(kind) for kind in (NUMBER, TIME)})
    layouts = {}
    for kind in (NUMBER, TIME):
        axis = axes.set_axis_kind(plot, "bottom", kind)
        wait(app, lambda: False, 0.2)
        layouts[kind] = layout_seconds(axis)
    fps = {kind: np.median([r[0] for r in rounds]) for kind, rounds in results.items()}
    cpu = {kind: np.median([r[1] for r in rounds]) for kind, rounds in results.items()}
    print(f"{'':24}{'number axis':>14}{'time axis':>14}{'time/number':>14}")
    print(f"{'frames/s':24}{fps[NUMBER]:14.1f}{fps[TIME]:14.1f}{fps[TIME] / fps[NUMBER]:14.2f}")
    print(f"{'processor ms per step':24}{1e3 * cpu[NUMBER]:14.2f}{1e3 * cpu[TIME]:14.2f}"
          f"{cpu[TIME] / cpu[NUMBER]:14.2f}")
    print(f"{'axis layout ms a frame':24}{1e3 * layouts[NUMBER]:14.3f}{1e3 * layouts[TIME]:14.3f}"
          f"{layouts[TIME] / layouts[NUMBER]:14.2f}")
    window.close()


if __name__ == "__main__":
    main()
