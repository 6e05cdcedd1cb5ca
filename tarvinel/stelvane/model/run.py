"""A finished run of a data set: its column names, one array per column
(never written to again), oldest row first, and what its columns hold."""

import numpy as np

from .columnkinds import KindsByName


class Run(KindsByName):
    """A finished run; `described` (a frozen columnkinds.ColumnKinds) gives
    its columns' kinds, units and words (read by name: kind, unit, words)."""

    __slots__ = ("column_names", "columns", "number", "dropped", "described")

    def __init__(self, column_names, columns, number: int, dropped: int, described):
        self.column_names = tuple(column_names)
        self.columns = tuple(columns)
        self.number = number
        self.dropped = dropped
        self.described = described

    def __len__(self) -> int:
        return len(self.columns[0]) if self.columns else 0

    def column(self, name: str) -> np.ndarray:
        return self.columns[self.column_index(name)]

    @property
    def rows(self) -> list[tuple]:
        """The rows as tuples of Python numbers (for inspection; slow)."""
        return list(zip(*(c.tolist() for c in self.columns)))

    def __repr__(self) -> str:
        return f"Run(number={self.number}, columns={list(self.column_names)}, rows={len(self)})"
