"""The plots' presenters: each plot of the window has a `PlotPresenter`
that says what data it shows, makes its curves from the frame's selection,
and keeps its legend. The presenter runs them in the order of the window's `PLOTS`
(mainwindow.py); a new plot is an entry there, a new kind of plot a class
beside these (spectrumplot.py holds one).

A presenter redraws only what changed since it last drew (`shown`, None: redraw),
and it draws only from `Presenter.present` (see presenter.py).
"""

from dataclasses import dataclass
import time

from .. import config
from ..model.columnkinds import axis_text, common, shown_column, shown_over_runs
from ..model.liverun import LiveRun, LiveView, WholeFile, rows_of
from ..model.series import (MAX_ZOOM_STEPS, detail_window, history_series_steps,
                             pair_series, stepped, x_extent, zoom_points)
from ..model.siunits import frequency_unit
from ..model.statistics import CurveRows, RowBlock
from ..protocol import NUMBER, TEXT
from ..model.timewindow import ROWS, TimeWindow
from ..widgets.axes import set_axis_kind
from ..widgets.legend import CurveLegend, curve_names
from ..widgets.trail import Trails
from .curves import KEEP, PlotCurves
from .sides import fit_sides, show_sides
from .stillness import StillFrames

# The share of a frame for making the history plot's curves; a long run is
# thinned over several frames.
HISTORY_SHARE = 0.25


@dataclass(frozen=True)
class PlotOptions:
    live_rows: int          # the newest rows of the current run a live plot shows
    frame_interval: float   # seconds per frame
    window: TimeWindow = ROWS  # what the live plot shows while it follows (timewindow.py)


@dataclass(frozen=True)
class Frame:
    """What the plots of one frame draw from."""
    record: object      # the shown mode's modes.ModeRecord
    pairs: list         # the shown (X, Y) pairs, one per curve key at most
    fx: str | None
    fy: str | None
    paused: bool
    right: frozenset = frozenset()  # the pairs on the right Y axis (model/axissides.py)
    right_log: bool = False          # whether the right Y axis is logarithmic

    @property
    def data(self):
        return self.record.shown


def points_wanted(plot) -> int:
    """How many points a curve of `plot` needs to look exact (series.zoom_points)."""
    width = plot.plotItem.vb.width()
    if plot.following():
        return zoom_points(width)
    return zoom_points(width, *plot.x_view_and_data(), MAX_ZOOM_STEPS)


def detail(plot) -> tuple[int, tuple[float, float] | None]:
    """(points, window) for curves over several runs (series.detail_window):
    deep in a long history only a window around the view is made exact, so
    zooming and panning stay cheap."""
    width = plot.plotItem.vb.width()
    if plot.following():
        return zoom_points(width), None
    return detail_window(*plot.x_view_and_data(), width, MAX_ZOOM_STEPS)


class PlotPresenter:
    """One plot widget (a `views.PlotView`), its curves, its legend, and
    its axes and labels as its columns read (numbers, times, words; units)."""

    # Whether the plot's axes are the selection's columns: their labels, log
    # scales and shared ranges then follow the toolbar.
    follows_selection = True
    # Curves made over several frames, while under way (see HistoryJob).
    job = None

    def __init__(self, name: str, plot, options: PlotOptions):
        self.name, self.plot, self.options = name, plot, options
        self.curves = PlotCurves(plot, config.ridx)
        self.legend = CurveLegend(plot)
        self.shown = None
        self.looks = None  # what _show_columns last gave the plot
        self.columns_key = None  # what the looks were made from
        self.names: list[str] = []  # the legend's text of each pair
        self.frame: Frame | None = None  # the frame last presented
        plot.on_fit = self.fit_to_data

    def fit_to_data(self) -> bool:
        """F: the view fitted to all the rows the plot draws from, not only
        to those its curves hold now (deep in a zoom, a window around the
        view), each Y axis to its own curves; false when it has none."""
        return fit_sides(self.plot, self.keyed_blocks())

    def attach(self, plot_presenters) -> None:
        """Meets the window's other plot_presenters (`plot_presenters`, in the order of mainwindow.PLOTS)."""

    def visible_x(self) -> tuple[float, float]:
        """The X range the plot shows, in the data's units (not log10)."""
        low, high = self.plot.plotItem.vb.viewRange()[0]
        if self.plot.plotItem.getAxis("bottom").logMode:
            return 10.0 ** low, 10.0 ** high
        return float(low), float(high)

    def curve_blocks(self) -> list[CurveRows]:
        """The rows behind each curve the plot shows (all of them, not the
        visible ones only), for its statistics."""
        frame = self.frame
        if frame is None:
            return []
        curves = []
        for key, pair, name in zip(config.ridx, frame.pairs, self.names):
            blocks = self.pair_blocks(pair, frame)
            if blocks:
                shown = self.shown_of(pair[1], frame.fy, frame)
                curves.append(CurveRows(key, (pair, frame.fx, frame.fy), name, shown, blocks))
        return curves

    def pair_blocks(self, pair, frame: Frame) -> list[RowBlock]:
        """The rows of one XY pair the plot draws from, as blocks in order."""
        return []

    def keyed_blocks(self) -> list[tuple[object, list[RowBlock]]]:
        """(curve key, its rows) of every row the plot may draw from."""
        return [(curve.key, curve.blocks) for curve in self.curve_blocks()]

    def all_blocks(self) -> list[RowBlock]:
        """Every row the plot may draw from, over all its pairs."""
        return [block for _, blocks in self.keyed_blocks() for block in blocks]

    def shown_of(self, name: str, fmt: str | None, frame: Frame):
        """How column `name` reads in format `fmt` (a columnkinds.Shown)."""
        return shown_column(frame.data, name, fmt)

    def forget(self) -> None:
        """The next frame draws again, whatever it shows."""
        self.shown = None
        self.looks = self.columns_key = None

    def clear(self, modes: dict) -> None:
        """The user asked for an empty history (the CLR button)."""

    def present(self, frame: Frame) -> None:
        raise NotImplementedError

    def _show(self, series, frame: Frame, columns_key=None) -> None:
        """Shows the curves, and the axes, labels and legend as the pairs'
        columns read (see shown_of). A `columns_key` the same as the last
        frame's says they read as then."""
        if columns_key is None or columns_key != self.columns_key:
            self.columns_key = columns_key
            self._show_columns(frame)
        names = self.names
        # A text column's words are states: drawn as steps.
        series = [stepped(*data) if data is not None and data is not KEEP
                  and key in self.plot.curve_shown and self.plot.curve_shown[key][1].kind == TEXT
                  else data
                  for key, data in zip(config.ridx, series)]
        self.curves.show(series)
        # The legend names the curves that show something.
        named = [(key, name) for key, data, name in zip(config.ridx, series, names)
                 if data is KEEP or (data is not None and len(data[0]))]
        self.legend.show_names([key for key, _ in named], [name for _, name in named])

    def _pairs_shown(self, frame: Frame) -> tuple[list, list]:
        """How the X and the Y column of each pair read (see shown_of)."""
        return ([self.shown_of(x, frame.fx, frame) for x, _ in frame.pairs],
                [self.shown_of(y, frame.fy, frame) for _, y in frame.pairs])

    def _show_columns(self, frame: Frame) -> None:
        """Sets each axis' kind (a time axis, the words of a text column, or
        numbers), the labels with their units, what the readout and the
        tracker read values as, and the legend's names."""
        pairs, plot = frame.pairs, self.plot
        xs, ys = self._pairs_shown(frame)
        looks = (tuple(pairs), frame.fx, frame.fy, tuple(xs), tuple(ys), frame.right,
                 frame.right_log)
        if looks != self.looks:
            self.looks = looks
            # The left axis reads as its own curves (the right one's, see sides.py).
            left_names, left_shown = show_sides(plot, frame, ys)
            plot.shown_x, plot.shown_y = common(xs), common(left_shown or ys)
            plot.curve_shown = dict(zip(config.ridx, zip(xs, ys)))
            for side, shown in (("bottom", plot.shown_x), ("left", plot.shown_y)):
                set_axis_kind(plot, side, shown.kind, shown.words)
            plot.si_units = tuple(_frequency_unit(names, shown) for names, shown in (
                ([x for x, _ in pairs], xs), (left_names, left_shown)))
            for side, unit in zip(("bottom", "left"), plot.si_units):
                plot.plotItem.getAxis(side).si_unit = unit
            plot.set_labels(axis_text([x for x, _ in pairs], frame.fx, xs),
                            axis_text(left_names, frame.fy, left_shown))
            self.names = curve_names(pairs, frame.fx, frame.fy, [y.unit for y in ys])

    def _title(self, text: str, frame: Frame) -> None:
        self.plot.set_title(f"{self.name}: {text}" + ("  (paused)" if frame.paused else ""))


def _frequency_unit(names, shown) -> str | None:
    """"Hz" when every column of an axis holds frequencies (siunits)."""
    units = {frequency_unit(name, column.unit) if column.kind == NUMBER else None
             for name, column in zip(names, shown)}
    return units.pop() if len(units) == 1 else None


class LivePresenter(PlotPresenter):
    """The current run, or the newest trace: following its data, the
    window's rows (a point run's; a trace's newest --live-rows rows), else
    the run from memory where the user took the view (see liverun.py)."""

    def __init__(self, name: str, plot, options: PlotOptions):
        super().__init__(name, plot, options)
        self.window = options.window
        self.run = LiveRun()
        self.whole_file = WholeFile()  # told by the window's watch of a file source
        self.trails = Trails(plot)  # (X,Y) pairs whose X does not grow, while following
        self.drawn_rows = 0  # the rows behind the first curve in the last frame drawn
        self.first_drawn: float | None = None  # time.monotonic() of the first frame with rows
        self.still = StillFrames()  # frames whose new rows show nothing are held back

    def set_window(self, window: TimeWindow) -> None:
        self.window = window
        self.whole_file.leave()  # a window the user chose shows, even over a whole file
        self.shown = None

    def live_view(self, frame: Frame) -> LiveView:
        plot = self.plot
        window = self.window if frame.record.mode.windowed else ROWS
        points, live_rows = points_wanted(plot), self.options.live_rows
        if plot.following():
            whole = frame.record.replay is None and self.whole_file.shows(frame.record.key,
                                                                          frame.data)
            return LiveView(window, live_rows, points, whole=whole)
        return LiveView(window, live_rows, points, self.visible_x(),
                        int(plot.plotItem.vb.width()), MAX_ZOOM_STEPS)

    def pair_rows(self, frame: Frame, data=None) -> list:
        """The rows of `data` (the frame's) each pair draws from: liverun.LiveRun.rows."""
        view = self.live_view(frame)
        return [self.run.rows(frame.data if data is None else data, frame.record.key, p,
                              frame.fx, view) for p in frame.pairs]

    def present(self, frame: Frame) -> None:
        self.frame = frame
        data = frame.data
        rows = self.pair_rows(frame)
        described = data.described
        # The same rows of the same run (counted from its first, dropped or
        # not) read the same: new rows outside them draw nothing again.
        dropped = data.dropped
        state = (frame.record.key, data.run_number, tuple(frame.pairs), described.changes,
                 tuple(r and (r[0] + dropped, r[1] + dropped, r[2]) for r in rows))
        if state == self.shown:
            return
        # The rows the picture stands for, held-back ones included (they
        # lie within a pixel of what it shows already).
        self.drawn_rows = rows[0][1] - rows[0][0] if rows and rows[0] else 0
        updated = self.still.to_update(self.plot, frame, self.shown, state)
        if updated is not None:
            if not any(updated):
                return
            # The curves not updated keep the rows they were drawn from.
            state = (*state[:-1], tuple(new if fresh else old for old, new, fresh
                                        in zip(self.shown[-1], state[-1], updated)))
        self.shown = state
        if self.drawn_rows and self.first_drawn is None:
            self.first_drawn = time.monotonic()
        series = [KEEP if updated is not None and not updated[i] else None if r is None
                  else self.run.series(data, p, frame.fx, frame.fy, r)
                  for i, (p, r) in enumerate(zip(frame.pairs, rows))]
        self._show(series, frame, (state[0], state[2], frame.fx, frame.fy, described,
                                   described.changes))
        self.trails.show(self.trail_keys(frame, series))
        self.plot.fresh = True
        self.plot.settle()
        self.still.drew(self.plot, series, updated)
        self._title(f"{frame.record.mode.run_word} {data.run_number}", frame)

    def trail_keys(self, frame: Frame, series) -> list:
        """The curves drawn as trails: following, those whose X does not grow."""
        if not self.plot.following():
            return []
        return [key for key, pair, data in zip(config.ridx, frame.pairs, series)
                if data is not None and self.run.x_grows(pair, frame.fx) is False]

    def keyed_blocks(self) -> list[tuple[object, list[RowBlock]]]:
        """Following, the rows of its window; else the whole current run
        (zoomed in, the curves hold a window around the view only)."""
        frame = self.frame
        if frame is None or self.plot.following():
            return super().keyed_blocks()
        data, names = frame.data, frame.data.column_names
        return [(key, [RowBlock(*rows_of(data, pair, frame.fx, frame.fy, (0, len(data))))])
                for key, pair in zip(config.ridx, frame.pairs)
                if pair[0] in names and pair[1] in names]

    def pair_blocks(self, pair, frame: Frame) -> list[RowBlock]:
        rows = self.run.rows(frame.data, frame.record.key, pair, frame.fx, self.live_view(frame))
        return [] if rows is None else [RowBlock(*rows_of(frame.data, pair, frame.fx, frame.fy, rows))]


class HistoryJob:
    """New curves for the history plot, made a few per frame."""

    def __init__(self, runs, frame: Frame, points, window=None):
        self.runs, self.frame = runs, frame
        self.points, self.window = points, window
        self.series = []
        self.steps = None  # the curve under way: a history_series_steps generator

    @property
    def done(self) -> bool:
        return len(self.series) == len(self.frame.pairs)

    def advance(self, deadline: float, cache: dict) -> bool:
        """Works until `deadline` (one pass over one run at least); true once
        done. Ten long runs take a while to thin for eight curves; spread
        over frames a run at a time, they hold up neither the live plot nor
        a pan or zoom of the history."""
        frame = self.frame
        while not self.done:
            if self.steps is None:
                self.steps = history_series_steps(self.runs, frame.pairs[len(self.series)],
                                                  frame.fx, frame.fy, self.points, cache,
                                                  self.window)
            try:
                next(self.steps)
            except StopIteration as finished:
                self.series.append(finished.value)
                self.steps = None
            if time.monotonic() >= deadline:
                break
        return self.done


class HistoryPresenter(PlotPresenter):
    """The finished runs, or the earlier traces, from the first the user did
    not clear away."""

    def __init__(self, name: str, plot, options: PlotOptions):
        super().__init__(name, plot, options)
        self.first_run: dict = {}  # mode key -> first run shown
        self.cache: dict = {}  # series of finished runs, see series.history_series
        self.job: HistoryJob | None = None
        self.runs = []  # the runs shown

    def clear(self, modes: dict) -> None:
        self.first_run = {key: record.dataset.run_number for key, record in modes.items()}
        self.shown = None

    def present(self, frame: Frame) -> None:
        data, key = frame.data, frame.record.key
        first = self.first_run.get(key, 0)
        points, window = detail(self.plot)
        state = (key, data.history_version, first, points, window)
        if state != self.shown:
            self.shown = state
            runs = self.runs = [r for r in data.history if r.number >= first]
            self.frame = frame
            kept = set(runs)
            self.cache = {k: v for k, v in self.cache.items() if k[0] in kept}
            self.job = HistoryJob(runs, frame, points, window)
        if self.job is not None:
            deadline = time.monotonic() + HISTORY_SHARE * self.options.frame_interval
            if self.job.advance(deadline, self.cache):
                self._finish(self.job)

    def _finish(self, job: HistoryJob) -> None:
        self.job = None
        self._show(job.series, job.frame)
        self.plot.settle()
        count, what = len(job.runs), job.frame.record.mode.run_word
        self._title(f"{count} {what}{'s' if count > 1 else ''}" if count
                    else f"no finished {what}s", job.frame)

    def shown_of(self, name: str, fmt: str | None, frame: Frame):
        return shown_over_runs(self.runs, name, fmt)

    def pair_blocks(self, pair, frame: Frame) -> list[RowBlock]:
        blocks = []
        for run in self.runs:
            series = pair_series(run, pair, frame.fx, frame.fy)
            extent = x_extent(run, pair[0], frame.fx, self.cache)
            if series is not None and extent is not None:
                blocks.append(RowBlock(*series, key=run, low=extent[0], high=extent[1]))
        return blocks
