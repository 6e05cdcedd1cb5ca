"""The window's widgets: the plot view, the data boxes, the status bar with
its labels, and the small helpers they share (value and copy formatting).
"""

import math

from .. import ploter
from ..dataset import Dataset
from ..formats.valuetext import duration_text, iso_text, number_text, value_text
from ..model.columnkinds import PLAIN, with_unit
from ..model.siunits import frequency_unit, si_text
from ..protocol import NUMBER, TIME
from ..qt_compat import QtCore, QtWidgets
from .axisdraw import use_direct_axes
from .curvedraw import use_polylines
from .elided import elided_words
from .rightaxis import RightAxis


MIDDLE_BUTTON = QtCore.Qt.MouseButton.MiddleButton
CONTROL = QtCore.Qt.KeyboardModifier.ControlModifier



class PlotView(ploter.PlotWidget):
    """A plot widget that tells its owner what its middle button copied and
    when it has painted a frame."""

    def __init__(self, title: str, minimum_height: int = 100):
        super().__init__(minimum_height)
        self.right_axis = RightAxis(self)  # the second Y axis, for the curves put there
        self.right_shown = None  # how its values read (a columnkinds.Shown) while it has curves
        use_direct_axes(self.plotItem)
        use_polylines(self)
        self.title_text = ""
        self.set_title(title)
        # pyqtgraph's own thinning and clipping stay off: they assume that x
        # grows with the row, which an (X,Y) pair need not do. The window hands
        # the curves data already thinned to the plot's width instead.
        # Construction fitted the empty view once, which switched following
        # the data off; a live plot follows its data.
        self.enable_auto_range()
        self.on_copied = None   # called with (text shown, clipboard text)
        self.on_painted = None  # called after each paint that showed new data
        self.on_fit = None      # F: fits the view to all the data (the presenter's)
        self.fresh = False      # set by whoever sets new data on the curves
        self.frames = 0         # paints that showed new data
        # How values read on each axis and on each curve (columnkinds.Shown),
        # as the plot presenter last set them: the readout, the tracker and the
        # middle-button copy write values so.
        self.shown_x = self.shown_y = PLAIN
        self.curve_shown: dict = {}  # curve key -> (Shown of x, Shown of y)
        self.si_units = (None, None)  # X's and Y's unit written with SI prefixes ("Hz")

    def following(self) -> bool:
        """Whether the X range follows the data (auto-range; a pan or zoom stops it)."""
        return bool(self.plotItem.vb.autoRangeEnabled()[0])

    def x_view_and_data(self):
        """The x range shown, and the x range of the data (None while nothing is shown)."""
        vb = self.plotItem.vb
        data = vb.childrenBounds()[0]  # None, or a bound None, while nothing is shown
        if data is not None and None in data:
            data = None
        return tuple(vb.viewRange()[0]), data

    def curve_keys(self):
        """The keys of the plot's curves, in order."""
        return self.plots.keys()

    def curve_data(self, key, as_drawn: bool = False):
        """(x, y) of curve `key` as it was set, or with `as_drawn` as it is
        drawn (log10 of a log axis's values); None when the curve is hidden
        or empty."""
        curve = self.plots[key]
        if not curve.isVisible():
            return None
        x, y = curve.getData() if as_drawn else (curve.xData, curve.yData)
        if x is None or y is None or not len(x):
            return None
        return x, y

    def set_title(self, title: str) -> None:
        # A new title lays the plot out again: only when it changed.
        if title != self.title_text:
            self.title_text = title
            self.setTitle(title)
            self.place_corner_labels()

    def settle(self) -> None:
        """Fits the view to new data now rather than in the next paint: a
        range change during a paint asks for a second paint of the frame.

        The fit ends by moving the view's item group to the new range, and
        the group reports that to the view as a change of its children's
        bounds: the paint's own preparation would fit the view a second time
        and find the same range (the children's bounds, their pixel padding
        included, are read from the data and the view's size, not from that
        transform). The request is dropped here; any later change of data,
        size or range asks again. Not so while an axis fits the visible data
        only (the view box's menu offers it): then the other axis' new range
        may well change the fit."""
        vb = self.plotItem.vb
        relaxed = self._relax_range_limits()
        try:
            self.scene().prepareForPaint()
        finally:
            self._restore_range_limits(relaxed, vb.viewRect())
        if not any(vb.state["autoVisibleOnly"]):
            vb._autoRangeNeedsUpdate = False

    def _relax_range_limits(self) -> list:
        """A curve limits its data's range to a million view heights around
        the view (pyqtgraph's dynamicRangeLimit), and makes its curve again
        whenever the view's height changes to see whether that applies:
        after a fit, the same curve it was given a moment ago, in nearly
        every frame. Curves that show their data as given (no limit applied
        now, nothing else done to it) go through the fit without the limit;
        `_restore_range_limits` gives it back. Returns (curve, limit) pairs."""
        relaxed = []
        for curve in self.plots.values():
            limit = curve.opts["dynamicRangeLimit"]
            if limit is None or not curve.isVisible():
                continue
            x, y = curve.getData()
            if x is not None and x is curve.xData and y is curve.yData:
                curve.opts["dynamicRangeLimit"] = None
                relaxed.append((curve, limit))
        return relaxed

    @staticmethod
    def _restore_range_limits(relaxed, view) -> None:
        """The limits back; a curve the limit applies to in the new view
        (`view`, a QRectF) is made again as the view's change would have."""
        for curve, limit in relaxed:
            curve.opts["dynamicRangeLimit"] = limit
            if range_limited(curve.dataRect(), view, limit, curve.opts["dynamicRangeHyst"]):
                curve.updateItems(styleUpdate=False)

    def set_log_mode(self, x: bool, y: bool) -> None:
        # Switching makes pyqtgraph fit the view again, which would undo the
        # user's zoom at every format choice: only when the scale changes.
        axis = self.plotItem.getAxis("bottom"), self.plotItem.getAxis("left")
        if (axis[0].logMode, axis[1].logMode) != (x, y):
            self.plotItem.setLogMode(x=x, y=y)
            self.right_axis.set_log(self.right_axis.log)  # setLogMode reached its curves too

    def enable_auto_range(self) -> None:
        """Both Y axes (and X) follow the data again."""
        super().enable_auto_range()
        self.right_axis.enable_auto_range()

    def set_labels(self, x_label: str, y_label: str) -> None:
        self.set_X_label(x_label)
        self.set_Y_label(y_label)
        self.place_corner_labels()

    def place_corner_labels(self) -> None:
        """Both corner labels in the title's row, side by side, left of the
        title: over the view they would cover its top tick label, the top
        word of a text axis and the tracker's header. What does not fit
        before the title is cut, and shown whole on hover. They are placed
        by hand, outside any layout."""
        x_label, y_label = getattr(self, "XLabel", None), getattr(self, "YLabel", None)
        if x_label is None or y_label is None or self.plotItem is None:  # not made yet, or gone
            return
        x_label.adjustSize()
        y_label.adjustSize()
        x_label.move(4, 5)
        left = x_label.x() + x_label.width() + 14
        title = self.plotItem.titleLabel.item.boundingRect().width()
        room = max(40, int((self.width() - title) / 2) - left - 8)
        y_label.move(left, 5)
        y_label.resize(min(y_label.width(), room), y_label.height())
        y_label.setToolTip(y_label.text() if y_label.width() < y_label.sizeHint().width() else "")

    def resizeEvent(self, ev):
        super().resizeEvent(ev)
        self.place_corner_labels()

    def keyPressEvent(self, ev):
        # The widget's A calls pyqtgraph's setAutoPan without arguments,
        # which changes nothing: A follows the data again here.
        super().keyPressEvent(ev)
        if ev.text() in ("a", "A"):
            self.enable_auto_range()
        elif ev.text() in ("f", "F") and self.on_fit is not None:
            self.on_fit()  # the widget fitted to the curves, which may hold a part only

    def keyReleaseEvent(self, ev):
        super().keyReleaseEvent(ev)  # the widget fits F's view again on the release
        if ev.text() in ("f", "F") and self.on_fit is not None:
            self.on_fit()

    def wheelEvent(self, ev):
        # Over a time axis the wheel zooms X only (a Y range zoomed with it
        # would soon show nothing); Ctrl+wheel zooms both.
        vb = self.plotItem.vb
        enabled = list(vb.state["mouseEnabled"])
        x_only = self.shown_x.kind == TIME and not ev.modifiers() & CONTROL
        if x_only:
            vb.setMouseEnabled(x=enabled[0], y=False)
        try:
            super().wheelEvent(ev)
        finally:
            if x_only:
                vb.setMouseEnabled(*enabled)

    def mouseReleaseEvent(self, ev):
        middle = ev.button() == MIDDLE_BUTTON
        super().mouseReleaseEvent(ev)
        if middle and ploter.hasCliper and self.on_copied is not None:
            as_time = self.shown_x.kind == TIME and not self.plotItem.getAxis("bottom").logMode
            shown, text = copied_text(self.clippos1, self.clippos2, self.range_select, as_time)
            if as_time:  # the plot copied the number; a time goes as its ISO text
                ploter.pc.copy(text)
            self.on_copied(shown, text)

    def paintEvent(self, ev):
        super().paintEvent(ev)
        if self.fresh:
            self.fresh = False
            self.frames += 1
            if self.on_painted is not None:
                self.on_painted()


def range_limited(data, view, limit: float, hysteresis: float) -> bool:
    """Whether pyqtgraph cuts a curve whose data spans `data` (a QRectF, or
    None) to `limit` view heights around `view` (PlotDataItem's own test)."""
    height = view.height()
    return (data is not None and height > 0 and not data.bottom() < view.top()
            and not data.top() > view.bottom() and data.height() > 2 * hysteresis * limit * height)


def copied_text(first, second, is_range: bool, as_time: bool = False) -> tuple[str, str]:
    """What the status bar shows for a middle-button copy, and the clipboard
    text: numbers as the plot copies them, or for a time axis (`as_time`)
    local times and ISO 8601 texts, a range's difference as a duration."""
    if as_time:
        if not is_range:
            return f"x = {value_text(second, TIME)}", iso_text(second)
        return (f"x {value_text(first, TIME)} → {value_text(second, TIME)}  "
                f"(Δ {duration_text(second - first)})", f"{iso_text(first)},{iso_text(second)}")
    if not is_range:
        return f"x = {second}", f"{second}"
    return f"x {first} → {second}  (Δ {second - first:.6g})", f"{first},{second}"


class DataBox(QtWidgets.QGroupBox):
    """The columns of one data set with the newest value of each; the toolbar
    reads the column names from here."""

    def __init__(self, title: str, dataset: Dataset):
        super().__init__(title)
        self.caption = title
        self.dataset = dataset
        self.table = QtWidgets.QTableWidget(0, 2)
        self.table.setHorizontalHeaderLabels(["column", "last"])
        self.table.verticalHeader().setVisible(False)
        header = self.table.horizontalHeader()
        header.setStretchLastSection(True)
        header.setSectionResizeMode(0, QtWidgets.QHeaderView.ResizeMode.ResizeToContents)
        self.table.setEditTriggers(QtWidgets.QAbstractItemView.EditTrigger.NoEditTriggers)
        layout = QtWidgets.QVBoxLayout(self)
        layout.setContentsMargins(4, 4, 4, 4)
        layout.addWidget(self.table)
        self._shown_version = self._shown_run = None
        self.full_title = title
        # A word before the count of rows in the title (that they are the
        # first only): early, where a narrow box still shows it.
        self.note = ""

    def set_note(self, note: str) -> None:
        if note != self.note:
            self.note, self._shown_version = note, None  # the title is made again
            self.refresh()

    def _show_title(self) -> None:
        """What fits of the title, cut after a word; the whole on hover."""
        title = elided_words(self.full_title, self.fontMetrics(), max(0, self.width() - 16))
        if title != super().title():  # a new title lays the box out and repaints it
            self.setTitle(title)
            self.setToolTip(self.full_title if title != self.full_title else "")

    def title(self) -> str:
        """The whole title (the box shows what fits of it)."""
        return self.full_title

    def resizeEvent(self, event) -> None:
        super().resizeEvent(event)
        self._show_title()

    @property
    def column_names(self) -> list[str]:
        return self.dataset.column_names

    def refresh_if_new_run(self) -> None:
        """Shows a new run at once (each frame): the live plot's title, which
        names it, and the box never disagree."""
        if self.dataset.run_number != self._shown_run:
            self.refresh()

    def refresh(self) -> None:
        ds = self.dataset
        self._shown_run = ds.run_number
        if ds.version == self._shown_version:
            return
        self._shown_version = ds.version
        missing = f", {ds.nonfinite_values:,} not drawn (NaN or inf)" if ds.nonfinite_values else ""
        note = f"{self.note} " if self.note else ""
        self.full_title = f"{self.caption}: run {ds.run_number}, {note}{len(ds):,} rows{missing}"
        self._show_title()
        names = ds.column_names
        last = ds.last_row() or ()
        described = ds.described
        self.table.setRowCount(len(names))
        for i, name in enumerate(names):
            self._set_cell(i, 0, with_unit(name, described.unit(i)))
            self._set_cell(i, 1, "" if i >= len(last) else last_text(
                name, last[i], described.kind(i), described.unit(i), described.words.get(i, ())))

    def _set_cell(self, row: int, column: int, text: str) -> None:
        item = self.table.item(row, column)
        if item is None:
            self.table.setItem(row, column, QtWidgets.QTableWidgetItem(text))
        elif item.text() != text:
            item.setText(text)


def last_text(name: str, value, kind: str, unit: str, words) -> str:
    """A data box's value: a frequency with an SI prefix (1.42 GHz), else
    as the column's kind writes it."""
    hertz = frequency_unit(name, unit) if kind == NUMBER else None
    if hertz is not None and isinstance(value, float) and math.isfinite(value):
        return si_text(value, hertz)
    return value_text(value, kind, words)


format_value = number_text  # a number as the data box writes it
