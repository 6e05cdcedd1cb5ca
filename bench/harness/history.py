"""A window over a long history, panned and zoomed by script: the demo's
window with a data set of the benchmark's filling, its history plot drawing
eight curves, and the scripted sequence of pans and zooms a mouse drag or
the wheel would make."""

import queue as queue_module
import sys

from tarvinel.stelvane import config

from .qtapp import QtCore
from .starting import PATTERN
from .waiting import wait


def steps():
    """The scripted sequence: (kind, amount) on the history plot's view."""
    sequence = []
    for zoom in (0.7,) * 6:                      # zoom in towards the middle
        sequence.append(("zoom", zoom))
        sequence += [("pan", 0.05)] * 5            # drag right a bit at each level
    sequence += [("pan", -0.08)] * 20            # drag back across run borders
    sequence += [("zoom", 1 / 0.7)] * 6          # and out again
    sequence += [("pan", 0.1)] * 10
    return sequence


def apply(vb, kind, amount):
    (x0, x1), _ = vb.viewRange()
    if kind == "pan":
        vb.translateBy(x=amount * (x1 - x0))
    else:
        vb.scaleBy(x=amount, y=1.0, center=QtCore.QPointF((x0 + x1) / 2, vb.viewRange()[1][0]))


def history_window(app, fill):
    """A shown window whose data set `fill` filled, its history plot drawing
    every curve (the pattern's eight): the window and the plot."""
    from tarvinel.stelvane.window.mainwindow import MainWindow

    window = MainWindow(queue_module.Queue())
    window.resize(1200, 900)  # within the screen `make bench` gives it (1280 x 1024)
    window.show()
    fill(window.point_dataset)
    window.toolbar.ps.stx.set_text(PATTERN)
    window.start()
    history = window.history_plot
    filled = lambda: sum(1 for c in history.plots.values()  # noqa: E731
                         if c.xData is not None and len(c.xData)) == len(config.ridx)
    if not wait(app, filled, 120):
        sys.exit("the history plot never showed its eight curves")
    return window, history
