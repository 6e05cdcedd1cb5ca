"""Curves whose line is drawn as one polyline.

pyqtgraph strokes a curve's line as a QPainterPath. With a thin (cosmetic)
pen Qt's raster engine drops pixels from such a path where its segments are
shorter than a pixel and change direction, as a thinned curve's are (the
lowest and the highest row of each bin, a fraction of a pixel apart): the
line shows gaps of a few pixels. The same points drawn as a polyline come
out whole, under Qt 5 and Qt 6 alike, and the polyline is also cheaper to
make (its points are filled from the data in one numpy copy).

A curve that is not one unbroken line (a gap for a non-finite value, a
fill, steps, pairs) is drawn by pyqtgraph as before.
"""

import numpy as np

from ..qt_compat import QtCore, QtGui  # chooses the binding: before pyqtgraph

import pyqtgraph as pg  # noqa: E402

NO_PEN = QtCore.Qt.PenStyle.NoPen
ANTIALIASING = QtGui.QPainter.RenderHint.Antialiasing


class PolylineCurve(pg.PlotCurveItem):
    """A PlotCurveItem that draws an unbroken line as one polyline."""

    _line_of = None  # what the kept polyline was made of: the data and the options
    _line = None     # that polyline, or None where the base class draws

    def paint(self, p, opt, widget):
        line = self._polyline()
        if line is None:
            super().paint(p, opt, widget)
            return
        exporting = self._exportOpts is not False
        p.setRenderHint(ANTIALIASING, self._exportOpts.get("antialias", True) if exporting
                        else self.opts["antialias"])
        if self.opts["compositionMode"] is not None:
            p.setCompositionMode(self.opts["compositionMode"])
        for kind in ("shadowPen", "pen"):
            pen = self.opts[kind]
            if pen is not None and pen.style() != NO_PEN:
                p.setPen(pen)
                p.drawPolyline(line)

    def _polyline(self):
        """The line as one QPolygonF, made again only for new data; None
        when the base class must draw it."""
        opts, x, y, kept = self.opts, self.xData, self.yData, self._line_of
        settings = (opts["connect"], opts["stepMode"],
                    opts["fillLevel"] is not None and opts["brush"] is not None)
        # The arrays themselves, not their ids: an id may come again for new data.
        if kept is None or kept[0] is not x or kept[1] is not y or kept[2] != settings:
            self._line_of = (x, y, settings)
            self._line = polyline_of(x, y) if self._one_line(settings) else None
        return self._line

    def _one_line(self, settings) -> bool:
        connect, steps, filled = settings
        x, y = self.xData, self.yData
        return (connect in ("all", "finite") and not steps and not filled
                and x is not None and len(x) > 1
                and bool(np.isfinite(x).all() and np.isfinite(y).all()))


def polyline_of(x: np.ndarray, y: np.ndarray):
    line = pg.functions.create_qpolygonf(len(x))
    points = pg.functions.ndarray_from_qpolygonf(line)
    points[:, 0] = x
    points[:, 1] = y
    return line


def use_polylines(plot_widget) -> None:
    """Gives each of the plot widget's curves (PlotDataItems) a PolylineCurve
    for its line, in place of the PlotCurveItem it made, styled alike."""
    for item in plot_widget.plots.values():
        made = item.curve
        made.sigClicked.disconnect(item.sigClicked)
        if made.scene() is not None:
            made.scene().removeItem(made)
        made.setParentItem(None)
        line = PolylineCurve()
        line.setParentItem(item)
        line.stackBefore(item.scatter)  # under the symbols, where the base class put it
        line.sigClicked.connect(item.sigClicked)
        item.curve = line
        item.updateItems(styleUpdate=True)
