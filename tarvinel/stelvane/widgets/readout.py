"""What is under the pointer over a plot: its x and y for the status bar, and,
with the tracker on, the value of every curve at the sample nearest to the
pointer's x, marked on the curve and written in the curve's colour.

The tracker reads the curves' own data, the samples drawn: wherever a curve
is thinned to the plot's width, each drawn point is still a real sample (the
lowest or highest of its bin), and zooming in draws them all.
"""

import html
import math

import numpy as np
import pyqtgraph as pg

from ..formats.valuetext import number_text
from ..model.columnkinds import PLAIN
from ..model.siunits import si_text
from ..protocol import TEXT, TIME
from ..qt_compat import QtCore

LEAVE = QtCore.QEvent.Type.Leave
TEXT_COLOUR = "#33404d"  # the toolbar's labels' colour
# Pointer moves handled per second at most; the scene reports many more.
MOVES_PER_SECOND = 60


format_number = number_text  # a number as the readout writes it


# How much of a time's text `2026-12-08 10:00:00.250` a pointer says, by
# the seconds one pixel spans: (at least these seconds, characters kept).
TIME_PRECISION = ((43_200, 10), (30, 16), (0.5, 19), (5e-4, 23))


def position_text(value: float, shown=PLAIN, per_pixel: float = 0.0, si_unit=None) -> str:
    """A place on an axis that shows `shown` (a columnkinds.Shown): a time
    as a local time, to the precision one pixel of the zoom (`per_pixel`,
    in X's units) can point at (daily data zoomed out: the day); a place on
    a text axis as the nearest code's word."""
    if shown.kind == TEXT and math.isfinite(value):
        return shown.text(float(round(value)))
    if si_unit is not None:
        return si_text(value, si_unit)
    text = shown.text(value)
    if shown.kind == TIME and len(text) >= 19 and text[4] == "-" and text[10] == " ":
        kept = next((chars for seconds, chars in TIME_PRECISION if per_pixel >= seconds), None)
        return text[:kept] if kept else text
    return text


class _SiShown:
    """A column's values written with an SI prefix (a frequency in Hz)."""

    def __init__(self, unit: str):
        self.unit = unit

    def text(self, value) -> str:
        return si_text(value, self.unit)


def _with_unit(shown, si_unit):
    """How the tracker writes a value: with SI prefixes where the axis does."""
    return shown if si_unit is None else _SiShown(si_unit)


class PointerReadout(QtCore.QObject):
    """The readout and tracker of one plot widget (a `views.PlotView`).

    `show_text` is called with the status bar's text, "" when the pointer
    has left the plot; the curves' names come from `legend` (a
    `legend.CurveLegend`) if given. The tracker draws a line at the
    pointer's x, a dot on each curve's nearest sample and, beside the line,
    a box with the curves' values in their colours."""

    def __init__(self, plot, show_text, legend=None):
        super().__init__(plot)
        self.plot = plot
        self.show_text = show_text
        self.legend = legend
        self.tracking = False
        self._over = False  # the last text shown was this plot's
        self.scene_pos = None  # where the pointer is, None when not over the plot
        self.values: dict = {}  # curve key -> (x, y) of the tracked sample
        self._heights: dict = {}  # curve key -> its sample's height in the left axis' units
        # Given curve key and name, the box's line of statistics (rich
        # text, "" for none) for the curve nearest to the pointer.
        self.stats_line = None
        dashed = pg.mkPen(TEXT_COLOUR, width=1, style=QtCore.Qt.PenStyle.DashLine)
        self.line = pg.InfiniteLine(angle=90, movable=False, pen=dashed)
        self.dots = pg.ScatterPlotItem(size=8, pen=pg.mkPen("#ffffff", width=1))
        self.box = pg.TextItem(fill=pg.mkBrush(255, 255, 255, 225), border=pg.mkPen("#9aa5b1"))
        # ignoreBounds: the tracker never changes what fitting the view fits.
        for tracker_item in (self.line, self.dots, self.box):
            tracker_item.setZValue(900)
            tracker_item.hide()
            plot.plotItem.vb.addItem(tracker_item, ignoreBounds=True)
        self._proxy = pg.SignalProxy(plot.scene().sigMouseMoved, rateLimit=MOVES_PER_SECOND,
                                     slot=self._moved)
        plot.viewport().installEventFilter(self)

    def set_tracking(self, on: bool) -> None:
        self.tracking = on
        self.refresh()

    def eventFilter(self, watched, event):
        if event.type() == LEAVE:
            self.scene_pos = None
            self.refresh()
        return False

    def _moved(self, args) -> None:
        self.scene_pos = args[0]
        self.refresh()

    def refresh(self) -> None:
        """Reads the plot again under the last pointer position: the data or
        the view may have moved under a pointer that stayed still."""
        vb = self.plot.plotItem.vb
        pos = self.scene_pos
        if pos is None or not vb.sceneBoundingRect().contains(pos):
            self._hide_tracker()
            if self._over:  # the other plot's readout may be showing by now
                self._over = False
                self.show_text("")
            return
        self._over = True
        point = vb.mapSceneToView(pos)
        log_x, log_y = self._log_modes()
        x = 10.0 ** point.x() if log_x else point.x()
        y = 10.0 ** point.y() if log_y else point.y()
        plot = self.plot
        (x0, x1), (y0, y1) = vb.viewRange()
        per_pixel = [(x1 - x0) / max(1.0, vb.width()), (y1 - y0) / max(1.0, vb.height())]
        per_pixel = [0.0 if log else step for step, log in zip(per_pixel, (log_x, log_y))]
        x_unit, y_unit = plot.si_units
        y2 = plot.right_axis.y_at(pos)
        right = ("" if y2 is None else
                 f"   y (right) = {position_text(y2, plot.right_shown or PLAIN)}")
        self.show_text(f"x = {position_text(x, plot.shown_x, per_pixel[0], x_unit)}   "
                       f"y = {position_text(y, plot.shown_y, per_pixel[1], y_unit)}{right}")
        if self.tracking:
            self._track(point.x(), log_x, log_y, point.y())
        else:
            self._hide_tracker()

    def _log_modes(self) -> tuple[bool, bool]:
        item = self.plot.plotItem
        return bool(item.getAxis("bottom").logMode), bool(item.getAxis("left").logMode)

    def _track(self, view_x: float, log_x: bool, log_y: bool, view_y: float = math.nan) -> None:
        self.values = {}
        self._heights = {}  # curve key -> its sample's height in the left axis' units
        spots, lines = [], []
        names = dict(self.legend.names) if self.legend is not None else {}
        for key in self.plot.curve_keys():
            sample = nearest_sample(self.plot.curve_data(key), view_x, log_x)
            if sample is None:
                continue
            x, y = sample
            shown_x, shown_y = (_with_unit(shown, unit) for shown, unit in zip(
                self.plot.curve_shown.get(key, (PLAIN, PLAIN)), self.plot.si_units))
            if not self.values:  # the first sample's x heads the box
                lines.append(f"<span style='color:{TEXT_COLOUR}'>x {html.escape(shown_x.text(x))}</span>")
            self.values[key] = sample
            colour = self.plot.colors[key]
            name = html.escape(names.get(key, f"curve {key}"))
            # A curve whose nearest sample lies elsewhere says where.
            at = ("" if x == next(iter(self.values.values()))[0]
                  else f" (x {html.escape(shown_x.text(x))})")
            lines.append(f"<span style='color:{colour}'>{name}: <b>{html.escape(shown_y.text(y))}</b>"
                         f"<small>{at}</small></span>")
            at = self._spot_of(key, x, y, log_x, log_y)
            if at is not None:
                spots.append({"pos": at, "brush": colour})
                self._heights[key] = at[1]
        nearest = self._nearest_curve(view_y)
        if nearest is not None and self.stats_line is not None:
            stats = self.stats_line(nearest, names.get(nearest, f"curve {nearest}"))
            if stats:
                lines.append(stats)
        self.line.setPos(view_x)
        self.line.show()
        self.dots.setData(spots)
        self.dots.setVisible(bool(spots))
        self._show_box(view_x, lines)

    def _spot_of(self, key, x: float, y: float, log_x: bool, log_y: bool):
        """Where a curve's sample (x, y) is in the left axis' view units, None
        when it is not finite there. A right axis curve's y is in that axis'
        units (log10 on its log scale), placed at the same height on the left."""
        right = self.plot.right_axis
        on_right = key in right.keys
        log = right.log if on_right else log_y
        at = (math.log10(x) if log_x else x, y if not log else math.log10(y) if y > 0 else math.nan)
        if not (math.isfinite(at[0]) and math.isfinite(at[1])):
            return None
        if on_right:
            point = right.to_left(*at)
            return point.x(), point.y()
        return at

    def _nearest_curve(self, view_y: float):
        """The key of the tracked curve whose sample lies nearest to the
        pointer's height `view_y` (the left axis' units), None when there is none."""
        if not self._heights or not math.isfinite(view_y):
            return None
        return min(self._heights, key=lambda key: abs(self._heights[key] - view_y))

    def _show_box(self, view_x: float, lines: list[str]) -> None:
        if not lines:
            self.box.hide()
            return
        self.box.setHtml("<br>".join(lines))
        (x0, x1), (_, y1) = self.plot.plotItem.vb.viewRange()
        # Beside the line, on the side with more room.
        self.box.setAnchor((0, 0) if view_x < (x0 + x1) / 2 else (1, 0))
        self.box.setPos(view_x, y1)
        self.box.show()

    def _hide_tracker(self) -> None:
        self.values = {}
        if self.line.isVisible():
            for tracker_item in (self.line, self.dots, self.box):
                tracker_item.hide()


def nearest_sample(data, view_x: float, log_x: bool):
    """(x, y) of the sample of a curve's `data` ((x, y) as set, or None)
    whose x is nearest to `view_x` (in view units: log10 of x on a log
    axis), None when the curve has no finite one; of samples at the same
    x the last (where a state plot steps, the word from there on). Works for
    any order of x: an (X,Y) pair need not grow with the row."""
    if data is None:
        return None
    x, y = data
    with np.errstate(divide="ignore", invalid="ignore"):
        shown_x = np.log10(x) if log_x else x
        distance = np.abs(np.asarray(shown_x, dtype=float) - view_x)
    distance[~(np.isfinite(distance) & np.isfinite(y))] = np.inf  # a gap is not a sample
    i = len(distance) - 1 - int(np.argmin(distance[::-1]))
    if not math.isfinite(distance[i]):
        return None
    return float(x[i]), float(y[i])
