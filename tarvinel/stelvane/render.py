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

# Per finished run at most this many points go to the history plot.
HISTORY_POINTS_PER_RUN = 20_000
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


def pair_series(columns, pair, fx, fy, last: int | None = None):
    """(x, y) of one XY pair from `columns` (anything with `column(name)`),
    the last `last` rows only if given; None when a name is not a column."""
    try:
        x = columns.column(pair[0])
        y = columns.column(pair[1])
    except KeyError:
        return None
    if last is not None and len(x) > last:
        x, y = x[-last:], y[-last:]
    return formatted(x, fx), formatted(y, fy)


def history_series(runs: Sequence, pair, fx, fy, limit: int = HISTORY_POINTS_PER_RUN):
    """(x, y) of one XY pair over several runs, one after the other with a gap
    (NaN) between runs so that no line joins them; each run thinned to at most
    `limit` points by taking every k-th row. Runs without the pair's columns
    are left out."""
    xs, ys = [], []
    for run in runs:
        series = pair_series(run, pair, fx, fy)
        if series is None:
            continue
        x, y = series
        step = -(-len(x) // limit)  # ceiling division
        if step > 1:
            x, y = x[::step], y[::step]
        xs += [x, _GAP]
        ys += [y, _GAP]
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
