"""Data sets: the rows of the current run, under their column names, and a
bounded history of earlier runs.

The command intake hands each data set the producer's payloads unchanged:
column names (a list of strings), data (one row, or a block of rows) and roll
requests. A payload that does not fit is rejected with an exception before
anything is stored, so the data already held stays as it was.
"""

from collections import deque
from collections.abc import Sequence
import numbers
from typing import NamedTuple

import numpy as np


class Run(NamedTuple):
    """A finished run: the rows it collected under the names they had."""

    column_names: tuple[str, ...]
    rows: tuple[tuple[float, ...], ...]


def _is_sequence(value) -> bool:
    # Text is a sequence of characters, never a row of numbers.
    if isinstance(value, (str, bytes, bytearray)):
        return False
    if isinstance(value, np.ndarray):
        return value.ndim >= 1
    return isinstance(value, Sequence)


def _checked_names(names) -> list[str]:
    if not _is_sequence(names):
        raise TypeError(f"column names must be a list of strings, not {type(names).__name__}")
    checked = list(names)
    for name in checked:
        if not isinstance(name, str):
            raise TypeError(f"column name {name!r} is not a string")
    if len(set(checked)) != len(checked):
        duplicates = sorted({n for n in checked if checked.count(n) > 1})
        raise ValueError(f"duplicate column names: {duplicates}")
    return checked


def _checked_row(row, width: int) -> tuple[float, ...]:
    if not _is_sequence(row):
        raise TypeError(f"a row must be a sequence of numbers, not {type(row).__name__}")
    values = list(row)
    if len(values) != width:
        raise ValueError(f"a row has {len(values)} values but there are {width} columns")
    for value in values:
        if not isinstance(value, numbers.Real):
            raise TypeError(f"value {value!r} in a row is not a number")
    return tuple(float(v) for v in values)


class Dataset:
    def __init__(self, max_history: int = 10):
        if not isinstance(max_history, int) or max_history < 0:
            raise ValueError(f"max_history must be a non-negative int, not {max_history!r}")
        self._column_names: list[str] = []
        self._rows: list[tuple[float, ...]] = []
        self._history: deque[Run] = deque(maxlen=max_history)

    @property
    def column_names(self) -> list[str]:
        # A copy: whoever reads the names cannot change them under the rows.
        return list(self._column_names)

    @property
    def rows(self) -> list[tuple[float, ...]]:
        """Rows of the current run, oldest first."""
        return list(self._rows)

    @property
    def history(self) -> tuple[Run, ...]:
        """Finished runs, oldest first; the oldest drop out past max_history."""
        return tuple(self._history)

    def __len__(self) -> int:
        return len(self._rows)

    def column(self, name: str) -> list[float]:
        """The values of one column of the current run."""
        try:
            index = self._column_names.index(name)
        except ValueError:
            raise KeyError(name) from None
        return [row[index] for row in self._rows]

    def set_column_names(self, names) -> None:
        """Names the columns. Rows collected under other names are kept as a
        finished run; the same names again change nothing."""
        checked = _checked_names(names)
        if checked == self._column_names:
            return
        self._finish_run()
        self._column_names = checked

    def append(self, data) -> None:
        """Adds one row (a sequence of numbers, one per column) or a block
        (a sequence of such rows). Nothing is added unless every row fits."""
        if not self._column_names:
            raise ValueError("column names must be set before data is appended")
        if not _is_sequence(data):
            raise TypeError(f"data must be a row or a block of rows, not {type(data).__name__}")
        items = list(data)
        if not items:
            return
        rows = items if _is_sequence(items[0]) else [items]
        width = len(self._column_names)
        checked = [_checked_row(row, width) for row in rows]
        self._rows.extend(checked)

    def roll(self) -> None:
        """Ends the current run: its rows move to the history and a new, empty
        run starts under the same column names."""
        self._finish_run()

    def _finish_run(self) -> None:
        if self._rows:
            self._history.append(Run(tuple(self._column_names), tuple(self._rows)))
            self._rows = []
