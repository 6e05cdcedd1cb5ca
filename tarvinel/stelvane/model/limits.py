"""Limit lines: a value per curve (its Y column, by name) that the curve is
watched against. A crossing is where the curve passes from one side of
the line to the other between two rows: rows with a missing X or Y are
no samples, and a value on the line itself is on neither side, so a curve
that touches the line and turns back has not crossed it. A crossing's X is
where the straight line between the two rows meets the limit.

The rows are counted as they arrive, a block at a time, with the last
row of the block before kept for the crossing between two blocks: a run
split anywhere counts as the whole run does. No Qt here.
"""

from collections import deque
from dataclasses import dataclass
import math

import numpy as np

# Crossings kept per limit for marking them on the plot: the newest.
MARKS_KEPT = 5000


class LimitError(ValueError):
    """A limit that is no NAME=VALUE with a finite number."""


@dataclass(frozen=True)
class Limit:
    name: str     # the curve's Y column
    value: float

    @property
    def definition(self) -> str:
        return f"{self.name}={self.value!r}"


def parse_limit(text: str) -> Limit:
    """`NAME=VALUE` (the last `=` splits; spaces around either are dropped)."""
    name, equals, value = text.rpartition("=")
    name = name.strip()
    if not equals or not name:
        raise LimitError(f"{text.strip()!r} is no NAME=VALUE (e.g. volts=4.5)")
    try:
        number = float(value)
    except ValueError:
        raise LimitError(f"{name}: {value.strip()!r} is no number") from None
    if not math.isfinite(number):
        raise LimitError(f"{name}: a limit is a finite number, not {value.strip()}")
    return Limit(name, number)


def repeated_curve(limits) -> str | None:
    """The first curve that two of `limits` are on, None when none is."""
    names = [limit.name for limit in limits]
    return next((name for name in names if names.count(name) > 1), None)


def crossing_x(x: np.ndarray, y: np.ndarray, value: float) -> np.ndarray:
    """The X of each crossing of `value` by the rows (x, y), in row order."""
    usable = np.isfinite(x) & np.isfinite(y) & (y != value)
    x, y = x[usable], y[usable]
    above = y > value
    i = np.flatnonzero(above[1:] != above[:-1])
    x0, x1, y0, y1 = x[i], x[i + 1], y[i], y[i + 1]
    return x0 + (value - y0) * (x1 - x0) / (y1 - y0)


class CrossingCount:
    """The crossings of one limit by rows added a block at a time."""

    def __init__(self, value: float):
        self.value = value
        self.count = 0
        self.first = self.last = None  # X of the first and the newest crossing
        self.marks = deque(maxlen=MARKS_KEPT)
        self._before = None  # (x, y) of the last row added that is on a side

    def add(self, x: np.ndarray, y: np.ndarray) -> None:
        x, y = np.asarray(x, dtype=float), np.asarray(y, dtype=float)
        usable = np.isfinite(x) & np.isfinite(y) & (y != self.value)
        if not usable.any():
            return
        x, y = x[usable], y[usable]
        if self._before is not None:
            x, y = np.concatenate(([self._before[0]], x)), np.concatenate(([self._before[1]], y))
        self._before = (float(x[-1]), float(y[-1]))
        found = crossing_x(x, y, self.value)
        if not len(found):
            return
        if self.first is None:
            self.first = float(found[0])
        self.last = float(found[-1])
        self.count += len(found)
        self.marks.extend(found[-MARKS_KEPT:].tolist())


class RunCrossings:
    """A limit's crossings over the current run of a data set, counted from
    the rows that arrived since the last look. A new run, or another X
    column, counts afresh."""

    def __init__(self, limit: Limit):
        self.limit = limit
        self.count = CrossingCount(limit.value)
        self._counted = None  # (run number, X column)
        self._until = 0  # rows of the run counted, from its first (dropped or not)

    def update(self, data, x_name: str | None) -> None:
        """Counts the rows of `data` (a data set) that arrived since the last
        look, X from column `x_name` (None: nothing to count against)."""
        counted = (data.run_number, x_name)
        if counted != self._counted:
            self._counted, self._until = counted, 0
            self.count = CrossingCount(self.limit.value)
        names = data.column_names
        if x_name is None or x_name not in names or self.limit.name not in names:
            return
        start = max(0, self._until - data.dropped)
        x, y = data.column(x_name)[start:], data.column(self.limit.name)[start:]
        self._until = data.dropped + start + len(x)
        if np.iscomplexobj(y):
            y = y.real  # as a complex column is drawn by default
        self.count.add(x, y)

    def as_dict(self) -> dict:
        """For --summary: X as numbers (a time as seconds since the epoch)."""
        count = self.count
        return {"curve": self.limit.name, "value": self.limit.value, "x": self._counted and
                self._counted[1], "crossings": count.count, "first": count.first,
                "last": count.last}
