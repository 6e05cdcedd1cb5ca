"""From data sets and the toolbar's published selection to curve data.

Pure functions over numpy arrays plus one small class that feeds a plot
widget's curves; no Qt here, so the arithmetic is testable on its own.
"""

from collections.abc import Iterable, Sequence

import numpy as np

# The toolbar's format names and what they make of a column. Real data stays
# real under "real" without a copy; "phase" is in degrees.
FORMATS = {
    "real": np.real,
    "imag": np.imag,
    "mag": np.abs,
    "phase": lambda values: np.angle(values, deg=True),
}

# Per finished run about this many points go to the history plot.
HISTORY_POINTS_PER_RUN = 4_000
# A curve shows its symbols up to this many points. Beyond, the symbols would
# merge into a thick line anyway, and drawing them costs far more than the
# line (pyqtgraph builds each symbol in Python).
SYMBOL_POINTS = 1_000

_GAP = np.array([np.nan])
_EMPTY = np.empty(0)


def formatted(values: np.ndarray, fmt: str | None) -> np.ndarray:
    """`values` as the format shows them; an unknown or missing format is "real"."""
    return FORMATS.get(fmt, np.real)(values)


def axis_label(names: Iterable[str], fmt: str | None) -> str:
    """The label of an axis showing the columns `names` (repeats once) in `fmt`."""
    unique = list(dict.fromkeys(names))
    if fmt in (None, "real"):
        return ", ".join(unique)
    suffix = " [deg]" if fmt == "phase" else ""
    return ", ".join(f"{fmt}({name})" for name in unique) + suffix


def peak_decimated(x: np.ndarray, y: np.ndarray, points: int):
    """At most about `points` points of (x, y) that draw the same picture: the
    rows are cut into equal bins and each bin keeps its lowest and its highest
    y, in row order; the rows after the last full bin are all kept, so the
    newest rows are exact. Works for any x (x follows the kept rows). A NaN in
    a bin is kept as both points, so the curve shows the gap."""
    n = len(y)
    if n <= max(points, 4):
        return x, y
    size = -(-n // max(2, points // 2))  # rows per bin
    bins = n // size
    whole = bins * size
    grouped = y[:whole].reshape(bins, size)
    low, high = np.argmin(grouped, axis=1), np.argmax(grouped, axis=1)
    starts = np.arange(0, whole, size)
    keep = np.empty(2 * bins + (n - whole), dtype=np.intp)
    keep[0:2 * bins:2] = starts + np.minimum(low, high)
    keep[1:2 * bins:2] = starts + np.maximum(low, high)
    keep[2 * bins:] = np.arange(whole, n)
    return x[keep], y[keep]


def pair_series(columns, pair, fx, fy, last: int | None = None, points: int | None = None):
    """(x, y) of one XY pair from `columns` (anything with `column(name)`),
    the last `last` rows only if given, peak-decimated to about `points` if
    given; None when a name is not a column."""
    try:
        x = columns.column(pair[0])
        y = columns.column(pair[1])
    except KeyError:
        return None
    if last is not None and len(x) > last:
        x, y = x[-last:], y[-last:]
    x, y = formatted(x, fx), formatted(y, fy)
    return (x, y) if points is None else peak_decimated(x, y, points)


def history_series(runs: Sequence, pair, fx, fy, points: int = HISTORY_POINTS_PER_RUN,
                   cache: dict | None = None):
    """(x, y) of one XY pair over several runs, one after the other with a gap
    (NaN) between runs so that no line joins them; each run peak-decimated to
    about `points` points. Runs without the pair's columns are left out.

    `cache` (a dict) keeps each run's series between calls, keyed by the run
    first: finished runs never change, so a new run costs only its own share."""
    xs, ys = [], []
    for run in runs:
        key = (run, pair, fx, fy, points)
        series = cache.get(key) if cache is not None else None
        if series is None:
            series = pair_series(run, pair, fx, fy, points=points)
            if cache is not None and series is not None:
                cache[key] = series
        if series is None:
            continue
        xs += [series[0], _GAP]
        ys += [series[1], _GAP]
    if not xs:
        return _EMPTY, _EMPTY
    return np.concatenate(xs[:-1]), np.concatenate(ys[:-1])


class CurveFeeder:
    """Feeds the curves of one plot widget: curve k shows series k, curves
    without a series are emptied once (not at every frame)."""

    def __init__(self, plot, keys: Sequence, symbol_points: int = SYMBOL_POINTS):
        self.plot = plot
        self.keys = list(keys)
        self.symbol_points = symbol_points
        self._filled: set = set()
        # The symbol shape the widget gave each curve, to put back when the
        # curve is sparse again.
        self._symbols = {key: plot.plots[key].opts["symbol"] for key in self.keys}

    def show(self, series: Sequence) -> None:
        for key, data in zip(self.keys, series):
            if data is None:
                self._empty(key)
            else:
                self._show_symbols(key, len(data[1]) <= self.symbol_points)
                self.plot.set_data(key, data[0], data[1])
                self._filled.add(key)
        for key in self.keys[len(series):]:
            self._empty(key)

    def _show_symbols(self, key, shown: bool) -> None:
        curve = self.plot.plots[key]
        symbol = self._symbols[key] if shown else None
        if curve.opts["symbol"] != symbol:
            curve.setSymbol(symbol)

    def _empty(self, key) -> None:
        if key in self._filled:
            self.plot.set_data(key, _EMPTY, _EMPTY)
            self._filled.discard(key)
