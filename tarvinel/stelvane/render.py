"""From data sets and the toolbar's published selection to curve data.

Pure functions over numpy arrays plus one small class that feeds a plot
widget's curves; no Qt here, so the arithmetic is testable on its own.
"""

from collections.abc import Iterable, Sequence
import math

import numpy as np

# The toolbar's format names and what they make of a column. Real data stays
# real under "real" without a copy; "phase" is in degrees.
FORMATS = {
    "real": np.real,
    "imag": np.imag,
    "mag": np.abs,
    "phase": lambda values: np.angle(values, deg=True),
}

# The fewest points a finished run is drawn with in the history plot.
MIN_RUN_POINTS = 64
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


def history_series(runs: Sequence, pair, fx, fy, points: int, cache: dict | None = None):
    """(x, y) of one XY pair over several runs, one after the other with a gap
    (NaN) between runs so that no line joins them. Runs without the pair's
    columns are left out.

    `points` is what the whole x extent of the runs needs to look exact; each
    run gets its share by the part of that extent it covers (runs side by side
    share it, runs on top of each other each get all of it), rounded up to a
    power of two, and is peak-decimated to it.

    `cache` (a dict) keeps each run's series and x extent between calls, keyed
    by the run first: finished runs never change, so a new run costs only its
    own share (until the shares move to another power of two)."""
    cache = {} if cache is None else cache
    extents = {run: _x_extent(run, pair[0], fx, cache) for run in runs}
    known = [e for e in extents.values() if e is not None]
    if not known:
        return _EMPTY, _EMPTY
    whole = max(hi for _, hi in known) - min(lo for lo, _ in known)
    xs, ys = [], []
    for run, extent in extents.items():
        if extent is None:
            continue
        share = (extent[1] - extent[0]) / whole if whole > 0 else 1.0
        run_points = 2 ** math.ceil(math.log2(max(MIN_RUN_POINTS, points * share)))
        key = (run, pair, fx, fy, run_points)
        series = cache.get(key)
        if series is None:
            series = cache[key] = pair_series(run, pair, fx, fy, points=run_points)
        if series is None:
            continue
        xs += [series[0], _GAP]
        ys += [series[1], _GAP]
    if not xs:
        return _EMPTY, _EMPTY
    return np.concatenate(xs[:-1]), np.concatenate(ys[:-1])


def _x_extent(run, name, fx, cache: dict):
    """(lowest, highest) finite x of a run, or None (no such column, no finite x)."""
    key = (run, "x extent", name, fx)
    if key not in cache:
        try:
            x = formatted(run.column(name), fx)
        except KeyError:
            cache[key] = None
        else:
            extent = (float(x.min()), float(x.max())) if len(x) else None
            if extent is not None and not all(map(math.isfinite, extent)):
                finite = x[np.isfinite(x)]  # the rare case: look again without them
                extent = (float(finite.min()), float(finite.max())) if len(finite) else None
            cache[key] = extent
    return cache[key]


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
                # Symbols go off before dense data arrives and come on after
                # sparse data has: they are never built for a dense curve.
                sparse = len(data[1]) <= self.symbol_points
                if not sparse:
                    self._show_symbols(key, False)
                self.plot.set_data(key, data[0], data[1])
                if sparse:
                    self._show_symbols(key, True)
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
