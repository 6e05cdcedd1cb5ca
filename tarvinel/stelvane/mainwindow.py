"""The main window: owns the queue, the data sets, the toolbar, the plots and
the command intake, and turns the toolbar's published selection into curves.

One timer drives everything, at the display's frame rate: it lets the intake
drain the queue for part of the frame, then redraws once from what arrived.
However fast rows come in, the curves are redrawn at most once per frame.
"""

from collections import deque
import math
import queue as queue_module
import re
import sys
import time
import traceback
import warnings

from . import config, ploter
from .dataset import DataError, Dataset
from .qt_compat import QtCore, QtWidgets
from .render import CurveFeeder, axis_label, history_series, pair_series
from .toolbar import ToolBar
from .vandrel import Vandrel


def qt_enum(scope, enum_name: str, member: str):
    """A Qt enum member by its scoped name (PyQt6, PySide6) or its flat one (PyQt5)."""
    enum = getattr(scope, enum_name, None)
    value = getattr(enum, member, None) if enum is not None else None
    return value if value is not None else getattr(scope, member)


MIDDLE_BUTTON = qt_enum(QtCore.Qt, "MouseButton", "MiddleButton")
PRECISE_TIMER = qt_enum(QtCore.Qt, "TimerType", "PreciseTimer")

# The share of a frame the intake may spend draining the queue; the rest is
# for feeding the curves and painting, so the window stays responsive even
# when the producer sends more than can be shown.
INTAKE_SHARE = 0.5
# The share of a frame for making the history plot's curves; a long run is
# thinned over several frames.
HISTORY_SHARE = 0.25
# How often the status bar and the data boxes are brought up to date.
STATUS_INTERVAL = 0.25
# Width of the column of data boxes, in pixels.
DATA_BOX_WIDTH = 250
# Zooming in up to 2**MAX_ZOOM_STEPS times gives the curves more detail.
MAX_ZOOM_STEPS = 5
# Problems kept for the tool tip of the problem counter.
PROBLEMS_KEPT = 50


class DeadlineQueue:
    """The queue as the command intake sees it.

    It reports itself empty once the frame's time for draining is spent, so
    one drain cannot hold the GUI thread however fast the producer writes.
    Before it reports empty it waits up to `grace` seconds for an item: a
    large item reaches the pipe only while it is being read (the producer's
    feeder thread writes what the pipe can hold, then waits for the reader),
    so right after one item the next is often a moment away, and a drain that
    stopped there would leave it for the next frame.
    """

    def __init__(self, queue, grace: float = 0.001):
        self.queue = queue
        self.grace = grace
        self.deadline = math.inf
        self._held = []  # an item taken while looking, handed out by get()

    def empty(self) -> bool:
        if self._held:
            return False
        if time.monotonic() >= self.deadline:
            return True
        try:
            self._held.append(self.queue.get(timeout=self.grace))
        except queue_module.Empty:
            return True
        return False

    def get(self):
        return self._held.pop() if self._held else self.queue.get()


class HistoryJob:
    """New curves for the history plot, made a few per frame."""

    def __init__(self, runs, pairs, fx, fy, points, what):
        self.runs, self.pairs, self.fx, self.fy = runs, pairs, fx, fy
        self.points, self.what = points, what
        self.series = []


class PlotView(ploter.PlotWidget):
    """A plot widget that tells its owner what its middle button copied and
    when it has painted a frame."""

    def __init__(self, title: str, minimum_height: int = 200):
        super().__init__(minimum_height)
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

    def points_wanted(self) -> int:
        """How many points a curve needs to look exact: two per pixel column
        of the plot, times the zoom into the data (by powers of two, so that
        zooming does not make every frame a new size)."""
        vb = self.plotItem.vb
        points = 2 * max(200, int(vb.width()))
        if vb.autoRangeEnabled()[0]:
            return points
        data = vb.childrenBounds()[0]  # None, or a bound None, while nothing is shown
        view_low, view_high = vb.viewRange()[0]
        if data is None or None in data or not view_high > view_low:
            return points
        zoom = (data[1] - data[0]) / (view_high - view_low)
        steps = math.ceil(math.log2(max(zoom, 1)) - 1e-6)  # 8.000001 times is 8 times
        return points * 2 ** min(MAX_ZOOM_STEPS, max(0, steps))

    def set_title(self, title: str) -> None:
        # A new title lays the plot out again: only when it changed.
        if title != self.title_text:
            self.title_text = title
            self.setTitle(title)

    def settle(self) -> None:
        """Fits the view to new data now rather than in the next paint: a
        range change during a paint asks for a second paint of the frame."""
        self.scene().prepareForPaint()

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

    def mouseReleaseEvent(self, ev):
        middle = ev.button() == MIDDLE_BUTTON
        super().mouseReleaseEvent(ev)
        if middle and ploter.hasCliper and self.on_copied is not None:
            self.on_copied(*copied_text(self.clippos1, self.clippos2, self.range_select))

    def paintEvent(self, ev):
        super().paintEvent(ev)
        if self.fresh:
            self.fresh = False
            self.frames += 1
            if self.on_painted is not None:
                self.on_painted()


def copied_text(first, second, is_range: bool) -> tuple[str, str]:
    """What the status bar shows for a middle-button copy, and the clipboard text."""
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
        header.setSectionResizeMode(0, qt_enum(QtWidgets.QHeaderView, "ResizeMode", "ResizeToContents"))
        self.table.setEditTriggers(qt_enum(QtWidgets.QAbstractItemView, "EditTrigger", "NoEditTriggers"))
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
        self.setTitle(f"{self.caption}: run {ds.run_number}, {len(ds):,} rows")
        names = ds.column_names
        last = ds.last_row() or ()
        self.table.setRowCount(len(names))
        for i, name in enumerate(names):
            self._set_cell(i, 0, name)
            self._set_cell(i, 1, format_value(last[i]) if i < len(last) else "")

    def _set_cell(self, row: int, column: int, text: str) -> None:
        item = self.table.item(row, column)
        if item is None:
            self.table.setItem(row, column, QtWidgets.QTableWidgetItem(text))
        elif item.text() != text:
            item.setText(text)


def format_value(value) -> str:
    if isinstance(value, complex):
        return f"{value.real:.3g}{value.imag:+.3g}j"
    return f"{value:.6g}"


def describe_problem(error: BaseException) -> str:
    """One line for the status bar about what went wrong."""
    if isinstance(error, re.error):
        return f"invalid pattern {error.pattern!r}: {error}"
    if isinstance(error, DataError):
        return str(error)
    text = str(error)
    name = type(error).__name__
    return f"{name}: {text}" if text else name


class MainWindow(QtWidgets.QMainWindow):
    """The live-plotting window. `queue` is the producer's command queue;
    `producer` (optional) is stopped when the window closes."""

    def __init__(self, queue, *, producer=None, epoch: float | None = None,
                 live_rows: int = 20_000, max_rows: int = 1_000_000, max_history: int = 10):
        super().__init__()
        self.setWindowTitle("stelvane: live data")
        self.queue = queue
        self.producer = producer
        self.epoch = time.monotonic() if epoch is None else epoch
        self.live_rows = live_rows

        self.point_dataset = Dataset("points", max_rows=max_rows, max_history=max_history)
        self.trace_dataset = Dataset("traces", max_rows=max_rows, max_history=max_history,
                                     whole_runs=True)
        self.point_data_box = DataBox("Points", self.point_dataset)
        self.trace_data_box = DataBox("Traces", self.trace_dataset)

        # The toolbar reads the column names through this window, so it must
        # know the window before the intake hands it the first names.
        self.toolbar = ToolBar()
        self.toolbar.set_mainwindow(self)
        # Points are real numbers: show them as they are, not as magnitudes
        # (the Y selector's first item, meant for complex traces).
        self.toolbar.ps.fy.set_idx(self.toolbar.ps.fy.findText("real"))
        self.live_plot = PlotView("live")
        self.history_plot = PlotView("history")
        self.plots = [self.live_plot, self.history_plot]
        self.live_curves = CurveFeeder(self.live_plot, config.ridx)
        self.history_curves = CurveFeeder(self.history_plot, config.ridx)
        for plot in self.plots:
            plot.on_copied = self.show_copied
        self.intake_queue = DeadlineQueue(queue)
        self.vandrel = Vandrel(self.intake_queue, self.toolbar, self.point_dataset, self.trace_dataset)

        self._build_layout()
        self._build_status_bar()

        # What is on screen, so that a frame redraws only what changed.
        self._shown = {"live": None, "history": None, "mode": None}
        self._history_from = {"P": 0, "T": 0}  # first run number the history plot shows
        self._history_cache = {}  # series of finished runs, see history_series
        self._history_job = None  # a HistoryJob under way
        self.problems: deque[tuple[str, int]] = deque(maxlen=PROBLEMS_KEPT)  # (text, repeats)
        self.problem_count = 0
        self.copied = ""
        self.matched_pairs = 0
        self._rate_samples: deque[tuple[float, int]] = deque()
        self._frame_samples: deque[tuple[float, int]] = deque()
        self._next_status = 0.0
        self._closed = False
        self._producer_gone = False

        self._previous_excepthook = sys.excepthook
        sys.excepthook = self._excepthook

        self.frame_interval = frame_interval(self)
        self.timer = QtCore.QTimer(self)
        self.timer.setTimerType(PRECISE_TIMER)
        self.timer.setInterval(max(1, round(1000 * self.frame_interval)))
        self.timer.timeout.connect(self.tick)

    # --- layout ----------------------------------------------------------------

    def _build_layout(self) -> None:
        plots = QtWidgets.QSplitter(qt_enum(QtCore.Qt, "Orientation", "Vertical"))
        plots.addWidget(self.live_plot)
        plots.addWidget(self.history_plot)
        boxes = QtWidgets.QWidget()
        box_layout = QtWidgets.QVBoxLayout(boxes)
        box_layout.setContentsMargins(0, 0, 0, 0)
        box_layout.addWidget(self.point_data_box)
        box_layout.addWidget(self.trace_data_box)
        # A fixed width: the boxes' titles and values change several times a
        # second, and a panel that followed their width would resize (and
        # repaint) the plots beside it each time.
        boxes.setFixedWidth(DATA_BOX_WIDTH)
        body = QtWidgets.QSplitter(qt_enum(QtCore.Qt, "Orientation", "Horizontal"))
        body.addWidget(plots)
        body.addWidget(boxes)
        body.setStretchFactor(0, 4)
        body.setStretchFactor(1, 1)
        central = QtWidgets.QWidget()
        layout = QtWidgets.QVBoxLayout(central)
        layout.setContentsMargins(6, 6, 6, 0)
        layout.addWidget(self.toolbar)
        layout.addWidget(body, 1)
        self.setCentralWidget(central)
        self.resize(1200, 760)

    def _build_status_bar(self) -> None:
        bar = self.statusBar()
        self.counts_label = QtWidgets.QLabel()
        self.rate_label = QtWidgets.QLabel()
        self.pairs_label = QtWidgets.QLabel()
        self.copied_label = QtWidgets.QLabel()
        self.problems_label = QtWidgets.QLabel()
        for label in (self.counts_label, self.rate_label, self.pairs_label,
                      self.copied_label, self.problems_label):
            label.setContentsMargins(10, 0, 10, 0)
            bar.addPermanentWidget(label)

    # --- running ---------------------------------------------------------------

    def start(self) -> None:
        self.timer.start()

    def tick(self) -> None:
        """One frame: drain the queue for part of it, then redraw what changed."""
        start = time.monotonic()
        self.drain(start + INTAKE_SHARE * self.frame_interval)
        self.present()
        if start >= self._next_status:
            self._next_status = start + STATUS_INTERVAL
            self.refresh_status(start)

    def drain(self, deadline: float) -> None:
        """Applies queued commands until the queue is empty or `deadline` has
        passed. A command that fails is reported and the drain goes on with
        the next one (the intake has already taken the failed one)."""
        self.intake_queue.deadline = deadline
        try:
            while True:
                with warnings.catch_warnings():
                    # Every warning of the intake and the data sets, repeats
                    # included, goes to the status bar as it happens.
                    warnings.simplefilter("always")
                    warnings.showwarning = self._show_warning
                    try:
                        self.vandrel.flush()
                        finished = True
                    except Exception as error:  # bad input must not stop the intake
                        self.report(describe_problem(error))
                        finished = False
                if finished or time.monotonic() >= deadline:
                    return
        finally:
            self.intake_queue.deadline = math.inf

    def present(self) -> None:
        """Reads the toolbar's published values and flags, clears each flag it
        acts on, and feeds the curves whose data or selection changed."""
        tb = self.toolbar
        mode = tb.mode
        dataset = self.point_dataset if mode == "P" else self.trace_dataset
        mode_changed = mode != self._shown["mode"]
        if mode_changed:
            self._shown["mode"] = mode
        refeed = mode_changed
        if tb.xyfm_dirty:
            tb.xyfm_dirty = False
            for plot in self.plots:
                plot.set_log_mode(bool(tb.lx), bool(tb.ly))
            refeed = True
        if tb.link_dirty or mode_changed:
            tb.link_dirty = False
            self._apply_links(*tb.sharexy())
        if tb.xypairs_dirty:
            tb.xypairs_dirty = False
            refeed = True
        if tb.CR_flag:
            tb.CR_flag = False
            self._history_from["P"] = self.point_dataset.run_number
            self._history_from["T"] = self.trace_dataset.run_number
            self._shown["history"] = None

        pairs = list(tb.xypairs)
        self.matched_pairs = len(pairs)
        shown_pairs = pairs[:len(config.ridx)]
        fx, fy = tb.fx, tb.fy
        if refeed:
            self._shown["live"] = self._shown["history"] = None
            xs = [p[0] for p in shown_pairs]
            ys = [p[1] for p in shown_pairs]
            for plot in self.plots:
                plot.set_labels(axis_label(xs, fx), axis_label(ys, fy))

        points = self.live_plot.points_wanted()
        live_state = (mode, dataset.version, points)
        if live_state != self._shown["live"]:
            self._shown["live"] = live_state
            self.live_curves.show([pair_series(dataset, p, fx, fy, self.live_rows, points)
                                   for p in shown_pairs])
            self.live_plot.fresh = True
            self.live_plot.settle()
            self.live_plot.set_title(f"live: {'run' if mode == 'P' else 'trace'} {dataset.run_number}")
        points = self.history_plot.points_wanted()
        history_state = (mode, dataset.history_version, self._history_from[mode], points)
        if history_state != self._shown["history"]:
            self._shown["history"] = history_state
            runs = [r for r in dataset.history if r.number >= self._history_from[mode]]
            kept = set(runs)
            self._history_cache = {k: v for k, v in self._history_cache.items() if k[0] in kept}
            self._history_job = HistoryJob(runs, shown_pairs, fx, fy, points,
                                           "run" if mode == "P" else "trace")
        if self._history_job is not None:
            self._advance_history(time.monotonic() + HISTORY_SHARE * self.frame_interval)

    def _advance_history(self, deadline: float) -> None:
        """Works on the history plot's new curves until `deadline` (one curve
        at least), and shows them all at once when they are done. A long run
        takes a while to thin for eight curves; spread over a few frames, it
        does not hold up the live plot."""
        job = self._history_job
        while len(job.series) < len(job.pairs):
            job.series.append(history_series(job.runs, job.pairs[len(job.series)], job.fx,
                                             job.fy, job.points, self._history_cache))
            if time.monotonic() >= deadline:
                break
        if len(job.series) < len(job.pairs):
            return
        self._history_job = None
        self.history_curves.show(job.series)
        self.history_plot.settle()
        count = len(job.runs)
        self.history_plot.set_title(
            f"history: {count} {job.what}{'s' if count > 1 else ''}" if count
            else f"history: no finished {job.what}s")

    def _apply_links(self, share_x: bool, share_y: bool) -> None:
        live, history = self.live_plot, self.history_plot
        history.setXLink(live if share_x else None)
        history.setYLink(live if share_y else None)
        for plot in self.plots:
            plot.XAxisLinked, plot.YAxisLinked = bool(share_x), bool(share_y)

    # --- what the toolbar calls -------------------------------------------------

    def all_enable_auto_range(self) -> None:
        """The "AR" button: every plot follows its data again."""
        self.enable_all_auto_range()

    def enable_all_auto_range(self) -> None:
        for plot in self.plots:
            plot.enable_auto_range()

    # --- status bar --------------------------------------------------------------

    def report(self, message: str) -> None:
        """Shows a problem in the status bar and keeps it for the tool tip."""
        self.problem_count += 1
        if self.problems and self.problems[-1][0] == message:
            self.problems[-1] = (message, self.problems[-1][1] + 1)
        else:
            self.problems.append((message, 1))
        message, count = self.problems[-1]
        self.statusBar().showMessage(message if count == 1 else f"{message} (×{count})", 15000)
        self.problems_label.setText(f"⚠ {self.problem_count}")
        self.problems_label.setToolTip("\n".join(
            m if n == 1 else f"{m} (×{n})" for m, n in self.problems))

    def _show_warning(self, message, category, filename, lineno, file=None, line=None) -> None:
        self.report(str(message))

    def show_copied(self, shown: str, clipboard_text: str) -> None:
        self.copied = clipboard_text
        self.copied_label.setText(f"copied {shown}")

    def refresh_status(self, now: float) -> None:
        points, traces = self.point_dataset, self.trace_dataset
        rate = _per_second(self._rate_samples, now, points.rows_stored)
        fps = _per_second(self._frame_samples, now, self.live_plot.frames)
        self.counts_label.setText(
            f"points {points.rows_stored:,} (run {points.run_number}) · "
            f"traces {traces.payloads_stored:,}")
        self.rate_label.setText(f"{rate:,.0f} points/s · {fps:.0f} fps")
        shown = min(self.matched_pairs, len(config.ridx))
        self.pairs_label.setText(
            f"pairs {self.matched_pairs}" if shown == self.matched_pairs
            else f"pairs {self.matched_pairs} ({shown} shown)")
        for box in (self.point_data_box, self.trace_data_box):
            box.refresh()
        if self.producer is not None and not self._producer_gone and not self.producer.is_alive():
            self._producer_gone = True
            self.report(f"the producer stopped (exit code {self.producer.process.exitcode})")

    # --- errors and shutdown --------------------------------------------------------

    def _excepthook(self, kind, error, tb) -> None:
        # Qt slots and event handlers end here; the default hook would make
        # PyQt abort the application.
        if issubclass(kind, KeyboardInterrupt):
            self.close()
            return
        traceback.print_exception(kind, error, tb)
        try:
            self.report(describe_problem(error))
        except Exception:  # the window is going away; fall back to stderr only
            pass

    def closeEvent(self, event) -> None:
        self.shutdown()
        super().closeEvent(event)

    def shutdown(self) -> None:
        """Stops the timer and the producer and closes the queue; safe to call again."""
        if self._closed:
            return
        self._closed = True
        self.timer.stop()
        if sys.excepthook == self._excepthook:
            sys.excepthook = self._previous_excepthook
        if self.producer is not None:
            self.producer.stop()
        close = getattr(self.queue, "close", None)
        if close is not None:
            # Whatever this process itself put and nobody read is dropped
            # rather than waited for.
            self.queue.cancel_join_thread()
            close()
            self.queue.join_thread()


def _per_second(samples: deque, now: float, count: int, span: float = 1.0) -> float:
    """Rate of a growing count over the last `span` seconds."""
    samples.append((now, count))
    while len(samples) > 2 and now - samples[1][0] >= span:
        samples.popleft()
    (t0, c0), (t1, c1) = samples[0], samples[-1]
    return (c1 - c0) / (t1 - t0) if t1 > t0 else 0.0


def frame_interval(widget) -> float:
    """Seconds per frame of the screen the widget is on (30 to 144 Hz)."""
    screen = widget.screen() if hasattr(widget, "screen") else None
    screen = screen or QtWidgets.QApplication.primaryScreen()
    rate = screen.refreshRate() if screen is not None else 60.0
    if not rate or not math.isfinite(rate):
        rate = 60.0
    return 1.0 / min(144.0, max(30.0, rate))
