"""What the plots show: the toolbar's published selection and the data sets
turned into curves, redrawing only what changed since the last frame.

The toolbar tells the host what changed through four flags, and the host
alone clears them (see `take_toolbar_changes`). Everything on screen changes
in `Presenter.present` only: a caller that does not call it holds the picture
still while the intake goes on, and the flags wait, set, until it does.

Pausing is more than not calling it: a paused presenter draws from the data
as it was at the pause (`HeldData`), so zooming, panning and new patterns
still redraw the held picture correctly while the data sets go on growing.
"""

from dataclasses import dataclass, field
import time

from . import config
from .hold import HeldData
from .legend import CurveLegend, curve_names
from .render import CurveFeeder, axis_label, history_series_steps, pair_series

# The share of a frame for making the history plot's curves; a long run is
# thinned over several frames.
HISTORY_SHARE = 0.25


@dataclass(frozen=True)
class ToolbarChanges:
    """What the toolbar flagged since the host last looked."""
    pairs: bool = False          # xypairs_dirty: the matched X;Y pairs changed
    formats: bool = False        # xyfm_dirty: the formats or log scales changed
    links: bool = False          # link_dirty: the shared-axis choice changed
    clear_history: bool = False  # CR_flag: the user asked for an empty history


# The toolbar's flag for each field of ToolbarChanges.
_FLAGS = {"pairs": "xypairs_dirty", "formats": "xyfm_dirty", "links": "link_dirty",
          "clear_history": "CR_flag"}


def take_toolbar_changes(toolbar) -> ToolbarChanges:
    """Reads the toolbar's flags and clears those that were set.

    The protocol: the toolbar only ever sets `xypairs_dirty`, `xyfm_dirty`,
    `link_dirty` and `CR_flag` to true; the host reads and clears them, here
    and nowhere else. A flag is written only when it was set, so a change the
    toolbar flags meanwhile is never cleared unseen.
    """
    changes = {}
    for name, flag in _FLAGS.items():
        changes[name] = bool(getattr(toolbar, flag))
        if changes[name]:
            setattr(toolbar, flag, False)
    return ToolbarChanges(**changes)


def link_axes(live, history, share_x: bool, share_y: bool) -> None:
    """Makes the history plot follow the live plot's X and/or Y range."""
    history.setXLink(live if share_x else None)
    history.setYLink(live if share_y else None)
    for plot in (live, history):
        plot.XAxisLinked, plot.YAxisLinked = bool(share_x), bool(share_y)


@dataclass
class Shown:
    """What is on screen, so that a frame redraws only what changed; None:
    nothing yet, or redraw."""
    mode: str | None = None      # "P" or "T"
    live: tuple | None = None    # (mode, data version, points)
    history: tuple | None = None  # (mode, history version, first run, points, window)


class HistoryJob:
    """New curves for the history plot, made a few per frame."""

    def __init__(self, runs, pairs, fx, fy, points, what, window=None):
        self.runs, self.pairs, self.fx, self.fy = runs, pairs, fx, fy
        self.points, self.what, self.window = points, what, window
        self.series = []
        self.steps = None  # the curve under way: a history_series_steps generator

    @property
    def done(self) -> bool:
        return len(self.series) == len(self.pairs)


@dataclass
class HistoryProgress:
    """The history plot's curves under way, and what they are made from."""
    first_run: dict = field(default_factory=lambda: {"P": 0, "T": 0})  # first run shown, per mode
    cache: dict = field(default_factory=dict)  # series of finished runs, see history_series
    job: HistoryJob | None = None

    def start(self, dataset, mode: str, pairs, fx, fy, points: int, window=None) -> None:
        runs = [r for r in dataset.history if r.number >= self.first_run[mode]]
        kept = set(runs)
        self.cache = {k: v for k, v in self.cache.items() if k[0] in kept}
        self.job = HistoryJob(runs, pairs, fx, fy, points, "run" if mode == "P" else "trace",
                              window)

    def advance(self, deadline: float) -> HistoryJob | None:
        """Works on the job until `deadline` (one pass over one run at least);
        returns it once it is done. Ten long runs take a while to thin for
        eight curves; spread over frames a run at a time, they hold up
        neither the live plot nor a pan or zoom of the history."""
        job = self.job
        while not job.done:
            if job.steps is None:
                job.steps = history_series_steps(job.runs, job.pairs[len(job.series)], job.fx,
                                                 job.fy, job.points, self.cache, job.window)
            try:
                next(job.steps)
            except StopIteration as finished:
                job.series.append(finished.value)
                job.steps = None
            if time.monotonic() >= deadline:
                break
        if not job.done:
            return None
        self.job = None
        return job


class Presenter:
    """Feeds the live and the history plot from the data set of the
    toolbar's mode, as the toolbar's selection says."""

    def __init__(self, toolbar, point_dataset, trace_dataset, live_plot, history_plot, *,
                 live_rows: int, frame_interval: float):
        self.toolbar = toolbar
        self.point_dataset, self.trace_dataset = point_dataset, trace_dataset
        self.live_plot, self.history_plot = live_plot, history_plot
        self.live_curves = CurveFeeder(live_plot, config.ridx)
        self.history_curves = CurveFeeder(history_plot, config.ridx)
        self.live_rows = live_rows
        self.frame_interval = frame_interval
        self.shown = Shown()
        self.history = HistoryProgress()
        self.matched_pairs = 0
        self.legends = [CurveLegend(live_plot), CurveLegend(history_plot)]
        self.curve_names: list[str] = []  # legend text of each shown pair
        self.held: dict | None = None  # mode -> HeldData while paused

    @property
    def paused(self) -> bool:
        return self.held is not None

    def set_paused(self, paused: bool) -> None:
        """Holds the picture still (the plots draw from the data as it is
        now) or lets it go on; the next frame shows the latest data."""
        if paused == self.paused:
            return
        self.held = ({"P": HeldData(self.point_dataset), "T": HeldData(self.trace_dataset)}
                     if paused else None)
        self.shown.live = self.shown.history = None

    def show_legends(self, shown: bool) -> None:
        for legend in self.legends:
            legend.set_shown(shown)

    def place_legends(self) -> None:
        """Moves each legend off the newest data (a few times a second)."""
        for legend in self.legends:
            legend.place()

    def _dataset(self, mode: str):
        if self.held is not None:
            return self.held[mode]
        return self.point_dataset if mode == "P" else self.trace_dataset

    def present(self) -> None:
        """Takes the toolbar's changes and feeds the curves whose data or
        selection changed."""
        tb = self.toolbar
        mode = tb.mode
        dataset = self._dataset(mode)
        refeed = self._apply_changes(mode, take_toolbar_changes(tb))
        pairs = list(tb.xypairs)
        self.matched_pairs = len(pairs)
        shown_pairs = pairs[:len(config.ridx)]
        fx, fy = tb.fx, tb.fy
        if refeed:
            self.shown.live = self.shown.history = None
            xs = [p[0] for p in shown_pairs]
            ys = [p[1] for p in shown_pairs]
            for plot in (self.live_plot, self.history_plot):
                plot.set_labels(axis_label(xs, fx), axis_label(ys, fy))
            self.curve_names = curve_names(shown_pairs, fx, fy)
        self._show_live(mode, dataset, shown_pairs, fx, fy)
        points, window = self.history_plot.detail()
        state = (mode, dataset.history_version, self.history.first_run[mode], points, window)
        if state != self.shown.history:
            self.shown.history = state
            self.history.start(dataset, mode, shown_pairs, fx, fy, points, window)
        if self.history.job is not None:
            self._advance_history(time.monotonic() + HISTORY_SHARE * self.frame_interval)

    def _apply_changes(self, mode: str, changes: ToolbarChanges) -> bool:
        """Acts on a new mode and the toolbar's changes; true when every curve
        must be fed again."""
        tb = self.toolbar
        mode_changed = mode != self.shown.mode
        self.shown.mode = mode
        if changes.formats:
            for plot in (self.live_plot, self.history_plot):
                plot.set_log_mode(bool(tb.lx), bool(tb.ly))
        if changes.links or mode_changed:
            link_axes(self.live_plot, self.history_plot, *tb.sharexy())
        if changes.clear_history:
            self.history.first_run = {"P": self.point_dataset.run_number,
                                      "T": self.trace_dataset.run_number}
            self.shown.history = None
        return mode_changed or changes.formats or changes.pairs

    def _show_live(self, mode: str, dataset, pairs, fx, fy) -> None:
        plot = self.live_plot
        points = plot.points_wanted()
        state = (mode, dataset.version, points)
        if state == self.shown.live:
            return
        self.shown.live = state
        series = [pair_series(dataset, p, fx, fy, self.live_rows, points) for p in pairs]
        self.live_curves.show(series)
        self._name_curves(self.legends[0], series)
        plot.fresh = True
        plot.settle()
        plot.set_title(f"live: {'run' if mode == 'P' else 'trace'} {dataset.run_number}"
                       + ("  (paused)" if self.paused else ""))

    def _name_curves(self, legend, series) -> None:
        """The legend names the curves that show something."""
        named = [(key, name) for key, data, name in zip(config.ridx, series, self.curve_names)
                 if data is not None and len(data[0])]
        legend.show_names([key for key, _ in named], [name for _, name in named])

    def _advance_history(self, deadline: float) -> None:
        job = self.history.advance(deadline)
        if job is None:
            return
        plot = self.history_plot
        self.history_curves.show(job.series)
        self._name_curves(self.legends[1], job.series)
        plot.settle()
        count = len(job.runs)
        plot.set_title((f"history: {count} {job.what}{'s' if count > 1 else ''}" if count
                        else f"history: no finished {job.what}s")
                       + ("  (paused)" if self.paused else ""))
