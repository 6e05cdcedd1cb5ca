"""The main window: puts the data sets, the toolbar, the plots, the intake
and the presenter together and runs them.

One timer drives everything, at the display's frame rate: it lets the intake
drain the queue for part of the frame, then the presenter redraws once from
what arrived. However fast rows come in, the curves are redrawn at most once
per frame.
"""

import time

from .. import config
from ..dataset import Dataset
from ..model.derivedcolumns import derive_in
from ..model.entitysplit import AUTO as AUTO_SPLIT, OFF as NO_SPLIT
from ..model.modes import MODES, ModeRecord
from ..model.replay import DEFAULT_RATE, Replay
from ..model.timewindow import ROWS, TimeWindow, parse_window
from ..presenters.plots import PlotOptions, HistoryPresenter, LivePresenter
from ..presenters.presenter import Presenter
from ..presenters.spectrumplot import SpectrumPresenter
from ..presenters.statistics import StatsKeeper
from ..presenters.toolbar_adapter import ToolbarAdapter
from ..qt_compat import QtCore, QtWidgets
from ..widgets.readout import PointerReadout
from ..widgets.statstable import StatsTable, tracker_line
from ..widgets.statusbar import MESSAGE_MS, RateMeter, StatusBar
from ..widgets.views import DataBox, PlotView
from . import settings
from .controls import ViewControls, WindowField
from .cursors import Cursors
from .limits import LimitLines
from .limitseditor import edit_limits
from .emptyparts import show_parts_with_data
from .export import VisibleRange
from .exprseditor import edit_expressions, widen_default_pattern
from .intake import Intake
from .layout import build_layout
from .markers import MarkerKeeper
from .pacing import FramePacer, frame_interval
from .problems import ExceptionHook, ProblemLog
from .replaybar import ReplayBar
from .savekeys import ExportKeys
from .splitview import SplitFollower
from .summary import window_summary
from .watch import ProducerWatch

PRECISE_TIMER = QtCore.Qt.TimerType.PreciseTimer

# The share of a frame the intake may spend draining the queue; the rest is
# for making the curves and painting, so the window stays responsive even
# when the producer sends more than can be shown.
INTAKE_SHARE = 0.5
# While a file's rows are read (a backlog, not news), the intake may take this
# many frames' time: the file is read at the intake's pace, not the painting's.
READING_SHARE = 6.0
# How often the status bar and the data boxes are brought up to date.
STATUS_INTERVAL = 0.25
# The window's plots, top to bottom (name, kind; see presenters/plots.py); the others follow the first.
PLOTS = (("live", LivePresenter), ("history", HistoryPresenter), ("spectrum", SpectrumPresenter))


class MainWindow(QtWidgets.QMainWindow):
    """The live-plotting window. `queue` is the producer's command queue;
    `producer` (optional) is stopped when the window closes. With
    `replay_speed` (a number, or replay.MAX) the points are replayed (see
    replay.py) at that speed, or `replay_rate` rows per second where X sets
    no pace."""

    def __init__(self, queue, *, producer=None, epoch: float | None = None,
                 live_rows: int = 20_000, max_rows: int = 1_000_000, max_history: int = 10,
                 window: TimeWindow | None = None, expressions=(), limits=(), split: str = AUTO_SPLIT,
                 replay_speed: float | None = None, replay_rate: float = DEFAULT_RATE,
                 spill_room=None):
        super().__init__()
        self.setWindowTitle("stelvane: live data")
        self.queue = queue
        self.producer = producer
        self.epoch = time.monotonic() if epoch is None else epoch
        self.expressions = tuple(expressions)  # derived series (expressions.Expression)
        self._make_data_sets(max_rows, max_history, split, spill_room)
        self.selection = self._make_toolbar()
        self.toolbar = self.selection.toolbar
        self.frame_interval = frame_interval(self)
        options = PlotOptions(live_rows=live_rows, frame_interval=self.frame_interval,
                              window=window or ROWS)
        self._make_plots(options)
        self.replay_bar = self._make_replay(replay_speed, replay_rate)
        self._seek_presented = 0.0  # when a seek last updated the plots
        self._build_layout()
        self.problems = ProblemLog()
        self.intake = Intake(queue, self.toolbar, self.point_dataset, self.trace_dataset,
                             self.report)
        self.watch = ProducerWatch(producer, self.intake.queue, self)
        self.presenter = Presenter(self.selection, self.modes, self.plot_presenters)
        self._connect_views(limits)
        self.row_rate, self.frame_rate = RateMeter(), RateMeter()
        self._next_status = 0.0
        self.shut_down, self.exit_status = False, 0  # see shutdown; what the program ends with
        self._make_export_keys()
        self.settings = settings.Keeper(self)
        self._ticking = False  # inside tick: problems are shown at its end
        self._problems_changed = False
        self.excepthook = ExceptionHook(self.report, self.close)
        self.excepthook.install()
        self.timer = QtCore.QTimer(self)
        self.timer.setTimerType(PRECISE_TIMER)
        self.timer.timeout.connect(self.tick)
        self.pacer = self._make_pacer()

    def _make_replay(self, speed: float | None, rate: float) -> ReplayBar | None:
        """With a replay speed: the replay of the points and its bar."""
        if speed is None:
            return None
        replay = Replay(self.point_dataset, speed, rate)
        self.modes[MODES[0].key].replay = replay
        return ReplayBar(self, replay, self.present_now)

    def _make_data_sets(self, max_rows: int, max_history: int, split: str, spill_room) -> None:
        """A data set and a data box per mode, the boxes published to the
        toolbar; --split's column is one of the points', the pattern follows
        the split (SplitFollower); a live run beyond max_rows goes to
        `spill_room` (model/spill.py) where there is one."""
        self.modes = {mode.key: ModeRecord(mode, Dataset(
            mode.name, max_rows=max_rows, max_history=max_history, whole_runs=mode.whole_runs,
            split=split if mode is MODES[0] or split == NO_SPLIT else AUTO_SPLIT))
            for mode in MODES}
        self.point_dataset, self.trace_dataset = (r.dataset for r in self.modes.values())
        self.point_dataset.spill_room = spill_room
        derive_in([record.dataset for record in self.modes.values()], self.expressions)
        self.follow_split = SplitFollower(self)
        for record in self.modes.values():
            record.data_box = DataBox(record.mode.caption, record.dataset)
        # The toolbar reads the column names from the data boxes, through this window.
        ToolbarAdapter.publish_data_boxes(self, {k: r.data_box for k, r in self.modes.items()})

    def _make_plots(self, options: PlotOptions) -> None:
        """The plots and their presenters, the statistics, the status bar and the view controls."""
        self.plot_presenters = [kind(name, PlotView(name), options) for name, kind in PLOTS]
        self.plots = [presenter.plot for presenter in self.plot_presenters]
        self.live_plot, self.history_plot = self.plots[0], self.plots[1]
        self.spectrum = next((p for p in self.plot_presenters if isinstance(p, SpectrumPresenter)),
                             None)
        self.stats = StatsKeeper(self.plot_presenters)
        self.stats_table = StatsTable(self.stats.lines)
        self.status_bar = StatusBar()
        self.setStatusBar(self.status_bar)
        for plot in self.plots:
            plot.on_copied = self.status_bar.show_copied
        self.controls = ViewControls(self)
        self.window_field = WindowField(self, self.set_live_window, options.window.text)
        self.markers = MarkerKeeper(self)  # M's text markers, their panel and lines

    def _connect_views(self, limits) -> None:
        """The pointer readouts, the cursors and limit lines (`limits`,
        limits.Limit), and the view controls wired to what they switch."""
        self.readouts = [PointerReadout(presenter.plot, self.status_bar.show_pointer,
                                        presenter.legend)
                         for presenter in self.plot_presenters]
        self.controls.pause.toggled.connect(self.set_paused)
        self.controls.legend.toggled.connect(self.presenter.show_legends)
        self.controls.tracker.toggled.connect(self.set_tracking)
        self.controls.stats.toggled.connect(self.stats_table.set_shown)
        self.controls.spectrum.toggled.connect(self.show_spectrum)
        self.controls.db.toggled.connect(self.set_spectrum_db)
        self.controls.expressions.triggered.connect(lambda: edit_expressions(self))
        self.controls.limits.triggered.connect(lambda: edit_limits(self))
        self.controls.log_frequency.toggled.connect(self.spectrum.set_log_frequency)
        self.cursors = Cursors(self, self.plot_presenters, self.status_bar.show_copied)
        self.limit_lines = LimitLines(self, limits)
        for readout, presenter in zip(self.readouts, self.plot_presenters):
            readout.stats_line = (lambda key, name, presenter=presenter:
                                  self.tracker_stats(presenter, key, name))

    def _make_export_keys(self) -> None:
        self.export_keys = ExportKeys(self, {p.name: p.plot for p in self.plot_presenters},
                                      self.current_dataset, self.report, self.inform,
                                      self.visible_range)
        self.export_keys.directives = self.markers.lines  # the markers go with the data
        self.export_keys.keep_keys_in(*(r.controls.pattern_field for r in self.modes.values()),
                                      self.window_field.field)

    def _make_pacer(self) -> FramePacer:
        """The frame timer's pace (pacing.py), woken by new data in the
        queue, the view actions and any change of a plot's view range."""
        pacer = FramePacer(self.timer, self.frame_interval, self,
                           data_fd=lambda: self.intake.queue.wake_fd)
        for button in self.controls.buttons.values():
            button.defaultAction().toggled.connect(pacer.wake)
        for plot in self.plots:
            plot.plotItem.vb.sigRangeChanged.connect(pacer.wake)
        return pacer

    def _make_toolbar(self) -> ToolbarAdapter:
        selection = ToolbarAdapter(self, self.report)
        selection.give_room_to_patterns()
        for key, record in self.modes.items():
            record.controls = selection.controls[key]
            if record.mode.y_format is not None:
                record.controls.set_format("fy", record.mode.y_format)
        return selection

    def _build_layout(self) -> None:
        self.splitters = build_layout(self)  # by the names the settings use
        self.resize(1200, 760)

    # --- running ---------------------------------------------------------------

    def start(self) -> None:
        self.timer.start()

    def tick(self) -> None:
        """One frame: drain the queue for part of it, then redraw what changed."""
        start = time.monotonic()
        playing = False
        self._ticking = True
        try:
            reading = self.watch.reading_file
            self.intake.drain(start + (READING_SHARE if reading else INTAKE_SHARE)
                              * self.frame_interval, patient=reading)
            playing = self.replay_bar is not None and self.advance_replay()
            if self.follow_split() | bool(self.expressions and widen_default_pattern(self)):
                self.selection.columns_changed()
            self.presenter.present()
            self.markers.refresh()
            self.modes[self.selection.mode].data_box.refresh_if_new_run()
        finally:
            self._ticking = False
        if self._problems_changed:
            self._show_problems()
        idle = self.pacer.idle
        # Rows taken but held back (they change no pixel) keep no frame rate.
        self.pacer.frame_done(playing or self.presenter.busy)
        if idle or start >= self._next_status:
            self._next_status = start + STATUS_INTERVAL
            self.refresh_status(start)

    def advance_replay(self) -> bool:
        """Moves the replay's cursor on (paced by the X column of the first
        pair the points show) and shows it in the bar; true while it plays
        (the frame timer then keeps its pace)."""
        selection, bar = self.selection, self.replay_bar
        pairs = selection.pairs if selection.mode == MODES[0].key else []
        bar.replay.advance(pairs[0][0] if pairs else None, self.watch.source_ended is not None)
        bar.refresh()
        news = bar.end_news()
        if news:
            self.status_bar.showMessage(news)  # until something else is said
        return not (bar.replay.paused or bar.replay.ended)

    def present_now(self) -> None:
        """Updates the plots at once (what a seek asked for), unless a seek updated
        them less than a frame ago: a drag moves the slider more often than
        the screen shows frames, and the frame timer shows the rest."""
        now = time.monotonic()
        if now - self._seek_presented >= self.frame_interval:
            self._seek_presented = now
            self.presenter.present()

    def refresh_status(self, now: float) -> None:
        """Brings the status bar and the data boxes up to date, and notices a producer that stopped."""
        points, bar = self.point_dataset, self.status_bar
        bar.show_counts(points, self.trace_dataset)
        bar.show_rate(self.row_rate.update(now, points.rows_stored),
                      self.frame_rate.update(now, self.live_plot.frames))
        bar.show_pairs(self.presenter.matched_pairs, len(config.ridx),
                       bool(self.current_dataset().column_names))
        for record in self.modes.values():
            record.data_box.refresh()
        show_parts_with_data(self)
        self.presenter.place_legends()
        for readout in self.readouts:
            readout.refresh()
        self.stats_table.refresh()
        self.cursors.refresh()
        self.limit_lines.refresh()
        self.watch.look(now)

    def report(self, message: str, count: int = 1) -> None:
        """Logs a problem (or `count` summed up in one message) and shows it
        in the status bar: at once, or at the end of the frame when it comes
        from the frame's work. A flood of bad items then costs the status bar
        one update a frame, not one an item."""
        self.problems.add(message, count)
        if self._ticking:
            self._problems_changed = True
        else:
            self._show_problems()

    def _show_problems(self) -> None:
        self._problems_changed = False
        self.status_bar.show_problems(self.problems.text, self.problems.count,
                                      self.problems.tool_tip)

    def summary(self) -> dict:
        """What the window holds, in figures: for a script that ran it."""
        return window_summary(self)

    def inform(self, message: str) -> None:
        """Shows news that is no problem (a file saved) in the status bar."""
        self.status_bar.showMessage(message, MESSAGE_MS)

    def visible_range(self) -> VisibleRange | None:
        """The rows the live plot shows: those of the rows it draws from
        (its window's, or older ones panned back to) whose X (the first
        curve's X column) lies in its visible range."""
        presenter = self.plot_presenters[0]
        if presenter.frame is None or not presenter.frame.pairs:
            return None
        data = self.current_dataset()
        rows = presenter.pair_rows(presenter.frame, data)[0]
        last = None if rows is None else len(data.column(presenter.frame.pairs[0][0])) - rows[0]
        return VisibleRange(presenter.frame.pairs[0][0], *presenter.visible_x(), last=last,
                            fx=presenter.frame.fx)

    @property
    def live_window(self) -> TimeWindow:
        """What the live plot shows while it follows (timewindow.py)."""
        return self.plot_presenters[0].window

    def set_live_window(self, text: str) -> str | None:
        """The window field's Return: the live plot shows window `text`;
        a text that names none is refused with the reason in the status
        bar (returned too)."""
        try:
            window = parse_window(text)
        except ValueError as error:
            self.inform(f"window not changed: {error}")
            return str(error)
        self.plot_presenters[0].set_window(window)
        self.window_field.show_window(window.text)
        return None

    def current_dataset(self):
        """What the plots show: the data set of the toolbar's mode, or while
        paused the data held at the pause."""
        return self.modes[self.selection.mode].shown

    # --- view actions (controls.ViewControls) -------------------------------------

    def set_paused(self, paused: bool) -> None:
        """Space or the Pause button: the plots hold still, intake goes on."""
        self.presenter.set_paused(paused)
        self.status_bar.show_paused(paused)

    def set_tracking(self, on: bool) -> None:
        """T or the Tracker button."""
        for readout in self.readouts:
            readout.set_tracking(on)

    def tracker_stats(self, presenter, key, name: str) -> str:  # "" for none
        line = self.stats.line(presenter, key)
        return tracker_line(name, presenter.plot.colors[key], line) if line else ""

    def show_spectrum(self, shown: bool) -> None:  # P or the Spectrum button
        if self.spectrum is not None:
            self.spectrum.plot.setVisible(shown)
            self.spectrum.forget()

    def set_spectrum_db(self, on: bool) -> None:  # D or the dB button
        if self.spectrum is not None:
            self.spectrum.set_db(on)

    # --- what the toolbar calls -------------------------------------------------

    def all_enable_auto_range(self) -> None:  # the "AR" button
        self.enable_all_auto_range()

    def enable_all_auto_range(self) -> None:
        for plot in self.plots:
            plot.enable_auto_range()

    # --- shutdown ------------------------------------------------------------------

    def closeEvent(self, event) -> None:
        self.settings.save()
        self.shutdown()
        super().closeEvent(event)

    def shutdown(self) -> None:
        """Stops the timer and the producer and closes the queue; safe to call again."""
        if self.shut_down:
            return
        self.shut_down = True
        self.timer.stop()
        self.pacer.stop()
        self.export_keys.wait()  # a data file under way is finished, not cut off
        self.stats.close()
        self.excepthook.remove()
        if self.producer is not None:
            self.watch.take_messages()
            self.producer.stop()
        close = getattr(self.queue, "close", None)
        if close is not None:
            # Whatever this process itself put and nobody read is dropped
            # rather than waited for.
            self.queue.cancel_join_thread()
            close()
            self.queue.join_thread()

