"""Peak-decimation of finished runs from a table of their extremes.

A finished run never changes, yet every new zoom level asks for its rows
thinned to another number of points, and thinning a run of a million rows
reads every row. The table reads them once: for every BIN rows (aligned to
the run's first row) the row of the lowest and of the highest value. Any
coarser thinning is then made from the table alone, bins of a whole number
of table bins, so a new zoom level costs a few thousand comparisons per run
instead of a pass over its rows. Only a thinning finer than the table (a
deep zoom, where few rows are in view) reads rows, and only those in view.

The result is what render.peak_decimated makes of the same rows (without
an exact tail): each bin keeps its lowest and its highest row, in row
order, and a NaN in a bin is kept as both; the bins are only rounded up to
whole table bins (at most one table bin more than asked for).
"""

import numpy as np

# Rows per bin of the table: the table of a run is a 64th of its size, and a
# thinning finer than this reads at most BIN rows per point asked for.
BIN = 128


class ExtremesTable:
    """For each whole BIN rows of one column: the row of its lowest and of
    its highest value, and those values."""

    def __init__(self, values: np.ndarray):
        self.rows = len(values)
        bins = self.rows // BIN
        grouped = values[:bins * BIN].reshape(bins, BIN)
        starts = np.arange(0, bins * BIN, BIN)
        self.low = starts + np.argmin(grouped, axis=1)
        self.high = starts + np.argmax(grouped, axis=1)
        self.low_values = values[self.low]
        self.high_values = values[self.high]

    def thinned(self, part, rows: slice, points: int) -> np.ndarray:
        """The rows (indices into the run) that draw the column's `rows`
        with about `points` points. `part(first, last)` gives the column's
        values[first:last], as the table was made of them: only the rows a
        thinning finer than the table needs are read."""
        first, last, _ = rows.indices(self.rows)
        count = last - first
        if count <= max(points, 4):
            return np.arange(first, last)
        size = -(-count // max(2, points // 2))  # rows per bin, as peak_decimated
        group = -(-size // BIN)  # table bins per bin
        if group <= 1:
            return first + _peak_rows(part(first, last), size)
        start_bin = -(-first // BIN)
        whole = (last // BIN - start_bin) // group
        end = (start_bin + whole * group) * BIN
        head = _extreme_rows(part, first, min(start_bin * BIN, last))
        keep = [head, self._grouped(start_bin, whole, group), _extreme_rows(part, end, last)]
        return np.concatenate(keep)

    def _grouped(self, start_bin: int, bins: int, group: int) -> np.ndarray:
        """The extreme rows of `bins` bins of `group` table bins each, from `start_bin` on."""
        span = slice(start_bin, start_bin + bins * group)
        low_values = self.low_values[span].reshape(bins, group)
        high_values = self.high_values[span].reshape(bins, group)
        offsets = np.arange(bins) * group
        low = self.low[span][offsets + np.argmin(low_values, axis=1)]
        high = self.high[span][offsets + np.argmax(high_values, axis=1)]
        # A bin holding a NaN shows it: argmin and argmax both find the NaN's
        # table bin, whose low and high are the NaN's row.
        keep = np.empty(2 * bins, dtype=np.intp)
        keep[0::2] = np.minimum(low, high)
        keep[1::2] = np.maximum(low, high)
        return keep


def _extreme_rows(part, first: int, last: int) -> np.ndarray:
    """The rows of the lowest and the highest of the values `part(first,
    last)`, in row order (one row when they are the same, none for no rows)."""
    if last <= first:
        return np.empty(0, dtype=np.intp)
    values = part(first, last)
    low, high = int(np.argmin(values)), int(np.argmax(values))
    return first + np.unique(np.array([low, high], dtype=np.intp))


def _peak_rows(values: np.ndarray, size: int) -> np.ndarray:
    """Bins of `size` rows from row 0, each kept as its extreme rows; the
    rows after the last whole bin are one more bin."""
    bins = len(values) // size
    grouped = values[:bins * size].reshape(bins, size)
    starts = np.arange(0, bins * size, size)
    low = starts + np.argmin(grouped, axis=1)
    high = starts + np.argmax(grouped, axis=1)
    keep = np.empty(2 * bins, dtype=np.intp)
    keep[0::2] = np.minimum(low, high)
    keep[1::2] = np.maximum(low, high)
    tail = _extreme_rows(lambda first, last: values[first:last], bins * size, len(values))
    return np.concatenate([keep, tail])
