"""An X for every stream: where no column of a table grows with its rows (vmstat's
first column `r` is a queue length; a stream of single values has nothing
to plot them against), the reader adds one in front of the others:

    arrival   the time each row came (a time column), for a live source
    row       the row's number in the stream, for a file

and the default pattern takes it as X, as it takes the first time column
(else the first column) of any table.

A table's X grows where it is a time column, where its name says it counts
or times the rows (t, time, index, seq, ...), or where its values in the
first rows rise.

This module imports no Qt: the producer process uses it.
"""

import time

import numpy as np

from ..protocol import NUMBER, TIME, Columns
from .fields import is_content, row_fields
from .units import ungrouped
from .values import TIME_NAMES, number_text

ARRIVAL, ROW = "arrival", "row"
ADDED_KINDS = {ARRIVAL: TIME, ROW: NUMBER}
# Names of a column that counts or steps the rows: an X whatever its first values.
_STEP_NAMES = frozenset(("x", "i", "n", "no", "nr", "index", "idx", "step", "sample", "samples",
                         "seq", "row", "rows", "run", "count", "frame", "iteration", "iter"))
# Rows of the sample that decide whether X rises.
_SAMPLE = 50
# Values that rise at every step before X is taken to rise, and the sample
# below which every step must rise.
EVIDENCE, SHORT_SAMPLE = 3, 10


def x_grows(found, lines) -> bool | None:
    """Whether the X the default pattern takes of a sniffed table (its first
    time column, else its first number column) grows with the rows, as far
    as the sampled `lines` (the stream's first lines, decoded) show; None
    where they show one row only."""
    kinds = found.kinds
    x = x_column(kinds)
    if x is None or kinds[x] == TIME:
        return True
    if len(kinds) == 1:
        return False  # single values: nothing to plot them against
    if found.names_line is not None and found.names[x].strip().lower() in (
            TIME_NAMES | _STEP_NAMES):
        return True
    return rises(_values(found, lines, found.layout.stored_fields()[x]))


def x_column(kinds) -> int | None:
    """The column the default pattern takes as X."""
    return next((i for i, k in enumerate(kinds) if k == TIME),
                next((i for i, k in enumerate(kinds) if k == NUMBER), None))


def rises(values) -> bool | None:
    """Whether values rise: never fall and end higher, and over a short
    sample rise at every step (two or three values of a queue length rise
    by chance as often as not); None where they do not tell yet: fewer than
    two, or fewer than EVIDENCE values rising at every step."""
    values = [v for v in values if v == v]
    if len(values) < 2:
        return None
    if len(values) < SHORT_SAMPLE:
        if not all(b > a for a, b in zip(values, values[1:])):
            return False
        return True if len(values) >= EVIDENCE else None
    return bool(all(b >= a for a, b in zip(values, values[1:])) and values[-1] > values[0])


def _values(found, lines, field: int) -> list[float]:
    layout, values = found.layout, []
    table = str.maketrans("", "", layout.brackets)
    for line in lines[found.first_data_line:found.first_data_line + _SAMPLE]:
        if not is_content(line):
            continue
        text = ungrouped(line) if layout.groups else line
        fields = row_fields(text.translate(table), layout)
        if len(fields) != layout.width:
            continue
        try:
            values.append(float(number_text(fields[field], layout.decimal_comma)))
        except ValueError:
            continue
    return values


class AddedX:
    """A sink (a Feed) with a column in front of every names command and
    row where the table's X does not grow: ARRIVAL (the time the rows were
    handed on) or ROW (their number in the stream, from 1). `expect(grows)`
    says it for the next table: True, False, or None where its rows are to
    tell: for ARRIVAL the commands wait then until the rows tell (see
    `rises`, or `flush()`); a file's table is read as it is."""

    def __init__(self, sink, kind: str):
        if kind not in ADDED_KINDS:
            raise ValueError(f"no added X {kind!r} (one of {', '.join(ADDED_KINDS)})")
        self.sink, self.kind = sink, kind
        self.active, self._held, self._x = False, None, None
        self._rows = 0

    def expect(self, grows: bool | None) -> None:
        self.flush()
        self.active = grows is False
        # A live stream's first rows wait until they tell (two or three
        # seconds of vmstat); a file's, read as it is, does not wait for a writer.
        self._held = [] if grows is None and self.kind == ARRIVAL else None

    def flush(self) -> None:
        """Sends the commands held, with the X added where the rows held do
        not show it growing."""
        held, self._held = self._held, None
        if held is None:
            return
        self.active = rises(self._held_x(held)) is False  # nothing told: as it is
        for name, args in held:
            getattr(self, name)(*args)

    def _held_x(self, held=None) -> list[float]:
        """The X values of the rows held."""
        held = self._held if held is None else held
        if self._x is None:
            return []
        return [v for name, args in held if name == "rows" for v in args[0][:, self._x].real]

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        method = getattr(self.sink, name)  # roll, pattern, traces: as they are
        return method if self._held is None else (lambda *args: self._hold(name, args))

    def _hold(self, name: str, args) -> None:
        self._held.append((name, args))
        if name == "roll":
            self.flush()

    def columns(self, names, kinds=None, units=None) -> None:
        kinds = kinds or getattr(names, "kinds", None) or (NUMBER,) * len(names)
        if self._held is not None:
            self._x = x_column(kinds)
            self._hold("columns", (names, kinds, units))
            return
        if not self.active:
            self.sink.columns(names, kinds, units)
            return
        units = units or getattr(names, "units", None) or ("",) * len(names)
        name = self.kind if self.kind not in names else f"{self.kind} (added)"
        self.sink.columns(Columns([name, *names], (ADDED_KINDS[self.kind], *kinds),
                                  ("", *units)))

    def rows(self, block, words=None, arrived: float | None = None) -> None:
        """`arrived`: when rows held came (now, where not given)."""
        if self._held is not None:
            self._hold("rows", (np.asarray(block), words, time.time()))
            if rises(self._held_x()) is not None:
                self.flush()
            return
        if not self.active:
            self.sink.rows(block, words)
            return
        block = np.asarray(block)
        if self.kind == ARRIVAL:
            added = np.full(len(block), arrived or time.time())
        else:
            added = np.arange(self._rows + 1, self._rows + len(block) + 1, dtype=float)
        self._rows += len(block)
        self.sink.rows(np.column_stack((added.astype(block.dtype), block)),
                       {column + 1: learnt for column, learnt in (words or {}).items()})
