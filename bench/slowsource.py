"""A slow source's cost: frames drawn and the window's share of a core while
rows come at a sensor's pace onto a long view.

A window over a queue of the benchmark's own first gets 10,000 rows (a
1000 s view of a slowly changing signal, drawn once), then rows at a steady
pace from a thread, as a sensor would send them: each 0.1 s further on the
X axis, a tenth of a pixel on a view a thousand seconds wide, at a height
that drifts by a small fraction of a pixel a row. Printed per pace: rows
per second, frames per second that showed new data, and this process'
processor time per second (all its threads; the feeding thread's own is
small) as a share of a core.

    python bench/slowsource.py [--seconds 4]
"""
import argparse
import multiprocessing
import os
import threading
import time

import numpy as np

from harness.qtapp import application
from harness.waiting import run_loop, wait
from tarvinel.stelvane import qt_compat

HISTORY = 10_000
STEP = 0.1
PACES = (0.1, 0.02, 0.005)  # seconds between rows


def signal(t):
    return np.column_stack([t, 10 * np.sin(t / 500), np.cos(t / 500)])


def feed(queue, pace: float, stop: threading.Event) -> None:
    t = STEP * HISTORY
    while not stop.wait(pace):
        queue.put(("PD", signal(np.array([t]))))
        t += STEP


def run_pace(app, pace: float, seconds: float) -> dict:
    from tarvinel.stelvane.window.mainwindow import MainWindow

    queue = multiprocessing.get_context("spawn").Queue()
    window = MainWindow(queue)
    window.show()
    window.start()
    for item in (("PN", ["t", "a", "b"]), ("PXY", "t,(a|b)"),
                 ("PD", signal(STEP * np.arange(HISTORY)))):
        queue.put(item)
    wait(app, lambda: len(window.point_dataset) == HISTORY, 30)
    run_loop(app, 1.0)
    stop = threading.Event()
    feeder = threading.Thread(target=feed, args=(queue, pace, stop), daemon=True)
    feeder.start()
    run_loop(app, 1.0)
    frames, rows = window.live_plot.frames, len(window.point_dataset)
    cpu, start = time.process_time(), time.monotonic()
    run_loop(app, seconds)
    spent = time.monotonic() - start
    figures = {"rows": (len(window.point_dataset) - rows) / spent,
               "fps": (window.live_plot.frames - frames) / spent,
               "core": (time.process_time() - cpu) / spent}
    stop.set()
    feeder.join()
    window.close()
    return figures


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=4.0)
    seconds = parser.parse_args(argv).seconds
    app = application()
    print(f"{qt_compat.API}, {os.cpu_count()} cores, load average {os.getloadavg()[0]:.2f}; "
          f"{seconds:.0f} s a pace", flush=True)
    print(f"{'rows/s':>8} {'frames/s':>9} {'core':>7}")
    for pace in PACES:
        r = run_pace(app, pace, seconds)
        print(f"{r['rows']:>8.1f} {r['fps']:>9.1f} {r['core']:>7.4f}", flush=True)


if __name__ == "__main__":
    main()
