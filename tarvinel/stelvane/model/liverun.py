"""The current run as the live plot draws it: which of its rows, thinned to
the plot's width.

Following its data (auto-range on), the live plot shows a file's rows
whole, as they stood when it was opened (WholeFile: a recording is looked
at whole), and otherwise its window (timewindow.py): the newest rows, or the rows whose X lies in the last SPAN
of X, up to the newest row's X. Where X grows with the row over the whole
run (each row's X at least the one before: a time column, a counter) those
rows are found by bisection. Where it does not (a sweep back and forth, a
missing value in X), a span of X is no stretch of rows, and the plot shows
the newest --live-rows rows instead.

Panned or zoomed by the user (auto-range off), it shows the whole current
run from memory: all of it while zoomed in at most twice, deeper in a window
of three views around the view on a grid (series.detail_window), cut by
bisection where X grows (else the whole run, which the view clips).

The rows are thinned from a table of extremes per Y column (extremes.py),
made when a thinning first needs it and extended by the rows that came
since, so a million rows zoomed out cost a few thousand table entries a
frame. What the data is does not matter: anything with `column(name)`,
`run_number` and `dropped` (the data set, the data held at a pause, a cut of
it; row numbers go on from the rows dropped at the run's start).
"""

from dataclasses import dataclass
import math

import numpy as np

from ..formats.recordings.extremesindex import thinned
from .extremes import BIN, ExtremesTable
from .growth import GrowingX
from .series import detail_window, formatted, joins, own_rows, peak_decimated
from .timewindow import TimeWindow


@dataclass(frozen=True)
class LiveView:
    """What the live plot asks of its rows in a frame: its `window` (and
    the --live-rows behind it), the points a curve wants (`points`, as the
    plot widget says), and while the user steers the view (not following)
    the X range shown (`view`, in the data's units), the plot's width in
    `pixels` and its deepest zoom (`zoom_steps`). `whole`: following, it
    shows every row of the run (a file's, see WholeFile), thinned."""
    window: TimeWindow
    live_rows: int
    points: int
    view: tuple[float, float] | None = None
    pixels: int = 0
    zoom_steps: int = 0
    whole: bool = False

    @property
    def following(self) -> bool:
        return self.view is None


def _run_end(data) -> tuple[int, int]:
    """(run number, rows of the run so far, dropped ones included)."""
    return data.run_number, data.dropped + len(data)


class WholeFile:
    """Whether the live plot shows a file whole: from when its rows begin
    to be read (`begin`) until a row beyond those it held when read
    (`read`) arrives; from then on the live window follows the newest rows,
    as it does for data still arriving. A file read anew from its start
    (rewritten, truncated) is whole again. Other sources never begin."""

    def __init__(self):
        self.reading = False
        self.ends: dict = {}  # mode key -> _run_end of its data set when the file was read

    def begin(self) -> None:
        self.reading, self.ends = True, {}

    def read(self, datasets: dict) -> None:
        """The file's rows are all in `datasets` (mode key -> data set)."""
        self.reading = False
        self.ends = {key: _run_end(data) for key, data in datasets.items()}

    def leave(self) -> None:
        """The user chose a window: it applies from now on (a file read
        anew is whole again)."""
        self.reading, self.ends = False, {}

    def shows(self, key, data) -> bool:
        """Whether `data` (mode `key`'s data set, or what is held of it) is shown whole."""
        return self.reading or self.ends.get(key) == _run_end(data)


def rows_of(data, pair, fx, fy, rows) -> tuple[np.ndarray, np.ndarray]:
    """(x, y) of `pair` over `rows` (see LiveRun.rows), as the formats show them."""
    return tuple(formatted(data.column(name)[rows[0]:rows[1]], fmt)
                 for name, fmt in zip(pair, (fx, fy)))


def _from_index(data, name, fy, y, rows) -> tuple[np.ndarray, np.ndarray] | None:
    """The rows that draw `rows` of a mapped column (dataset.map_columns)
    and their values, from its min/max index on disk: none of its rows read
    but at the range's ends. None where there is no index (or the format
    changes the values' order, or the view is finer than the index)."""
    levels = getattr(data, "extremes_index", lambda _: None)(name)
    if levels is None or fy not in (None, "real") or y.dtype.kind == "c":
        return None
    first, last, points = rows
    return thinned(levels, lambda a, b: y[a:b], first, last, points, len(y))


class LiveRun:
    """The rows a live plot draws from the current run, and what it keeps
    about the run between frames: per Y column a table of extremes, per X
    column whether it grows. Another run (or mode) starts afresh."""

    def __init__(self):
        self.run = None
        self.tables: dict = {}  # (y name, fy) -> ExtremesTable
        self.growth = GrowingX()  # of (x name, fx)

    def rows(self, data, mode_key, pair, fx, view: LiveView):
        """(first, last, points): the rows of `pair` drawn (data's row
        indices) and the points to thin them to; None when a name is no
        column of `data`."""
        self._meet(data, mode_key)
        try:
            x = formatted(data.column(pair[0]), fx)
            data.column(pair[1])
        except KeyError:
            return None
        n = len(x)
        grows = self.growth.grows(x, data.dropped, (pair[0], fx))
        if view.following:
            if view.whole:
                return 0, n, view.points
            span = view.window.span
            if span is not None and grows and n and math.isfinite(x[-1]):
                return int(np.searchsorted(x, x[-1] - span, side="left")), n, view.points
            return max(0, n - view.window.row_count(view.live_rows)), n, view.points
        if not (grows and n and math.isfinite(x[0]) and math.isfinite(x[-1])):
            return 0, n, view.points
        points, cut = detail_window(view.view, (float(x[0]), float(x[-1])), view.pixels,
                                    view.zoom_steps)
        if cut is None:
            return 0, n, points
        first = max(0, int(np.searchsorted(x, cut[0], side="left")) - 1)
        return first, min(n, int(np.searchsorted(x, cut[1], side="right")) + 1), points

    def x_grows(self, pair, fx) -> bool | None:
        """Whether the pair's X grew over the rows last asked for (rows()),
        None when not known."""
        growth = self.growth.memo.get((pair[0], fx))
        return None if growth is None else growth.grows

    def series(self, data, pair, fx, fy, rows):
        """(x, y) of `pair` over `rows` (see rows()), thinned; the newest
        rows after the last whole bin are kept exact."""
        first, last, points = rows
        if joins(data, pair[1]):
            return own_rows(*rows_of(data, pair, fx, fy, (first, last)), points)
        x, y = data.column(pair[0]), data.column(pair[1])
        if (last - first) // max(2, points // 2) <= BIN:  # finer than a table: from the rows
            return peak_decimated(formatted(x[first:last], fx), formatted(y[first:last], fy), points)
        found = _from_index(data, pair[1], fy, y, rows)
        if found is not None:  # y's values from the index: only x's are read from the map
            return formatted(x[found[0]], fx), found[1]
        offset = data.dropped
        table = self._table(y, offset, pair[1], fy)

        def part(begin, end):
            return formatted(y[begin - offset:end - offset], fy)
        keep = table.thinned(part, slice(first + offset, last + offset), points, exact_tail=True)
        keep -= offset
        return formatted(x[keep], fx), formatted(y[keep], fy)

    def _meet(self, data, mode_key) -> None:
        run = (mode_key, data.run_number)
        if run != self.run:
            self.run = run
            self.tables.clear()
            self.growth.clear()

    def _table(self, y, offset: int, name, fy) -> ExtremesTable:
        """The table of column `name` in `fy`, brought up to the rows of `y`."""
        table = self.tables.get((name, fy))
        end = offset + len(y)

        def part(begin, stop):
            return formatted(y[begin - offset:stop - offset], fy)
        if table is not None:
            table.forget(offset)
        if table is None or not table.matches(part, end):
            table = self.tables[(name, fy)] = ExtremesTable(offset=offset)
        new = max(offset, table.end_bin * BIN)
        table.extend(part(new, end), new)
        return table
