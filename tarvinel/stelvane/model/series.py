"""From data sets and the toolbar's published selection to curve data.

Pure functions over numpy arrays that return arrays: the presenters hand
them to the widgets (presenters/curves.py); no Qt here, so the arithmetic is
testable on its own.
"""

from collections.abc import Iterable, Sequence
import math

import numpy as np

from .extremes import ExtremesTable, bin_size, peak_rows
from .growth import grows

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

# Zooming in up to 2**MAX_ZOOM_STEPS times gives the curves more detail.
MAX_ZOOM_STEPS = 5

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


def peak_decimated(x: np.ndarray, y: np.ndarray, points: int, exact_tail: bool = True):
    """At most about `points` points of (x, y) that draw the same picture: the
    rows are cut into equal bins and each bin keeps its lowest and its highest
    y, in row order. The rows after the last full bin (fewer than a bin) are
    all kept when `exact_tail`, so the newest rows of a live run are exact;
    otherwise they are one more bin, which matters when a bin is large (a
    long finished run thinned hard could keep thousands of rows there).
    Works for any x (x follows the kept rows). A NaN in a bin is kept as both
    points, so the curve shows the gap."""
    if len(y) <= max(points, 4):
        return x, y
    keep = peak_rows(y, bin_size(len(y), points), exact_tail)
    return x[keep], y[keep]


def joins(data, name: str) -> bool:
    """Whether column `name` of `data` is drawn joined over its own rows
    (an entity's column of a split table, entitysplit.py)."""
    return getattr(data, "joins", lambda _: False)(name)


def own_rows(x: np.ndarray, y: np.ndarray, points: int, exact_tail: bool = True):
    """(x, y) of a joined column over its own rows only (y not NaN),
    thinned: the rows of the other entities are left out, so each entity
    is one line over its rows, with no gap and no jump to theirs."""
    own = ~np.isnan(y)
    return peak_decimated(x[own], y[own], points, exact_tail)


def pair_series(columns, pair, fx, fy, last: int | None = None, points: int | None = None,
                exact_tail: bool = True):
    """(x, y) of one XY pair from `columns` (anything with `column(name)`),
    the last `last` rows only if given, peak-decimated to about `points` if
    given (see peak_decimated for `exact_tail`); None when a name is not a
    column."""
    try:
        x = columns.column(pair[0])
        y = columns.column(pair[1])
    except KeyError:
        return None
    if last is not None and len(x) > last:
        x, y = x[-last:], y[-last:]
    x, y = formatted(x, fx), formatted(y, fy)
    return (x, y) if points is None else peak_decimated(x, y, points, exact_tail)


def history_series(runs: Sequence, pair, fx, fy, points: int, cache: dict | None = None,
                   window: tuple[float, float] | None = None):
    """(x, y) of one XY pair over several runs, one after the other with a gap
    (NaN) between runs so that no line joins them. Runs without the pair's
    columns are left out.

    `points` is what the whole x extent of the runs needs to look exact; each
    run gets its share by the part of that extent it covers (runs side by side
    share it, runs on top of each other each get all of it), rounded up to a
    power of two, and is peak-decimated to it.

    `window` (low, high), when given, is the x range that must look exact
    (the view of a zoomed plot, with a margin), and `points` is for that
    range alone: a run whose x grows with the row is cut to the window (one
    row beyond each edge, so lines leave the window as they should), a run
    wholly outside it is left out. A run whose x does not grow is drawn
    whole, as without a window.

    `cache` (a dict) keeps each run's series, x extent and table of extremes
    (extremes.py) between calls, keyed by the run first: finished runs never change, so a new run costs only its
    own share (until the shares move to another power of two). Series cut to
    a window are kept for that window only; runs wholly inside the window keep
    the key they have without one, so panning costs only the runs at the
    window's edges."""
    steps = history_series_steps(runs, pair, fx, fy, points, cache, window)
    while True:
        try:
            next(steps)
        except StopIteration as finished:
            return finished.value


def history_series_steps(runs: Sequence, pair, fx, fy, points: int, cache: dict | None = None,
                         window: tuple[float, float] | None = None):
    """history_series a little at a time: a generator that yields after each
    pass over a run's rows (an extent, a thinning) and returns the series, so
    a caller can spread a long history over several frames."""
    cache = {} if cache is None else cache
    extents = {}
    for run in runs:
        known_before = (run, "x extent", pair[0], fx) in cache
        extents[run] = x_extent(run, pair[0], fx, cache)
        if not known_before:
            yield
    known = [e for e in extents.values() if e is not None]
    if not known:
        return _EMPTY, _EMPTY
    whole = (max(hi for _, hi in known) - min(lo for lo, _ in known) if window is None
             else window[1] - window[0])
    if window is not None:
        _forget_other_windows(cache, window)
    xs, ys = [], []
    for run, extent in extents.items():
        cut = None if extent is None else _cut_to_window(run, pair[0], fx, extent, window, cache)
        if extent is None or cut is False:
            continue
        if cut is not None:
            extent = (max(extent[0], window[0]), min(extent[1], window[1]))
        share = (extent[1] - extent[0]) / whole if whole > 0 else 1.0
        run_points = 2 ** math.ceil(math.log2(max(MIN_RUN_POINTS, points * min(share, 1.0))))
        key = (run, pair, fx, fy, run_points) if cut is None else (run, pair, fx, fy, run_points, window)
        if key not in cache:
            cache[key] = _run_series(run, pair, fx, fy, run_points, cut, cache)
            yield
        if cache[key] is not None:
            xs += [cache[key][0], _GAP]
            ys += [cache[key][1], _GAP]
    if not xs:
        return _EMPTY, _EMPTY
    return np.concatenate(xs[:-1]), np.concatenate(ys[:-1])


def _cut_to_window(run, name, fx, extent, window, cache: dict):
    """The rows of a run to draw in `window`: None for all of them, a
    slice for those of a run whose x grows and reaches past the window,
    False for a run wholly outside it."""
    if window is None or window[0] <= extent[0] <= extent[1] <= window[1] \
            or not _x_grows(run, name, fx, cache):
        return None
    if extent[1] < window[0] or extent[0] > window[1]:
        return False
    return _window_rows(run, name, fx, window)


def _run_series(run, pair, fx, fy, points: int, rows: slice | None, cache: dict):
    """The run's rows (all, or `rows`) thinned to about `points`, from the
    run's table of extremes (extremes.py; made once per run and column): a
    finished run has no newest rows to keep exact, and a new zoom level
    does not read all its rows again."""
    try:
        x = run.column(pair[0])
        y = run.column(pair[1])
    except KeyError:
        return None
    if joins(run, pair[1]):
        rows = rows or slice(None)
        return own_rows(formatted(x[rows], fx), formatted(y[rows], fy), points, exact_tail=False)
    key = (run, "extremes", pair[1], fy)
    if key not in cache:
        cache[key] = ExtremesTable(formatted(y, fy))
    keep = cache[key].thinned(lambda first, last: formatted(y[first:last], fy),
                              rows or slice(None), points)
    return formatted(x[keep], fx), formatted(y[keep], fy)


def _forget_other_windows(cache: dict, window) -> None:
    # Series cut to an earlier window are of no more use once the view moved on.
    stale = [k for k in cache if len(k) == 6 and k[5] != window]
    for key in stale:
        del cache[key]


def _x_grows(run, name, fx, cache: dict) -> bool:
    """Whether the run's x (as `fx` shows it) never decreases from row to row."""
    key = (run, "x grows", name, fx)
    if key not in cache:
        x = formatted(run.column(name), fx)
        cache[key] = grows(x)
    return cache[key]


def _window_rows(run, name, fx, window) -> slice:
    """The rows of a run whose x grows that lie in `window`, and one more on
    each side."""
    x = formatted(run.column(name), fx)
    first = max(0, int(np.searchsorted(x, window[0], side="left")) - 1)
    last = min(len(x), int(np.searchsorted(x, window[1], side="right")) + 1)
    return slice(first, last)


def x_extent(run, name, fx, cache: dict):
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


def zoom_points(pixels: int, view: tuple[float, float] | None = None,
                data: tuple[float, float] | None = None, max_zoom_steps: int = 0) -> int:
    """How many points a curve needs to look exact in a plot `pixels` wide:
    two per pixel column (of 200 at least), times the zoom of x range
    `view` into data spanning `data` (none: no zoom), by powers of two and at
    most 2**max_zoom_steps, so that zooming does not make every frame a new
    size."""
    points = 2 * max(200, int(pixels))
    if data is None or view is None or not view[1] > view[0] or not data[1] > data[0]:
        return points
    zoom = (data[1] - data[0]) / (view[1] - view[0])
    steps = math.ceil(math.log2(max(zoom, 1)) - 1e-6)  # 2.000001 times is 2 times
    return points * 2 ** min(max_zoom_steps, max(0, steps))


def detail_window(view: tuple[float, float], data: tuple[float, float] | None, pixels: int,
                  max_zoom_steps: int):
    """How a plot zoomed to x range `view` over data spanning `data`, `pixels`
    wide, wants its curves: (points, window) for `history_series`.

    Up to twice zoomed in, the whole data gets two points per pixel column
    times the zoom (rounded up to a power of two) and no window. Further in,
    only a window around the view is made exact: three times the view's
    width rounded up to a power-of-two part of the data, centred on a grid
    of half that width, so a pan of less than a quarter of it keeps the
    window, and a zoom that stays within the same power of two keeps it too.
    The window gets two points per pixel column of a view its own third's
    width, which is at least as wide as the view."""
    if data is None or not view[1] > view[0] or not data[1] > data[0]:
        return zoom_points(pixels), None
    zoom = (data[1] - data[0]) / (view[1] - view[0])
    if zoom <= 2:
        return zoom_points(pixels, view, data, max_zoom_steps), None
    points = zoom_points(pixels)
    width = (data[1] - data[0]) / 2 ** math.floor(math.log2(zoom))  # view width <= width < twice it
    half = width / 2
    centre = data[0] + round(((view[0] + view[1]) / 2 - data[0]) / half) * half
    return 3 * points, (centre - 1.5 * width, centre + 1.5 * width)


def stepped(x, y):
    """A state's curve as steps: each word held until the next row's x,
    not a slope from one word to the next."""
    if x is None or len(x) < 2:
        return x, y
    return np.repeat(x, 2)[1:], np.repeat(y, 2)[:-1]


def data_extent(blocks, log_x: bool = False, log_y: bool = False):
    """((x low, x high), (y low, y high)) of the finite values of `blocks`
    (statistics.RowBlock), as a view with log axes takes them (log10 of
    the positive values); None when there are none."""
    extents = []
    for column, log in (("x", log_x), ("y", log_y)):
        low, high = math.inf, -math.inf
        for block in blocks:
            values = np.asarray(getattr(block, column), dtype=float)
            values = values[np.isfinite(values) & (values > 0)] if log else \
                values[np.isfinite(values)]
            if len(values):
                low, high = min(low, float(values.min())), max(high, float(values.max()))
        if low > high:
            return None
        extents.append((math.log10(low), math.log10(high)) if log else (low, high))
    return tuple(extents)
