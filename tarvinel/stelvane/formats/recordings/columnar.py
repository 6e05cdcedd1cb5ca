"""A recording's table on its way to the feed: columns as numpy arrays, sent
in blocks of rows, each column as the number, time or text column its dtype
makes it.

    numbers, booleans      numbers (booleans as 0/1; integers as float64)
    complex numbers        complex numbers: the block travels complex
    datetime64, dates      times: seconds since the epoch (UTC); NaT is NaN
    timedelta64            numbers: seconds
    strings, bytes         text: word codes, the words sent with the rows
                           that first use them

A reader builds a `Table` (names, units, the number of rows and a function
that gives the columns of rows [start, stop)), `send_table` does the rest.
`pick_columns` chooses among a file's arrays those that make one table: the
1-D arrays of the length most of them share. `Skipped` keeps what was not
read, for one message that lists it.

This module imports no Qt: the producer process uses it.
"""

from collections import Counter
from dataclasses import dataclass, field
import re
from typing import Callable, Iterator

import numpy as np

from ...protocol import NUMBER, TEXT, TIME

# Bytes of float64 values per block sent; the feed bounds what is queued.
BLOCK_BYTES = 4 << 20
# A 2-D array of at most this many columns, and at least ROWS_PER_COLUMN
# times as many rows, reads as columns (a wider one is an image).
MATRIX_COLUMNS = 32
ROWS_PER_COLUMN = 8
# Names listed in the message about what was not read.
LISTED = 8
_CF_TIME = re.compile(r"^\s*(seconds?|minutes?|hours?|days?|milliseconds?)\s+since\s+(.+?)\s*$",
                      re.IGNORECASE)
_SECONDS = {"second": 1.0, "minute": 60.0, "hour": 3600.0, "day": 86400.0, "millisecond": 1e-3}


class RecordingError(Exception):
    """A recording that cannot be read: its text is the one problem said."""


@dataclass
class Table:
    """`columns(start, stop)`: the columns' values of those rows, as 1-D numpy
    arrays (or anything numpy takes), one per name. A reader that reads
    in order gives `batches(rows)` instead: the columns of the next `rows`
    rows (fewer at the end) each time, at least one batch, empty for a
    table of no rows."""
    names: list[str]
    rows: int
    columns: Callable[[int, int], list] | None = None
    units: list[str] | None = None
    # Kinds the values' dtypes do not tell (numbers that are times); None: by dtype.
    kinds: list[str | None] | None = None
    batches: Callable[[int], Iterator[list]] | None = None

    def blocks(self, step: int) -> Iterator[list]:
        if self.batches is not None:
            yield from self.batches(step)
            return
        for start in range(0, max(self.rows, 1), step):
            yield self.columns(start, min(self.rows, start + step))


@dataclass
class Skipped:
    """What a reader passed over: (name, why) pairs, said as one problem."""
    items: list[tuple[str, str]] = field(default_factory=list)

    def add(self, name: str, why: str) -> None:
        self.items.append((name, why))

    def message(self) -> str | None:
        if not self.items:
            return None
        listed = [f"{name} ({why})" for name, why in self.items[:LISTED]]
        more = len(self.items) - LISTED
        return "not read, no table column: " + ", ".join(listed) + (
            f" and {more} more" if more > 0 else "")


def as_columns(name: str, shape: tuple, transposed: bool = False) -> list[tuple[str, object]] | None:
    """The 1-D columns an array of `shape` reads as: (column name, index into
    the array) pairs, or None where it is no table's column (an image, a
    scalar). A 2-D array with a short side holds one column per entry of it
    (`name[0]`, `name[1]`, ...); `transposed`: its columns are its rows (as
    MATLAB writes to HDF5)."""
    if len(shape) == 1:
        return [(name, slice(None))]
    if len(shape) != 2 or 0 in shape:
        return None
    rows, width = (shape[1], shape[0]) if transposed else shape
    if width == 1 or rows == 1:
        return [(name, (0, slice(None)) if (rows == 1) != transposed else (slice(None), 0))]
    if width > MATRIX_COLUMNS or rows < ROWS_PER_COLUMN * width:
        return None
    if transposed:
        return [(f"{name}[{i}]", (i, slice(None))) for i in range(width)]
    return [(f"{name}[{i}]", (slice(None), i)) for i in range(width)]


def rows_of(shape: tuple, transposed: bool = False) -> int:
    """The rows of an array `as_columns` reads as columns."""
    if len(shape) == 1:
        return shape[0]
    if 1 in shape:
        return max(shape)
    return shape[1] if transposed else shape[0]


def pick_columns(candidates: list[tuple[str, int]], skipped: Skipped) -> int | None:
    """Of (name, rows) candidates the length that makes the table: the one
    most of them share (the longer one where as many share two). The others
    go to `skipped`."""
    if not candidates:
        return None
    counts = Counter(rows for _, rows in candidates)
    length = max(counts, key=lambda rows: (counts[rows], rows))
    for name, rows in candidates:
        if rows != length:
            skipped.add(name, f"{rows} rows, the table has {length}")
    return length


def cf_times(values: np.ndarray, units: str) -> np.ndarray | None:
    """Values in units such as "days since 2000-01-01 00:00" (netCDF's way of
    keeping times) as seconds since the epoch; None for other units."""
    match = _CF_TIME.match(units or "")
    if not match:
        return None
    try:
        origin = np.datetime64(match.group(2).replace(" ", "T").rstrip("Zz").split("+")[0], "ms")
    except ValueError:
        return None
    scale = _SECONDS[match.group(1).lower().rstrip("s")]
    return origin.astype(np.float64) / 1e3 + np.asarray(values, dtype=np.float64) * scale


def _kind(values: np.ndarray) -> str:
    kind = values.dtype.kind
    return TIME if kind == "M" else TEXT if kind in "USO" else NUMBER


class _Words:
    """A text column's words and their codes, grown block by block."""

    def __init__(self):
        self.codes: dict[str, int] = {}

    def encode(self, values: np.ndarray) -> tuple[np.ndarray, list[str]]:
        new, codes = [], np.empty(len(values))
        for i, value in enumerate(values.tolist()):
            if value is None or isinstance(value, float) and value != value:
                codes[i] = np.nan
                continue
            word = value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)
            code = self.codes.get(word)
            if code is None:
                code = self.codes[word] = len(self.codes)
                new.append(word)
            codes[i] = code
        return codes, new


def _numbers(values: np.ndarray) -> np.ndarray:
    """A number or time column's values as float64 (complex stays complex)."""
    kind = values.dtype.kind
    if kind == "M":
        seconds = values.astype("datetime64[ns]").astype(np.int64) / 1e9
        return np.where(np.isnat(values), np.nan, seconds)
    if kind == "m":
        seconds = values.astype("timedelta64[ns]").astype(np.int64) / 1e9
        return np.where(np.isnat(values), np.nan, seconds)
    if kind == "c":
        return values.astype(np.complex128, copy=False)
    return values.astype(np.float64, copy=False)


def send_table(sink, table: Table, stop=None, sent: list | None = None) -> bool:
    """Sends `table` to `sink` (a Feed): its names with their kinds and
    units, then its rows in blocks; False where `stop` (a pipe's reading
    end) became readable on the way. `sent[0]` counts the rows sent."""
    step = max(1, BLOCK_BYTES // (8 * max(1, len(table.names))))
    words = None
    for columns in table.blocks(step):
        columns = [np.asarray(c) for c in columns]
        if words is None:
            words = _send_names(sink, table, columns)
        new_words, values = {}, []
        for i, column in enumerate(columns):
            if i in words:
                column, new_words[i] = words[i].encode(column)
            values.append(_numbers(column))
        if values and len(values[0]):
            sink.rows(np.column_stack(values), {i: w for i, w in new_words.items() if w} or None)
            if sent is not None:
                sent[0] += len(values[0])
        if stop is not None and stop.poll():
            return False
    return True


def _send_names(sink, table: Table, first: list) -> dict:
    """Sends the names with the kinds the first block's dtypes show; the
    words of each text column, empty."""
    given = table.kinds or [None] * len(first)
    kinds = [kind or _kind(values) for kind, values in zip(given, first)]
    units = list(table.units or [""] * len(first))
    units = [unit or ("s" if v.dtype.kind == "m" else "") for unit, v in zip(units, first)]
    sink.columns(table.names, kinds, units)
    return {i: _Words() for i, kind in enumerate(kinds) if kind == TEXT}


def unique_names(names: list[str]) -> list[str]:
    """Names made distinct: a repeated name gets `_2`, `_3`, ..."""
    seen: Counter = Counter()
    out = []
    for name in names:
        seen[name] += 1
        out.append(name if seen[name] == 1 else f"{name}_{seen[name]}")
    return out


def send_recording(recording, table: Table, skipped: Skipped) -> str | None:
    """Sends a reader's table (a recordings.Recording's), says what was
    passed over, and tells what was read; None where the window closed."""
    if not table.names:
        raise RecordingError(skipped.message() or "no table in it")
    if skipped.message():
        recording.problem(f"{recording.name}: {skipped.message()}")
    if not send_table(recording.sink, table, recording.stop, recording.rows_sent):
        return None
    return f"{table.rows:,} rows of {len(table.names)} columns"
