"""The statistics of the plots whose axes show the selection (live and
history), for the statistics table and the tracker: each plot's figures
(model/statistics.py's) are made again only when its rows, its curves or
its visible X range changed.
"""

from concurrent.futures import ThreadPoolExecutor

from ..model.statistics import FIGURES, PlotStatistics, figure_texts, stats_line


class StatsKeeper:
    """The statistics of each presenter (plots.PlotPresenter) that follows the
    selection, made again only when what the presenter shows changed."""

    def __init__(self, plot_presenters):
        self.plot_presenters = [presenter for presenter in plot_presenters if presenter.follows_selection]
        # One thread sums up finished runs (see statistics.PlotStatistics).
        self.pool = ThreadPoolExecutor(1, thread_name_prefix="stelvane-stats")
        self._stats = {presenter.name: PlotStatistics(presenter, self.pool) for presenter in self.plot_presenters}
        self._made: dict = {}  # presenter name -> (state, curves)

    def curves(self, presenter, wait: bool = False) -> list:
        """(curve key, statistics.CurveStats, columnkinds.Shown) of each
        curve of `presenter` over its visible X range. While a finished run is
        still being summed up, the figures made before (if any) stand in."""
        frame, span = presenter.frame, presenter.visible_x()
        state = (presenter.shown, None if frame is None else (tuple(frame.pairs), frame.fx, frame.fy),
                 span)
        made = self._made.get(presenter.name)
        if made is None or made[0] != state or presenter.shown is None:
            curves = self._stats[presenter.name].curves(span, wait)
            if curves is None:  # asked again at the next refresh
                return made[1] if made is not None else []
            made = self._made[presenter.name] = (state, curves)
        return made[1]

    def close(self) -> None:
        """Drops the summing up under way, for a window that closes."""
        self.pool.shutdown(wait=False, cancel_futures=True)

    def line(self, presenter, key) -> str:
        """The statistics of curve `key` of `presenter` on one line, "" if none."""
        if presenter.name not in self._stats:
            return ""
        for curve_key, stats, kind in self.curves(presenter):
            if curve_key == key:
                return stats_line(stats, kind)
        return ""

    def lines(self) -> list[tuple[str, list[str]]]:
        """(colour, texts) of each line of the table: a plot's curves, plot after plot."""
        lines = []
        for presenter in self.plot_presenters:
            for key, stats, kind in self.curves(presenter):
                texts = figure_texts(stats, kind)
                lines.append((presenter.plot.colors[key],
                              [presenter.name, stats.name, *(texts[f] for f in FIGURES)]))
        return lines

    def summary(self) -> list[dict]:
        """The first plot's statistics, one object per curve (for --summary)."""
        if not self.plot_presenters:
            return []
        return [stats.as_dict() for _, stats, _ in self.curves(self.plot_presenters[0], wait=True)]
