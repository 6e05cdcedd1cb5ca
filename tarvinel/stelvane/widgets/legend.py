"""The legend of a plot: one line per shown curve, a stroke and the curve's
name in its colour.

The legend is a label laid over the plot widget (like the widget's X: and Y:
captions), not an item of the plot's scene: the curves repaint the plot at
every frame, and a label is then only copied over them, where scene items
would be painted again, at a cost the live pipeline would notice. It is
rebuilt only when the names change.

It sits in a corner of the plot. Until the user drags it elsewhere it moves,
a few times a second at most, to the corner that covers the fewest of the
newest points, so it never hides what just arrived for long.
"""

from collections.abc import Sequence
import html

import numpy as np

from ..model.columnkinds import with_unit
from ..model.series import axis_label
from ..qt_compat import QtCore, QtGui, QtWidgets, event_point

# The corners by (x, y) in the plot's unit square, y downwards as on screen,
# in the order they are preferred when the data leaves several free.
CORNERS = ((0, 0), (1, 0), (0, 1), (1, 1))
# Pixels between the legend and the plot's edge.
MARGIN = 8
# The newest share of a curve's points that the legend should leave free
# above all; the older points count only to break ties.
NEWEST_SHARE = 0.25
# Points of each curve looked at when choosing a corner: enough to see where
# a curve runs, few enough to look four times a second.
SAMPLE_POINTS = 512
BACKGROUND = QtGui.QColor(255, 255, 255, 215)
BORDER = QtGui.QColor("#9aa5b1")
PADDING = (6, 3)  # pixels around the text, across and down
LEFT_BUTTON = QtCore.Qt.MouseButton.LeftButton


def curve_names(pairs: Sequence[tuple[str, str]], fx: str | None, fy: str | None,
                units: Sequence[str] = ()) -> list[str]:
    """The legend's text per XY pair: the Y column in its format with its
    unit (`units`, one per pair, if given), and the X column too when the
    pairs do not all share one."""
    shared_x = len({x for x, _ in pairs}) <= 1
    units = list(units) or [""] * len(pairs)
    names = []
    for (x, y), unit in zip(pairs, units):
        name = with_unit(axis_label([y], fy), unit if fy != "phase" else "")
        names.append(name if shared_x else f"{name} vs {axis_label([x], fx)}")
    return names


class LegendLabel(QtWidgets.QLabel):
    """The legend's label: the user may drag it anywhere over the plot; a
    double click gives its place back to the window."""

    def __init__(self, parent):
        super().__init__(parent)
        self.setCursor(QtCore.Qt.CursorShape.OpenHandCursor)
        self.setToolTip("Drag to move; a double click puts it back in its corner; "
                        "right click: the curves' Y axes")
        self.moved_by_user = False
        self._grab = None  # where in the label the drag took hold
        self.make_menu = None  # gives the context menu (a QMenu), or None for none

    def contextMenuEvent(self, ev):
        menu = self.make_menu() if self.make_menu is not None else None
        if menu is not None:
            menu.exec(ev.globalPos())
        ev.accept()

    def mousePressEvent(self, ev):
        if ev.button() == LEFT_BUTTON:
            self._grab = event_point(ev)
        ev.accept()

    def mouseMoveEvent(self, ev):
        if self._grab is not None:
            # Kept within the plot widget, where a double click can reach it.
            spot = self.mapToParent(event_point(ev) - self._grab)
            room = self.parentWidget().rect()
            self.move(max(0, min(spot.x(), room.width() - self.width())),
                      max(0, min(spot.y(), room.height() - self.height())))
            self.moved_by_user = True
        ev.accept()

    def mouseReleaseEvent(self, ev):
        self._grab = None
        ev.accept()

    def mouseDoubleClickEvent(self, ev):
        self.moved_by_user = False
        ev.accept()


def legend_picture(text: str, widget: QtWidgets.QWidget) -> QtGui.QPixmap:
    """The legend drawn once: rich `text` on a box. A picture is copied over
    the plot at each frame, where text would be laid out and drawn again."""
    document = QtGui.QTextDocument()
    document.setDefaultFont(widget.font())
    document.setDocumentMargin(0)
    document.setHtml(text)
    size = document.size().toSize()
    ratio = widget.devicePixelRatioF()
    pixmap = QtGui.QPixmap(round((size.width() + 2 * PADDING[0]) * ratio),
                           round((size.height() + 2 * PADDING[1]) * ratio))
    pixmap.setDevicePixelRatio(ratio)
    pixmap.fill(QtCore.Qt.GlobalColor.transparent)
    painter = QtGui.QPainter(pixmap)
    try:
        box = QtCore.QRectF(0.5, 0.5, size.width() + 2 * PADDING[0] - 1,
                            size.height() + 2 * PADDING[1] - 1)
        painter.setPen(BORDER)
        painter.setBrush(BACKGROUND)
        painter.drawRect(box)
        painter.translate(*PADDING)
        document.drawContents(painter)
    finally:
        painter.end()
    return pixmap


class CurveLegend:
    """The legend of one plot widget (a `views.PlotView`)."""

    def __init__(self, plot):
        self.plot = plot
        self.label = LegendLabel(plot)
        self.label.hide()
        self.names: tuple[tuple[object, str], ...] = ()  # (curve key, name) per entry
        self.shown = True
        self.corner = CORNERS[0]
        self._placed = None  # what the last placement read (see _placing)
        self._arrays = ()
        # The menu's choices go to these: (curve key, right or not), and (log or not).
        self.on_side = None
        self.on_right_log = None
        self.label.make_menu = self.side_menu

    def side_menu(self) -> QtWidgets.QMenu | None:
        """The legend's menu: each curve on the right Y axis or not, and the
        right axis' log scale."""
        if self.on_side is None:
            return None
        menu = QtWidgets.QMenu(self.label)
        right = self.plot.right_axis.keys
        for key, name in self.names:
            action = menu.addAction(f"{name} on the right axis")
            action.setCheckable(True)
            action.setChecked(key in right)
            action.toggled.connect(lambda on, key=key: self.on_side(key, on))
        menu.addSeparator()
        log = menu.addAction("Right axis: log scale")
        log.setCheckable(True)
        log.setChecked(self.plot.right_axis.log)
        log.setEnabled(bool(right))
        if self.on_right_log is not None:
            log.toggled.connect(self.on_right_log)
        return menu

    @property
    def entries(self) -> list[tuple[str, str]]:
        """(name, colour) of each entry, in order."""
        return [(name, self.plot.colors[key]) for key, name in self.names]

    def show_names(self, keys: Sequence, names: Sequence[str]) -> None:
        """Names the curves of `keys` (in that order); the other curves get no
        entry. Nothing happens when the entries are already these."""
        entries = tuple(zip(keys, names))
        if entries == self.names:
            return
        self.names = entries
        self.label.setPixmap(legend_picture("<br>".join(
            f"<span style='color:{self.plot.colors[key]}'>━━&nbsp;{html.escape(name)}</span>"
            for key, name in entries), self.label))
        self.label.adjustSize()
        self.label.setAccessibleName("legend: " + ", ".join(names))
        self._set_visible()
        self.place()

    def set_shown(self, shown: bool) -> None:
        self.shown = shown
        self._set_visible()
        self.place()

    def _set_visible(self) -> None:
        self.label.setVisible(self.shown and bool(self.names))

    def place(self) -> None:
        """Moves the legend to the corner that covers the fewest of the
        newest points (the current corner on a tie), unless the user put it
        somewhere; cheap enough to call a few times a second."""
        if not self.label.isVisible() or self.label.moved_by_user:
            return
        view = self._view_rect()
        if view.width() <= 0 or view.height() <= 0:
            return
        arrays, looks = self._placing()
        if looks == self._placed:
            return  # nothing it is placed by has changed
        points = self._points_in_pixels(view)
        spots = {corner: self._spot(corner, view) for corner in CORNERS}
        scores = {corner: _covered(points, spot) for corner, spot in spots.items()}
        best = min(CORNERS, key=lambda corner: scores[corner])
        if scores[best] < scores[self.corner]:
            self.corner = best
        spot = spots[self.corner]
        if self.label.geometry() != spot:
            self.label.move(spot.topLeft())
        self._arrays, self._placed = self._placing()

    def _placing(self):
        """(the curves' arrays, what the placement reads): the view, the
        captions and the label where they are, and which arrays the curves
        show (by identity; the arrays are kept with it, so no other array
        can take an identity over while it is compared)."""
        plot = self.plot
        arrays = tuple(array for key, _ in self.names
                       for array in (plot.plots[key].xData, plot.plots[key].yData))
        looks = (tuple(map(tuple, plot.plotItem.vb.viewRange())), self._view_rect(),
                 self.label.geometry(), plot.XLabel.geometry(), plot.YLabel.geometry(),
                 plot.XLabel.isVisible(), plot.YLabel.isVisible(), self.corner,
                 tuple(map(id, arrays)))
        return arrays, looks

    def _view_rect(self) -> QtCore.QRect:
        """The plot's data area in the widget's coordinates."""
        plot = self.plot
        scene_rect = plot.plotItem.vb.sceneBoundingRect()
        in_viewport = plot.mapFromScene(scene_rect).boundingRect()
        return in_viewport.translated(plot.viewport().pos())

    def _spot(self, corner, view: QtCore.QRect) -> QtCore.QRect:
        """Where the legend goes in `corner`. In the top left corner it keeps
        below the plot widget's X: and Y: captions."""
        size = self.label.size()
        left = view.left() + MARGIN if corner[0] == 0 else view.right() - MARGIN - size.width()
        top = view.top() + MARGIN if corner[1] == 0 else view.bottom() - MARGIN - size.height()
        if corner == (0, 0):
            for caption in (self.plot.XLabel, self.plot.YLabel):
                box = caption.geometry()
                if caption.isVisible() and box.right() > view.left():
                    top = max(top, box.bottom() + 1 + MARGIN // 2)
        return QtCore.QRect(QtCore.QPoint(left, top), size)

    def _points_in_pixels(self, view: QtCore.QRect):
        """The drawn points of the named curves in the widget's pixels (a
        sample of at most SAMPLE_POINTS per curve, in row order), and which
        of them are among each curve's newest."""
        (x0, x1), (y0, y1) = self.plot.plotItem.vb.viewRange()
        xs, ys, newest = [], [], []
        if not x1 > x0 or not y1 > y0:
            return None
        right = self.plot.right_axis
        for key, _ in self.names:
            data = self.plot.curve_data(key, as_drawn=True)
            if data is None:
                continue
            x, y = data
            if key in right.keys:  # in the right axis' units: as high on the left's
                (r0, r1) = right.y_range()
                y = y0 + (np.asarray(y, dtype=float) - r0) * ((y1 - y0) / (r1 - r0 or 1.0))
            step = -(-len(x) // SAMPLE_POINTS)
            x, y = x[::step], y[::step]
            xs.append(x)
            ys.append(y)
            recent = np.zeros(len(x), dtype=bool)
            recent[-max(1, int(len(x) * NEWEST_SHARE)):] = True
            newest.append(recent)
        if not xs:
            return None
        px = view.left() + (np.concatenate(xs) - x0) * (view.width() / (x1 - x0))
        py = view.top() + (y1 - np.concatenate(ys)) * (view.height() / (y1 - y0))
        return px, py, np.concatenate(newest)


def _covered(points, spot: QtCore.QRect) -> tuple[int, int]:
    """(newest points, all points) inside `spot`."""
    if points is None:
        return 0, 0
    px, py, newest = points
    with np.errstate(invalid="ignore"):
        inside = ((px >= spot.left()) & (px <= spot.right())
                  & (py >= spot.top()) & (py <= spot.bottom()))
    return int(np.count_nonzero(inside & newest)), int(np.count_nonzero(inside))
