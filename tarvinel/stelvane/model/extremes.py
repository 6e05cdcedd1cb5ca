"""Peak-decimation of finished runs from a table of their extremes.

A finished run never changes, yet every new zoom level asks for its rows
thinned to another number of points, and thinning a run of a million rows
reads every row. The table reads them once: for every BIN rows (aligned to
the run's first row) the row of the lowest and of the highest value. Any
coarser thinning is then made from the table alone, bins of a whole number
of table bins, so a new zoom level costs a few thousand comparisons per run
instead of a pass over its rows. Only a thinning finer than the table (a
deep zoom, where few rows are in view) reads rows, and only those in view.

The current run grows: its table is extended with each frame's new rows
(only the new whole bins are read) and forgets the bins of the rows the run
drops, so a live plot zoomed out over a million rows costs about as much
per frame as one following its newest rows (liverun.py).

The result is what series.peak_decimated makes of the same rows (without
an exact tail): each bin keeps its lowest and its highest row, in row
order, and a NaN in a bin is kept as both; the bins are only rounded up to
whole table bins (at most one table bin more than asked for).
"""

import numpy as np

from ..formats.recordings.extremesindex import bin_size, extreme_rows, in_row_order

# Rows per bin of the table: the table of a run is a 64th of its size, and a
# thinning finer than this reads at most BIN rows per point asked for.
BIN = 128


class ExtremesTable:
    """For each whole BIN rows of one column: the row of its lowest and of
    its highest value, and those values. Rows are numbered from the run's
    first row; a table of a growing run is `extend`ed with its new rows and
    forgets the bins of rows the run has dropped."""

    def __init__(self, values: np.ndarray | None = None, offset: int = 0):
        self.rows = offset  # the rows seen: the table covers the whole bins below
        self.first_bin = self.end_bin = -(-offset // BIN)
        self._index = np.empty((0, 2), dtype=np.intp)  # [low row, high row] per bin
        self._value = np.empty((0, 2))
        self._start = 0  # where bin first_bin is in the arrays
        if values is not None:
            self.extend(values, offset)

    def _kept(self, table: np.ndarray, side: int) -> np.ndarray:
        """One side (0 low, 1 high) of `table` over the bins the table keeps."""
        return table[self._start:self._start + self.end_bin - self.first_bin, side]

    @property
    def low(self) -> np.ndarray:
        return self._kept(self._index, 0)

    @property
    def high(self) -> np.ndarray:
        return self._kept(self._index, 1)

    @property
    def low_values(self) -> np.ndarray:
        return self._kept(self._value, 0)

    @property
    def high_values(self) -> np.ndarray:
        return self._kept(self._value, 1)

    def extend(self, values: np.ndarray, offset: int = 0) -> None:
        """Takes the whole bins of `values` (rows offset, offset + 1, ...)
        that the table has not got yet. Rows between the table's end and
        `offset` the table never saw: it starts again after them."""
        if offset > self.end_bin * BIN:
            self.first_bin = self.end_bin = -(-offset // BIN)
            self._start = 0
        self.rows = max(self.rows, offset + len(values))
        bins = (offset + len(values)) // BIN - self.end_bin
        if bins <= 0:
            return
        begin = self.end_bin * BIN
        grouped = values[begin - offset:begin - offset + bins * BIN].reshape(bins, BIN)
        starts = np.arange(begin, begin + bins * BIN, BIN)
        index = np.column_stack([starts + np.argmin(grouped, axis=1),
                                 starts + np.argmax(grouped, axis=1)])
        self._append(index, values[index - offset])

    def forget(self, first_row: int) -> None:
        """Drops the bins of the rows before `first_row` (a run that drops
        its oldest rows)."""
        first_kept = min(-(-first_row // BIN), self.end_bin)
        if first_kept > self.first_bin:
            self._start += first_kept - self.first_bin
            self.first_bin = first_kept

    def _append(self, index: np.ndarray, value: np.ndarray) -> None:
        used = self.end_bin - self.first_bin
        end = self._start + used
        if end + len(index) > len(self._index):  # more room, the dropped bins left behind
            size = max(2 * (used + len(index)), 64)
            fresh_index, fresh_value = np.empty((size, 2), np.intp), np.empty((size, 2))
            fresh_index[:used], fresh_value[:used] = self._index[self._start:end], self._value[self._start:end]
            self._index, self._value, self._start, end = fresh_index, fresh_value, 0, used
        self._index[end:end + len(index)] = index
        self._value[end:end + len(index)] = value
        self.end_bin += len(index)

    def matches(self, part, rows: int) -> bool:
        """Whether the table's newest bin below row `rows` was made from the
        values `part(first, last)` gives (rows first to last): a cheap look
        that tells a table of other rows."""
        last = min(self.end_bin, rows // BIN) - 1
        if last < self.first_bin:
            return True
        at = self._start + last - self.first_bin
        values = [part(int(row), int(row) + 1) for row in self._index[at]]
        return all(len(v) == 1 for v in values) and np.array_equal(
            np.concatenate(values), self._value[at], equal_nan=True)

    def thinned(self, part, rows: slice, points: int, exact_tail: bool = False) -> np.ndarray:
        """The rows (indices into the run) that draw the column's `rows`
        with about `points` points. `part(first, last)` gives the column's
        values[first:last], as the table was made of them: only the rows a
        thinning finer than the table needs are read. With `exact_tail`
        the rows after the last whole bin are all kept (the newest rows of
        a live run), else they are one more bin."""
        first, last, _ = rows.indices(self.rows)
        count = last - first
        if count <= max(points, 4):
            return np.arange(first, last)
        size = bin_size(count, points)
        group = -(-size // BIN)  # table bins per bin
        start_bin = max(-(-first // BIN), self.first_bin)
        if group <= 1 or start_bin * BIN - first > size or self.end_bin < last // BIN:
            # (Finer than the table, or rows the table does not cover.)
            return first + peak_rows(part(first, last), size, exact_tail)
        whole = max(0, (min(last // BIN, self.end_bin) - start_bin) // group)
        end = (start_bin + whole * group) * BIN
        head = extreme_rows(part, first, min(start_bin * BIN, last))[0]
        tail = (np.arange(end, last) if exact_tail and last - end <= 2 * size
                else extreme_rows(part, end, last)[0])
        return np.concatenate([head, self._grouped(start_bin, whole, group), tail])

    def _grouped(self, start_bin: int, bins: int, group: int) -> np.ndarray:
        """The extreme rows of `bins` bins of `group` table bins each, from `start_bin` on."""
        span = slice(start_bin - self.first_bin, start_bin - self.first_bin + bins * group)
        low_values = self.low_values[span].reshape(bins, group)
        high_values = self.high_values[span].reshape(bins, group)
        offsets = np.arange(bins) * group
        low = self.low[span][offsets + np.argmin(low_values, axis=1)]
        high = self.high[span][offsets + np.argmax(high_values, axis=1)]
        # A bin holding a NaN shows it: argmin and argmax both find the NaN's
        # table bin, whose low and high are the NaN's row.
        return in_row_order(low, high)


def peak_rows(values: np.ndarray, size: int, exact_tail: bool = False) -> np.ndarray:
    """Bins of `size` rows from row 0, each kept as its lowest and highest
    row, in row order (a NaN in a bin is both). The rows after the last
    whole bin are all kept with `exact_tail` (or when there are at most
    two), else kept as one more bin."""
    bins = len(values) // size
    whole = bins * size
    grouped = values[:whole].reshape(bins, size)
    starts = np.arange(0, whole, size)
    keep = in_row_order(starts + np.argmin(grouped, axis=1), starts + np.argmax(grouped, axis=1))
    if exact_tail or len(values) - whole <= 2:
        tail = np.arange(whole, len(values))
    else:
        last = values[whole:]
        low, high = int(np.argmin(last)), int(np.argmax(last))
        tail = whole + np.array([min(low, high), max(low, high)], dtype=np.intp)
    return np.concatenate([keep, tail])
