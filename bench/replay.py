"""Benchmark: replaying a recorded file, side by side with reading it.

1. A file of 1,000,000 rows (a date-time, a word, 8 numbers: bench/opencsv.py's)
   opened with `stelvane FILE --replay max` and with `stelvane FILE
   --no-follow` in turn (rounds alternating, so a busy machine weighs on
   both alike), each timed from the window's start until every row is
   stored and, for the replay, shown (the replay ended). The target: the
   replay stores at least 0.8 of the rows per second of the plain road.
2. Seeking: with the whole file read and the replay paused, the slider's
   handle is dragged with mouse events to 20 random rows; each time from the
   move to the end of the paint of the live plot that first shows the run
   up to that row, against the window's frame interval. The target: every
   seek painted within one frame (and by the first paint after it).
"""
import argparse
import pathlib
import tempfile
import time

import numpy as np

from harness.csvfile import made_file
from harness.measuring import LOAD_NOTE
from harness.qtapp import application
from harness.waiting import wait
from tarvinel.stelvane import qt_compat

QtCore, QtGui, QtWidgets = qt_compat.QtCore, qt_compat.QtGui, qt_compat.QtWidgets
LEFT = QtCore.Qt.MouseButton.LeftButton
ROWS = 1_000_000
ROUNDS = 3
SEEKS = 20


def open_file(app, path: pathlib.Path, rows: int, *road: str):
    """(window, seconds from its start until every row is stored and the
    source has ended, and for a replay until it has ended too)."""
    from tarvinel.stelvane.app import create_app

    start = time.perf_counter()
    window = create_app([str(path), *road, "--max-rows", str(rows),
                         "--pattern", "time,c.*"]).window
    replay = window.replay_bar.replay if window.replay_bar is not None else None
    done = (lambda: window.watch.source_ended is not None and (replay is None or replay.ended))
    wait(app, done, 600)
    spent = time.perf_counter() - start
    assert window.point_dataset.rows_stored == rows, window.summary()["problem_texts"]
    return window, spent


def mouse(widget, kind, position: QtCore.QPoint, buttons) -> None:
    local = QtCore.QPointF(position)
    QtWidgets.QApplication.sendEvent(widget, QtGui.QMouseEvent(
        kind, local, QtCore.QPointF(widget.mapToGlobal(position)), LEFT if kind !=
        QtCore.QEvent.Type.MouseMove else QtCore.Qt.MouseButton.NoButton, buttons,
        QtCore.Qt.KeyboardModifier.NoModifier))


def handle_at(slider, value: int | None) -> QtCore.QPoint:
    """The middle of the slider's handle (at `value`, or where it is)."""
    option = QtWidgets.QStyleOptionSlider()
    slider.initStyleOption(option)
    style, control = slider.style(), QtWidgets.QStyle.ComplexControl.CC_Slider
    groove = style.subControlRect(control, option, QtWidgets.QStyle.SubControl.SC_SliderGroove,
                                  slider)
    handle = style.subControlRect(control, option, QtWidgets.QStyle.SubControl.SC_SliderHandle,
                                  slider)
    if value is None:
        return handle.center()
    offset = QtWidgets.QStyle.sliderPositionFromValue(slider.minimum(), slider.maximum(), value,
                                                      groove.width() - handle.width())
    return QtCore.QPoint(groove.x() + offset + handle.width() // 2, handle.center().y())


def seek_latencies(app, window, seeks: int) -> list[float]:
    """Seconds from each drag of the handle to the paint that shows it."""
    replay, slider, live = window.replay_bar.replay, window.replay_bar.slider, window.live_plot
    window.controls.pause.setChecked(True)
    times = window.point_dataset.column("time")
    painted = []

    stale = []  # paints after a seek that did not show it yet

    def on_painted():
        x = live.plots[0].xData
        if x is not None and len(x) and replay.position and x[-1] == times[replay.position - 1]:
            painted.append(time.perf_counter())
        elif not painted:
            stale.append(1)
    live.on_painted = on_painted
    latencies = []
    for value in np.random.default_rng(7).integers(1, len(times), seeks):
        wait(app, lambda: False, 0.15)  # a quiet window between seeks
        painted.clear()
        stale.clear()
        mouse(slider, QtCore.QEvent.Type.MouseButtonPress, handle_at(slider, None), LEFT)
        target = handle_at(slider, int(value))
        start = time.perf_counter()
        mouse(slider, QtCore.QEvent.Type.MouseMove, target, LEFT)
        wait(app, lambda: painted, 2)
        latencies.append((painted[0] - start if painted else float("nan"), len(stale)))
        mouse(slider, QtCore.QEvent.Type.MouseButtonRelease, target, QtCore.Qt.MouseButton.NoButton)
    return latencies


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=ROWS, help="rows of the file (default %(default)s)")
    parser.add_argument("--rounds", type=int, default=ROUNDS, help="runs of each road (default %(default)s)")
    options = parser.parse_args(argv)
    rows = options.rows
    app = application()
    with tempfile.TemporaryDirectory(prefix="stelvane-replay-") as folder:
        path = made_file(folder, rows)
        path.read_bytes()  # into the page cache for both roads
        for road in (["--no-follow"], ["--replay", "max"]):  # a warm-up of each, not counted
            open_file(app, path, rows, *road)[0].close()
        seconds = {"--no-follow": [], "--replay": []}
        for _ in range(options.rounds):
            for road in (["--no-follow"], ["--replay", "max"]):
                window, spent = open_file(app, path, rows, *road)
                seconds[road[0]].append(spent)
                if road[0] == "--replay" and len(seconds["--replay"]) == options.rounds:
                    latencies, frame = seek_latencies(app, window, SEEKS), window.frame_interval
                window.close()
    plain, replayed = min(seconds["--no-follow"]), min(seconds["--replay"])
    ratio = plain / replayed
    print(f"--no-follow: every row stored in {plain:.2f} s (best of {options.rounds}: "
          f"{', '.join(f'{s:.2f}' for s in seconds['--no-follow'])}), {rows / plain:,.0f} rows/s")
    print(f"--replay max: every row stored and shown in {replayed:.2f} s (best of {options.rounds}: "
          f"{', '.join(f'{s:.2f}' for s in seconds['--replay'])}), {rows / replayed:,.0f} rows/s")
    print(f"rows/s ratio replay / no-follow {ratio:.2f} "
          f"(target >= 0.8: {'met' if ratio >= 0.8 else 'NOT met'})")
    latencies, stale = np.array(latencies).T
    within = int(np.sum(latencies <= frame))
    first = int(np.sum(stale == 0))
    print(f"{SEEKS} seeks, drag to painted frame: median {1e3 * np.median(latencies):.1f} ms, "
          f"longest {1e3 * np.max(latencies):.1f} ms; frame interval {1e3 * frame:.1f} ms; "
          f"longest / frame {np.max(latencies) / frame:.2f}, {within} of {SEEKS} within one frame "
          f"(target: all: {'met' if within == SEEKS else 'NOT met'}) {LOAD_NOTE}")
    print(f"the first paint after the seek showed it in {first} of {SEEKS} seeks", flush=True)


if __name__ == "__main__":
    main()
