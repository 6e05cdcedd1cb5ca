"""The window's widgets: the plot view, the data boxes, the status bar with
its labels, and the small helpers they share (value and copy formatting).
"""

from collections import deque

from .. import ploter
from ..dataset import Dataset
from ..formats.valuetext import duration_text, iso_text, number_text, value_text
from ..model.columnkinds import PLAIN, with_unit
from ..protocol import TIME
from ..qt_compat import QtCore, QtWidgets
from .axisdraw import use_direct_axes
from .curvedraw import use_polylines


MIDDLE_BUTTON = QtCore.Qt.MouseButton.MiddleButton

# How long the status bar shows a problem or a source's message, in ms.
MESSAGE_MS = 15000


class PlotView(ploter.PlotWidget):
    """A plot widget that tells its owner what its middle button copied and
    when it has painted a frame."""

    def __init__(self, title: str, minimum_height: int = 200):
        super().__init__(minimum_height)
        use_direct_axes(self.plotItem)
        use_polylines(self)
        self.title_text = ""
        self.set_title(title)
        # pyqtgraph's own thinning and clipping stay off: they assume that x
        # grows with the row, which an X;Y pair need not do. The window hands
        # the curves data already thinned to the plot's width instead.
        # Construction fitted the empty view once, which switched following
        # the data off; a live plot follows its data.
        self.enable_auto_range()
        self.on_copied = None   # called with (text shown, clipboard text)
        self.on_painted = None  # called after each paint that showed new data
        self.fresh = False      # set by whoever feeds new data to the curves
        self.frames = 0         # paints that showed new data
        # How values read on each axis and on each curve (columnkinds.Shown),
        # as the plot feed last set them: the readout, the tracker and the
        # middle-button copy write values so.
        self.shown_x = self.shown_y = PLAIN
        self.curve_shown: dict = {}  # curve key -> (Shown of x, Shown of y)

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
        """(x, y) of curve `key` as it was fed, or with `as_drawn` as it is
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

    def set_labels(self, x_label: str, y_label: str) -> None:
        self.set_X_label(x_label)
        self.set_Y_label(y_label)
        # The corner labels are placed by hand, outside any layout: they only
        # grow to fit a longer text when asked to.
        self.XLabel.adjustSize()
        self.YLabel.adjustSize()

    def keyPressEvent(self, ev):
        # The widget's A calls pyqtgraph's setAutoPan without arguments,
        # which changes nothing: A follows the data again here.
        super().keyPressEvent(ev)
        if ev.text() in ("a", "A"):
            self.enable_auto_range()

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
        self._shown_version = None

    @property
    def column_names(self) -> list[str]:
        return self.dataset.column_names

    def refresh(self) -> None:
        ds = self.dataset
        if ds.version == self._shown_version:
            return
        self._shown_version = ds.version
        missing = f", {ds.nonfinite_values:,} not drawn (NaN or inf)" if ds.nonfinite_values else ""
        title = f"{self.caption}: run {ds.run_number}, {len(ds):,} rows{missing}"
        if title != self.title():  # a new title lays the box out and repaints it
            self.setTitle(title)
        names = ds.column_names
        last = ds.last_row() or ()
        described = ds.described
        self.table.setRowCount(len(names))
        for i, name in enumerate(names):
            self._set_cell(i, 0, with_unit(name, described.unit(i)))
            self._set_cell(i, 1, value_text(last[i], described.kind(i), described.words.get(i, ()))
                           if i < len(last) else "")

    def _set_cell(self, row: int, column: int, text: str) -> None:
        item = self.table.item(row, column)
        if item is None:
            self.table.setItem(row, column, QtWidgets.QTableWidgetItem(text))
        elif item.text() != text:
            item.setText(text)


format_value = number_text  # a number as the data box writes it


class StatusBar(QtWidgets.QStatusBar):
    """The window's status bar: a transient message on the left (problems,
    a data source's own news) and permanent labels on the right, each with
    a method that shows its figure."""

    def __init__(self):
        super().__init__()
        self.pointer_label = QtWidgets.QLabel()
        self.paused_label = QtWidgets.QLabel("‖ paused")
        self.counts_label = QtWidgets.QLabel()
        self.dropped_label = QtWidgets.QLabel()
        self.rate_label = QtWidgets.QLabel()
        self.pairs_label = QtWidgets.QLabel()
        self.copied_label = QtWidgets.QLabel()
        self.problems_label = QtWidgets.QLabel()
        for label in (self.pointer_label, self.paused_label, self.counts_label,
                      self.dropped_label, self.rate_label, self.pairs_label, self.copied_label,
                      self.problems_label):
            label.setContentsMargins(10, 0, 10, 0)
            self.addPermanentWidget(label)
        # Room for two numbers: the labels on its right stay where they are
        # while the pointer moves.
        self.pointer_label.setMinimumWidth(230)
        self.paused_label.setStyleSheet("QLabel { color: #b3261e; font-weight: bold; }")
        self.paused_label.hide()
        self.dropped_label.setStyleSheet("QLabel { color: #9a5b00; }")
        self.dropped_label.setToolTip("A run keeps its newest --max-rows rows in memory; "
                                      "start with a larger --max-rows to keep more")
        self.dropped_label.hide()
        self.copied = ""  # the clipboard text of the last middle-button copy

    def show_pointer(self, text: str) -> None:
        """The x and y under the pointer over a plot, "" when it is over none."""
        if text != self.pointer_label.text():
            self.pointer_label.setText(text)

    def show_paused(self, paused: bool) -> None:
        self.paused_label.setVisible(paused)

    def show_counts(self, points: Dataset, traces: Dataset) -> None:
        _show_text(self.counts_label,
                   f"points {points.rows_stored:,} (run {points.run_number}) · "
                   f"traces {traces.payloads_stored:,}")
        # Rows not kept are said, and how many, as long as the run lasts.
        dropped = " · ".join(
            f"{data.dropped:,} {'older rows' if data is points else 'rows of the trace'} "
            f"dropped: --max-rows {data.max_rows}" for data in (points, traces) if data.dropped)
        if dropped:
            _show_text(self.dropped_label, dropped)
        self.dropped_label.setVisible(bool(dropped))

    def show_rate(self, rows_per_second: float, frames_per_second: float) -> None:
        _show_text(self.rate_label, f"{rows_per_second:,.0f} points/s · {frames_per_second:.0f} fps")

    def show_pairs(self, matched: int, curves: int) -> None:
        """`matched` X;Y pairs, of which the first `curves` at most are drawn."""
        shown = min(matched, curves)
        _show_text(self.pairs_label,
                   f"pairs {matched}" if shown == matched else f"pairs {matched} ({shown} shown)")

    def show_copied(self, shown: str, clipboard_text: str) -> None:
        """A plot's middle-button copy: `shown` here, `clipboard_text` on the clipboard."""
        self.copied = clipboard_text
        self.copied_label.setText(f"copied {shown}")

    def show_problems(self, text: str, count: int, tool_tip: str) -> None:
        """The newest problem as the message, the count of all and the kept ones in the counter."""
        self.showMessage(text, MESSAGE_MS)
        self.problems_label.setText(f"⚠ {count}")
        self.problems_label.setToolTip(tool_tip)

    def show_source_message(self, text: str) -> None:
        """What a data source says about itself ("source ended" and the like)."""
        self.showMessage(text, MESSAGE_MS)


def _show_text(label: QtWidgets.QLabel, text: str) -> None:
    """Sets a status label's text only when it changed. The label keeps the
    widest room it has needed: a figure that gets a digit shorter and back
    does not lay the status bar (and the window beside it) out again."""
    if text == label.text():
        return
    label.setText(text)
    width = label.sizeHint().width()
    if width > label.minimumWidth():
        label.setMinimumWidth(width)


class RateMeter:
    """Rate of a growing count over the last `span` seconds."""

    def __init__(self, span: float = 1.0):
        self.span = span
        self._samples: deque[tuple[float, int]] = deque()

    def update(self, now: float, count: int) -> float:
        samples = self._samples
        samples.append((now, count))
        while len(samples) > 2 and now - samples[1][0] >= self.span:
            samples.popleft()
        (t0, c0), (t1, c1) = samples[0], samples[-1]
        return (c1 - c0) / (t1 - t0) if t1 > t0 else 0.0
