"""The min/max index of a recorded column on disk: levels of bins, each bin
its lowest and its highest row and their values, so that a zoomed-out view
of a recording of any length is thinned from a few thousand index entries,
never from its rows.

Level 0 has a bin per FIRST_BIN rows (aligned to the recording's first
row); each level above joins FANOUT bins of the one below. A level is one
file of float64 (bins x 4: low row, high row, low value, high value; rows
are exact in float64 up to 2**53), memory-mapped when read. The last bin
of a level may hold fewer rows. A NaN in a bin is its low and its high, as
in the window's table of extremes (model/extremes.py), so the index thins
to what that table and series.peak_decimated make of the same rows, but
that a thinning's bins are rounded to whole index bins.

`IndexWriter` builds the index as the rows stream by (a recording being
converted into the cache); `thinned_rows` answers a view from it.

This module imports no Qt: the producer process writes the index.
"""

import os

import numpy as np

FIRST_BIN = 128
FANOUT = 16
_ENTRY = 4  # float64 per bin: low row, high row, low value, high value


def level_bin(level: int) -> int:
    """Rows per bin of `level`."""
    return FIRST_BIN * FANOUT ** level


def level_path(folder: str, column: int, level: int) -> str:
    return os.path.join(folder, f"c{column}.level{level}")


def bin_extremes(values: np.ndarray, size: int, first_row: int) -> np.ndarray:
    """Bins of `size` rows of `values` (the last may be shorter) as index
    entries, rows numbered from `first_row`."""
    whole = len(values) // size * size
    parts = [values[:whole].reshape(-1, size)] if whole else []
    entries = [_entries(part, first_row + np.arange(0, whole, size)) for part in parts]
    if whole < len(values):
        rest = values[whole:].reshape(1, -1)
        entries.append(_entries(rest, np.array([first_row + whole])))
    return np.concatenate(entries) if entries else np.empty((0, _ENTRY))


def _entries(grouped: np.ndarray, starts: np.ndarray) -> np.ndarray:
    low, high = np.argmin(grouped, axis=1), np.argmax(grouped, axis=1)
    picked = np.arange(len(grouped))
    return np.column_stack([starts + low, starts + high, grouped[picked, low], grouped[picked, high]])


def joined(entries: np.ndarray) -> np.ndarray:
    """The level above `entries`: FANOUT of their bins per bin."""
    count = -(-len(entries) // FANOUT)
    padded = np.empty((count * FANOUT, _ENTRY))
    padded[:len(entries)] = entries
    padded[len(entries):] = (0, 0, np.inf, -np.inf)  # never an extreme but where all are
    grouped = padded.reshape(count, FANOUT, _ENTRY)
    low = np.argmin(grouped[:, :, 2], axis=1)
    high = np.argmax(grouped[:, :, 3], axis=1)
    picked = np.arange(count)
    return np.column_stack([grouped[picked, low, 0], grouped[picked, high, 1],
                            grouped[picked, low, 2], grouped[picked, high, 3]])


class IndexWriter:
    """Writes the index of `width` float64 columns into `folder` as their
    rows arrive (`add`, blocks of rows in order); `finish` writes the
    levels above the first. Holds at most a bin of rows per column."""

    def __init__(self, folder: str, width: int):
        self.folder, self.width, self.rows = folder, width, 0
        self._carry = [np.empty(0) for _ in range(width)]
        self._files = [open(level_path(folder, j, 0), "wb") for j in range(width)]

    def add(self, columns: list[np.ndarray]) -> None:
        for j, values in enumerate(columns):
            values = np.concatenate([self._carry[j], np.asarray(values, np.float64)])
            whole = len(values) // FIRST_BIN * FIRST_BIN
            first = self.rows - len(self._carry[j])
            self._files[j].write(bin_extremes(values[:whole], FIRST_BIN, first).tobytes())
            self._carry[j] = values[whole:].copy()
        self.rows += len(columns[0]) if columns else 0

    def finish(self) -> int:
        """Writes the last bins and the levels above; the number of levels."""
        levels = 1
        for j, file in enumerate(self._files):
            first = self.rows - len(self._carry[j])
            file.write(bin_extremes(self._carry[j], FIRST_BIN, first).tobytes())
            file.close()
            levels = self._write_levels(j)
        return levels

    def close(self) -> None:
        for file in self._files:
            file.close()

    def _write_levels(self, column: int) -> int:
        """Level after level of the column until one has a single bin."""
        level, entries = 0, read_level(self.folder, column, 0)
        while len(entries) > 1:
            entries = joined(entries)
            level += 1
            with open(level_path(self.folder, column, level), "wb") as file:
                file.write(entries.tobytes())
        return level + 1


def read_level(folder: str, column: int, level: int) -> np.ndarray:
    """A level's bins, memory-mapped (bins x 4)."""
    path = level_path(folder, column, level)
    if os.path.getsize(path) == 0:
        return np.empty((0, _ENTRY))
    return np.memmap(path, np.float64, "r").reshape(-1, _ENTRY)


def thinned_rows(levels: list[np.ndarray], part, first: int, last: int, points: int,
                 rows: int) -> np.ndarray | None:
    """The rows of thinned(...), or None."""
    found = thinned(levels, part, first, last, points, rows)
    return None if found is None else found[0]


def thinned(levels: list[np.ndarray], part, first: int, last: int, points: int,
            rows: int) -> tuple[np.ndarray, np.ndarray] | None:
    """The rows that draw rows [first, last) of a column of `rows` rows with
    about `points` points, from its index `levels` (read_level's, from 0
    up), and their values: (rows, values). `part(a, b)` gives the column's
    values [a, b), read only at the range's ends (the index holds the rest:
    the rows between are never read). None where the view is finer than
    the index (the caller thins the rows themselves)."""
    first, last = max(0, first), min(last, rows)
    size = bin_size(last - first, points)
    level = _coarsest(len(levels), size)
    if level is None:
        return None
    step = level_bin(level)
    group = -(-size // step)  # whole index bins, at least the size asked: at most `points`
    start_bin = -(-first // step)
    end_bin = len(levels[level]) if last >= rows else last // step
    whole = max(0, (end_bin - start_bin) // group)
    end = min(rows, (start_bin + whole * group) * step)
    parts = [extreme_rows(part, first, min(start_bin * step, last)),
             _grouped(levels[level][start_bin:start_bin + whole * group], whole, group),
             extreme_rows(part, max(end, first), last if end < last else end)]
    return (np.concatenate([rows for rows, _ in parts]),
            np.concatenate([values for _, values in parts]))


def _coarsest(levels: int, size: int) -> int | None:
    fitting = [level for level in range(levels) if level_bin(level) <= size]
    return fitting[-1] if fitting else None


_NONE = (np.empty(0, np.intp), np.empty(0))


def _grouped(entries: np.ndarray, bins: int, group: int) -> tuple[np.ndarray, np.ndarray]:
    """Bins of `group` index entries each, as their extreme rows in row
    order, and those rows' values."""
    if bins == 0:
        return _NONE
    grouped = np.asarray(entries).reshape(bins, group, _ENTRY)
    picked = np.arange(bins)
    low_at, high_at = np.argmin(grouped[:, :, 2], axis=1), np.argmax(grouped[:, :, 3], axis=1)
    return in_row_order(grouped[picked, low_at, 0], grouped[picked, high_at, 1],
                        grouped[picked, low_at, 2], grouped[picked, high_at, 3])


# --- peak thinning, shared with the window's table of extremes ---------------------

def bin_size(rows: int, points: int) -> int:
    """Rows per bin to draw `rows` rows with about `points` points (each bin
    keeps two)."""
    return -(-rows // max(2, points // 2))


def in_row_order(low, high, low_values=None, high_values=None):
    """Bins' lowest and highest rows interleaved in row order, and with the
    values given, their values in the same order: (rows, values)."""
    keep = np.empty(2 * len(low), np.intp)
    keep[0::2], keep[1::2] = np.minimum(low, high), np.maximum(low, high)
    if low_values is None:
        return keep
    first = low <= high
    values = np.empty(2 * len(low))
    values[0::2] = np.where(first, low_values, high_values)
    values[1::2] = np.where(first, high_values, low_values)
    return keep, values


def extreme_rows(part, first: int, last: int) -> tuple[np.ndarray, np.ndarray]:
    """The rows of the lowest and the highest of the values `part(first,
    last)` in row order (one row where they are the same, none for no
    rows), and their values."""
    if last <= first:
        return _NONE
    values = part(first, last)
    low, high = int(np.argmin(values)), int(np.argmax(values))
    at = np.array([low] if low == high else sorted((low, high)), np.intp)
    return first + at, np.asarray(values[at], np.float64)
