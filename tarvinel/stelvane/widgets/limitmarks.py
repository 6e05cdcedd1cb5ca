"""What the limit lines draw on one plot: a dashed horizontal line per limit
whose curve the plot shows, in the curve's colour and labelled with its
name and value, and (where asked) a mark at each crossing on the line.
Neither changes what fitting the view fits.
"""

import math

import numpy as np
import pyqtgraph as pg

from ..qt_compat import QtCore

DASHED = QtCore.Qt.PenStyle.DashLine
MARK_SIZE = 11
MARK_PEN = pg.mkPen("#20262d", width=0.6)


def view_values(values, log: bool) -> np.ndarray:
    """Values in view units: log10 on a log axis (NaN where not positive)."""
    values = np.asarray(values, dtype=float)
    if not log:
        return values
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(values > 0, np.log10(values), np.nan)


class LimitMarks:
    """The limit lines of `plot` (a views.PlotView) and their crossings' marks."""

    def __init__(self, plot):
        self.plot = plot
        self.lines: dict = {}  # curve name -> pg.InfiniteLine
        self._shown = None  # what show() was last given, to draw only what changed
        self.crossings = pg.ScatterPlotItem(symbol="x", size=MARK_SIZE, pxMode=True)
        self.crossings.setZValue(860)
        plot.plotItem.vb.addItem(self.crossings, ignoreBounds=True)

    def _line(self, name: str):
        line = self.lines.get(name)
        if line is None:
            line = self.lines[name] = pg.InfiniteLine(
                angle=0, movable=False, label="", labelOpts={"position": 0.04, "anchors": [(0, 1), (0, 1)]})
            line.setZValue(840)
            self.plot.plotItem.vb.addItem(line, ignoreBounds=True)
        return line

    def show(self, shown: list) -> None:
        """`shown`: (name, value, colour, crossing X's or None) of each limit
        whose curve this plot shows; the other lines are hidden."""
        axis = self.plot.plotItem.getAxis
        log_x, log_y = bool(axis("bottom").logMode), bool(axis("left").logMode)
        state = (log_x, log_y, [(name, value, colour, marks and (len(marks), marks[-1]))
                                for name, value, colour, marks in shown])
        if state == self._shown:
            return
        self._shown = state
        names = set()
        spots_x, spots_y, brushes = [], [], []
        for name, value, colour, marks in shown:
            at = float(view_values([value], log_y)[0])
            names.add(name)
            line = self._line(name)
            line.setPen(pg.mkPen(colour, width=1.2, style=DASHED))
            line.label.setColor(colour)
            line.label.setFormat(f"{name} limit {value:g}")
            line.setVisible(math.isfinite(at))
            if math.isfinite(at):
                line.setPos(at)
            if marks:
                spots_x.append(view_values(marks, log_x))
                spots_y.append(np.full(len(marks), at))
                brushes += [pg.mkBrush(colour)] * len(marks)  # one brush, shared
        for name, line in self.lines.items():
            if name not in names:
                line.hide()
        self._mark(spots_x, spots_y, brushes)

    def _mark(self, xs, ys, brushes) -> None:
        if not brushes:
            self.crossings.clear()
            self.crossings.hide()
            return
        self.crossings.setData(x=np.concatenate(xs), y=np.concatenate(ys), brush=brushes,
                               pen=MARK_PEN)
        self.crossings.show()

    def marked(self) -> list[tuple[float, float]]:
        """The crossings marked, as (x, y) in view units."""
        if not self.crossings.isVisible():
            return []
        x, y = self.crossings.getData()
        return list(zip(x.tolist(), y.tolist()))
