"""A main window over a queue the test fills itself, and what its plots
show: the curves' arrays, and which curves have any."""

import numpy as np

from tarvinel.stelvane import config
from tarvinel.stelvane.window.mainwindow import MainWindow

# How long the tests wait for a window to show what its producer sent: as
# long as for the application, which starts its producer the same way.
from .running import WAIT

__all__ = ["WAIT", "active_window", "curve_data", "filled_curves", "put_all"]


def active_window(qtbot, queue, **options):
    """A window over `queue` (with MainWindow's `options`), shown, active
    (its shortcuts need that) and running."""
    win = MainWindow(queue, **options)
    qtbot.addWidget(win)
    win.show()
    win.activateWindow()
    qtbot.waitActive(win)
    win.start()
    return win


def put_all(queue, items):
    for item in items:
        queue.put(item)


def curve_data(plot, key):
    curve = plot.plots[key]
    x = curve.xData if curve.xData is not None else np.empty(0)
    y = curve.yData if curve.yData is not None else np.empty(0)
    return x, y


def filled_curves(plot):
    return [key for key in config.ridx if len(curve_data(plot, key)[0])]
