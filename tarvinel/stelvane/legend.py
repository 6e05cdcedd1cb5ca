"""The legend of a plot: one entry per shown curve, its line and its name in
the curve's colour.

The legend sits in a corner of the plot. Until the user drags it elsewhere it
moves, a few times a second at most, to the corner that covers the fewest of
the newest points, so it never hides what just arrived for long. It is rebuilt
only when the names change, never per frame.
"""

from collections.abc import Sequence
import html

import numpy as np
import pyqtgraph as pg

from .render import axis_label

# The corners by (x, y) in the plot's unit square, y downwards as on screen,
# in the order they are preferred when the data leaves several free.
CORNERS = ((0, 0), (1, 0), (0, 1), (1, 1))
# Pixels between the legend and the plot's edge.
MARGIN = 8
# The newest share of a curve's points that the legend should leave free
# above all; the older points count only to break ties.
NEWEST_SHARE = 0.25


def curve_names(pairs: Sequence[tuple[str, str]], fx: str | None, fy: str | None) -> list[str]:
    """The legend's text per XY pair: the Y column in its format, and the X
    column too when the pairs do not all share one."""
    shared_x = len({x for x, _ in pairs}) <= 1
    names = []
    for x, y in pairs:
        name = axis_label([y], fy)
        names.append(name if shared_x else f"{name} vs {axis_label([x], fx)}")
    return names


class DraggableLegend(pg.LegendItem):
    """pyqtgraph's legend that notes when the user has moved it."""

    def __init__(self, **options):
        super().__init__(**options)
        self.moved_by_user = False

    def mouseDragEvent(self, ev):
        super().mouseDragEvent(ev)
        if ev.isAccepted():
            self.moved_by_user = True

    def mouseDoubleClickEvent(self, ev):
        # A double click gives the placement back to the window.
        super().mouseDoubleClickEvent(ev)
        self.moved_by_user = False


class CurveLegend:
    """The legend of one plot widget (a `ploter.PlotWidget`)."""

    def __init__(self, plot):
        self.plot = plot
        self.item = DraggableLegend(brush=(255, 255, 255, 215), pen=(154, 165, 177),
                                    labelTextSize="9pt", verSpacing=-6)
        self.item.setParentItem(plot.plotItem.vb)
        self.item.setZValue(1000)  # above the curves and the tracker
        self.corner = CORNERS[0]
        self._offset = None
        self._anchor(self.corner)
        self.names: tuple[tuple[object, str], ...] = ()
        self.shown = True

    def show_names(self, keys: Sequence, names: Sequence[str]) -> None:
        """Names the curves of `keys` (in that order); the other curves get no
        entry. Nothing happens when the entries are already these."""
        entries = tuple(zip(keys, names))
        if entries == self.names:
            return
        self.names = entries
        self.item.clear()
        for key, name in entries:
            curve = self.plot.plots[key]
            # A click on an entry's line hides its curve (pyqtgraph's legend
            # does that); new names mean new curves, all shown again.
            curve.setVisible(True)
            text = html.escape(name)  # the legend's labels read HTML
            self.item.addItem(curve, text)
            _, label = self.item.items[-1]
            label.setText(text, color=self.plot.colors[key])
        self.item.setVisible(self.shown and bool(entries))

    def set_shown(self, shown: bool) -> None:
        self.shown = shown
        self.item.setVisible(shown and bool(self.names))

    def place(self) -> None:
        """Moves the legend to the corner that covers the fewest of the
        newest points (the current corner on a tie), unless the user put it
        somewhere; cheap enough to call a few times a second."""
        if not self.item.isVisible() or self.item.moved_by_user:
            return
        scores = {corner: self._covered(corner) for corner in CORNERS}
        best = min(CORNERS, key=lambda corner: scores[corner])
        if scores[best] < scores[self.corner]:
            self.corner = best
        self._anchor(self.corner)

    def _anchor(self, corner) -> None:
        offset = self._offset_in(corner)
        if (corner, offset) != self._offset:
            self._offset = (corner, offset)
            self.item.anchor(itemPos=corner, parentPos=corner, offset=offset)

    def _offset_in(self, corner) -> tuple[float, float]:
        """Pixels from the plot's corner to the legend's. In the top left
        corner the legend keeps below the plot widget's X: and Y: captions,
        which are drawn over the plot."""
        dx = MARGIN if corner[0] == 0 else -MARGIN
        dy = MARGIN if corner[1] == 0 else -MARGIN
        if corner == (0, 0):
            view = self.plot.plotItem.vb.sceneBoundingRect()
            for caption in (self.plot.XLabel, self.plot.YLabel):
                box = caption.geometry()
                if caption.isVisible() and box.right() > view.left():
                    dy = max(dy, box.bottom() + 1 + MARGIN / 2 - view.top())
        return dx, dy

    def _covered(self, corner) -> tuple[int, int]:
        """(newest points, all points) of the shown curves that the legend
        would cover in `corner`."""
        vb = self.plot.plotItem.vb
        (x0, x1), (y0, y1) = vb.viewRange()
        width, height = vb.width(), vb.height()
        if width <= 0 or height <= 0:
            return (0, 0)
        size = self.item.boundingRect()
        # The legend's rectangle in view units; y grows upwards in the view.
        dx, dy = (x1 - x0) / width, (y1 - y0) / height
        w, h = size.width() * dx, size.height() * dy
        off_x, off_y = self._offset_in(corner)
        left = x0 + off_x * dx if corner[0] == 0 else x1 + off_x * dx - w
        top = y1 - off_y * dy if corner[1] == 0 else y0 - off_y * dy + h
        newest = every = 0
        for key, _ in self.names:
            curve = self.plot.plots[key]
            if not curve.isVisible():
                continue
            x, y = curve.getData()
            if x is None or not len(x):
                continue
            inside = (x >= left) & (x <= left + w) & (y <= top) & (y >= top - h)
            tail = max(1, int(len(x) * NEWEST_SHARE))
            newest += int(np.count_nonzero(inside[-tail:]))
            every += int(np.count_nonzero(inside))
        return newest, every
