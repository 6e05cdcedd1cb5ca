"""Statistics of what a plot shows: for each curve, over the rows whose X
lies in the plot's visible X range, the count, lowest, highest, mean and
standard deviation of the finite Y values, and the last of them.

The figures come from the rows themselves, never from the thinned points a
curve draws. A curve over several runs (the history plot) is summed up run by
run and the parts combined; a finished run never changes, so the part of a
run that lies wholly in view is kept and a new run costs only itself.

The standard deviation is that of the values in view (numpy's `std`, no
degrees of freedom taken off). No Qt here.
"""

from dataclasses import asdict, dataclass
import math

import numpy as np

from ..formats.recordings.cache import release_pages
from ..formats.valuetext import duration_text, value_text
from ..protocol import NUMBER, TIME
from . import growth
from .columnkinds import Shown


@dataclass(frozen=True)
class Summary:
    """The parts of the statistics that combine across blocks of rows:
    `m2` is the sum of squared deviations from `mean` (combined as Chan,
    Golub and LeVeque do, which keeps the precision of a two-pass sum)."""
    count: int = 0
    mean: float = math.nan
    m2: float = 0.0
    low: float = math.nan
    high: float = math.nan
    last: float = math.nan

    def then(self, later: "Summary") -> "Summary":
        """This block's rows followed by `later`'s."""
        if not later.count:
            return self
        if not self.count:
            return later
        count = self.count + later.count
        delta = later.mean - self.mean
        mean = self.mean + delta * later.count / count
        m2 = self.m2 + later.m2 + delta * delta * self.count * later.count / count
        return Summary(count, mean, m2, min(self.low, later.low), max(self.high, later.high),
                       later.last)


EMPTY = Summary()


# Rows summed up at a time: a long column (a recording mapped from the
# cache) in stretches, never with temporaries as long as itself.
STRETCH = 1 << 22


def summarise(y: np.ndarray) -> Summary:
    """The summary of the finite values of `y`, in row order."""
    if len(y) > STRETCH:
        whole = EMPTY
        for start in range(0, len(y), STRETCH):
            whole = whole.then(_summarise(y[start:start + STRETCH]))
            release_pages(y[start:start + STRETCH])
        return whole
    return _summarise(y)


def _summarise(y: np.ndarray) -> Summary:
    y = np.asarray(y, dtype=float)
    if not len(y):
        return EMPTY
    low, high = float(y.min()), float(y.max())
    # Finite bounds mean finite values throughout (a NaN or an infinity
    # would be a bound): the common case looks at the values once less.
    if not (math.isfinite(low) and math.isfinite(high)):
        y = y[np.isfinite(y)]
        if not len(y):
            return EMPTY
        low, high = float(y.min()), float(y.max())
    mean = float(np.mean(y))
    deviation = y - mean
    # Squared in place and summed, not np.dot: a dot product goes to BLAS,
    # whose threads take milliseconds to wake on a busy machine.
    np.square(deviation, out=deviation)
    return Summary(len(y), mean, float(deviation.sum()), low, high, float(y[-1]))


def rows_in_range(x: np.ndarray, low: float, high: float, grows: bool | None = None):
    """The rows whose x lies in [low, high]: a slice when x never decreases
    (found by bisection), else a boolean mask. `grows` says which when the
    caller knows."""
    if grows is None:
        grows = growth.grows(x)
    if grows:
        return slice(int(np.searchsorted(x, low, side="left")),
                     int(np.searchsorted(x, high, side="right")))
    with np.errstate(invalid="ignore"):
        return (x >= low) & (x <= high)


def summarise_in_range(x: np.ndarray, y: np.ndarray, low: float, high: float) -> Summary:
    return summarise(y[rows_in_range(x, low, high)])


@dataclass(frozen=True)
class RowBlock:
    """Rows of one curve: x and y as shown (formatted); `key` names the
    block for keeping its summary (a finished run, which never changes),
    None when it may change; `low` and `high` its x extent when known."""
    x: np.ndarray
    y: np.ndarray
    key: object = None
    low: float | None = None
    high: float | None = None


@dataclass(frozen=True)
class CurveRows:
    """The rows behind one curve of a plot: its curve key, what identifies
    its data (pair and formats), its legend name, its Y column's kind and
    its blocks of rows in order."""
    key: object
    ident: tuple
    name: str
    kind: Shown
    blocks: list


@dataclass(frozen=True)
class CurveStats:
    """One curve's statistics, as --summary prints them."""
    name: str
    count: int
    min: float
    max: float
    mean: float
    std: float
    last: float

    @classmethod
    def of(cls, name: str, summary: Summary) -> "CurveStats":
        std = math.sqrt(summary.m2 / summary.count) if summary.count else math.nan
        return cls(name, summary.count, summary.low, summary.high, summary.mean, std,
                   summary.last)

    def as_dict(self) -> dict:
        """For JSON: NaN (nothing in view) becomes None."""
        return {k: (None if isinstance(v, float) and math.isnan(v) else v)
                for k, v in asdict(self).items()}


# The figures of a line of statistics, in the order they are shown.
FIGURES = ("count", "min", "max", "mean", "std", "last")


def figure_texts(stats: CurveStats, kind: Shown) -> dict:
    """Each figure as text: values of a time column as times and its
    standard deviation as a duration, a text column's lowest, highest and
    last value as words."""
    def value(v):
        return value_text(v, kind.kind, kind.words)
    spread = duration_text(stats.std) if kind.kind == TIME else value_text(stats.std, NUMBER)
    mean = value(stats.mean) if kind.kind == TIME else value_text(stats.mean, NUMBER)
    return {"count": f"{stats.count:,}", "min": value(stats.min), "max": value(stats.max),
            "mean": mean, "std": spread, "last": value(stats.last)}


def stats_line(stats: CurveStats, kind: Shown) -> str:
    """The statistics on one line: `n 1,000  min 0  max 9 ...`."""
    texts = figure_texts(stats, kind)
    return "  ".join(f"{'n' if k == 'count' else k} {texts[k]}" for k in FIGURES)


class PlotStatistics:
    """The statistics of one plot's curves over its visible X range,
    with each block's summary kept while the block, the curve and the range
    stay the same. `source` gives `curve_blocks()` (a plot's presenter).

    `pool` (an executor, optional) sums up the finished blocks wholly in
    view: a run that has just ended holds up to --max-rows rows per curve,
    and numpy lets go of the interpreter while it adds them up, so the
    window's frames go on meanwhile. Finished blocks never change, which
    makes reading them from another thread safe."""

    def __init__(self, source, pool=None):
        self.source = source
        self.pool = pool
        self.kept: dict = {}  # (block key, curve, cut) -> Summary
        self.pending: dict = {}  # the same keys -> the pool's future Summary

    def curves(self, span, wait: bool = False) -> list[tuple[object, CurveStats, Shown]] | None:
        """(curve key, statistics, kind of its Y column) per shown curve over
        the X range `span` (the plot's visible one); None while the pool is
        still summing up a block (unless `wait`)."""
        result, used, complete = [], {}, True
        for curve in self.source.curve_blocks():
            total = EMPTY
            for block in curve.blocks:
                summary = self._summary(block, curve.ident, span, used, wait)
                complete &= summary is not None
                total = total.then(summary or EMPTY)
            result.append((curve.key, CurveStats.of(curve.name, total), curve.kind))
        self.kept = used
        self.pending = {key: future for key, future in self.pending.items() if key in used}
        return result if complete else None

    def _summary(self, block, ident, span, used: dict, wait: bool) -> Summary | None:
        low, high = span if span is not None else (-math.inf, math.inf)
        whole = block.low is not None and low <= block.low and block.high <= high
        if block.key is None:  # rows that may change: summed up each time
            return summarise_in_range(block.x, block.y, low, high)
        key = (block.key, ident, None if whole else span)
        summary = self.kept.get(key)
        if summary is None:
            summary = (self._whole(key, block.y, wait) if whole
                       else summarise_in_range(block.x, block.y, low, high))
        used[key] = summary
        return summary

    def _whole(self, key, y, wait: bool) -> Summary | None:
        """A finished block's summary: from the pool when it is done (None
        until then), at once without a pool or when told to wait."""
        future = self.pending.get(key)
        if future is None:
            try:
                future = self.pool.submit(summarise, y) if self.pool is not None else None
            except RuntimeError:  # the pool has been shut down: the window is closing
                future = None
            if future is None:
                return summarise(y)
            self.pending[key] = future
        if not (wait or future.done()):
            return None
        del self.pending[key]
        return future.result()
