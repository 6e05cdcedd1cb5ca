"""Data sets: the columns of the current run and a bounded history of earlier runs.

The command intake hands each data set the producer's payloads unchanged:
column names, data (one row, or a block of rows) and roll requests.

Storage is columnar: one numpy array per column, float64 until a value with an
imaginary part arrives in that column, complex128 from then on. Memory is
bounded twice: a run keeps its newest `max_rows` rows (older ones leave memory,
and the run counts them in `dropped`; with a spill room they go to disk
instead: model/runstorage.py), and the history keeps the newest
`max_history` finished runs.

Bad input is never silently lost and never spoils what is stored:
- a row of the wrong length or with a value that is not a number is rejected
  on its own; the fine rows of the same block are stored, then `RowsRejected`
  says what was rejected and how much was kept;
- non-finite values (NaN, inf) are stored as they came and counted in
  `nonfinite_values`: a missing value (an empty field of a text row) arrives
  as NaN, which is the user's data, not a fault, so they are no problem;
- duplicate column names are made unique (the second "a" becomes "a#2") and
  names that are not text are turned into text, each with a `DataWarning`;
- column names that are no list at all raise and leave everything as it was.

Derived series (derivedcolumns.py, set by `set_derived`) follow the
producer's columns as columns of their own, computed as each block arrives.
A long table's number columns show split per entity (entitysplit.py): the
names, kinds and columns read are the split's view of the stored ones.
"""

from collections import deque
from collections.abc import Sequence
import numbers
import warnings

import numpy as np

from .model.columnkinds import ColumnKinds, DataWarning, KindsByName
from .model.mappedrun import MappedRun
from .model.runstorage import INITIAL_CAPACITY, RunStorage
from .model.run import Run
from .protocol import TextRows, unique_names
from .model.derivedcolumns import DerivedColumns, plan
from .model.entitysplit import AUTO, EntitySplit


class DataError(Exception):
    """A payload the data set could not take, or not all of it; the message
    names the data set and says what was kept."""


class BadColumnNames(DataError, TypeError):
    """Column names that are no list; the old names stay."""


class RowsRejected(DataError, ValueError):
    """Some rows of a payload did not fit and were not stored."""

    def __init__(self, message: str, kept: int, rejected: int):
        super().__init__(message)
        self.kept = kept
        self.rejected = rejected


def _is_sequence(value) -> bool:
    # Text is a sequence of characters, never a row of numbers or a list of names.
    if isinstance(value, (str, bytes, bytearray)):
        return False
    if isinstance(value, np.ndarray):
        return value.ndim >= 1
    return isinstance(value, Sequence)


def _describe(value) -> str:
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


def _row_problem(row, width: int) -> str | None:
    """Why a row cannot be stored, or None when it can."""
    if not _is_sequence(row):
        return f"{_describe(row)} is not a row of numbers"
    if len(row) != width:
        return f"a row has {len(row)} values, {width} columns expected"
    for value in row:
        if not isinstance(value, numbers.Number):
            return f"value {_describe(value)} is not a number"
        if isinstance(value, numbers.Integral) and not -2**1023 < int(value) < 2**1023:
            return f"value {_describe(value)} is too large"
    return None


class Dataset(MappedRun, RunStorage, KindsByName):
    """Rows under column names: the current run plus a bounded history.

    `whole_runs=True` makes every `append` a run of its own (a whole trace):
    the run before it moves to the history. A recording's current run may be
    memory-mapped (map_columns, model/mappedrun.py).
    """

    def __init__(self, name: str = "data", max_rows: int = 1_000_000, max_history: int = 10,
                 whole_runs: bool = False, split: str = AUTO):
        for label, value, least in (("max_rows", max_rows, 1), ("max_history", max_history, 0)):
            if not isinstance(value, int) or isinstance(value, bool) or value < least:
                raise ValueError(f"{label} must be an int >= {least}, not {value!r}")
        self.name = name
        self.max_rows = max_rows
        self.whole_runs = whole_runs
        self._names: list[str] = []  # the producer's columns, then the derived series
        self._width = 0  # the producer's columns
        self.derived = DerivedColumns()
        self.split = EntitySplit(split)  # --split: AUTO, entitysplit.OFF or a column's name
        self._described = ColumnKinds((), ())
        self._history: deque[Run] = deque(maxlen=max_history)
        # Totals since construction, for whoever reports on the data.
        self.rows_stored = 0
        self.rows_rejected = 0
        self.payloads_stored = 0
        self.nonfinite_values = 0
        # Bumped by every change of what `columns()` or `history` return.
        self.version = 0
        self.history_version = 0
        self._run_number = 1
        self._last_run_rows = 0
        self._new_run_storage()

    # --- reading -------------------------------------------------------------

    @property
    def column_names(self) -> list[str]:
        # A copy: whoever reads the names cannot change them under the columns.
        return list(self.split.view()[0] if self.split.active else self._names)

    @property
    def run_number(self) -> int:
        """Number of the current run; runs are numbered from 1 and never reused."""
        return self._run_number

    @property
    def dropped(self) -> int:
        """Rows of the current run that left memory because of `max_rows`."""
        return self._dropped

    @property
    def history(self) -> tuple[Run, ...]:
        """Finished runs, oldest first; the oldest drop out past max_history."""
        return tuple(self._history)

    def __len__(self) -> int:
        return self._end - self._start

    def column(self, name: str) -> np.ndarray:
        """The values of one column of the current run, oldest first.

        A read-only view: valid until the data set changes, never changed
        afterwards (new rows go to new memory once the view's is full)."""
        return self.split.values(self.column_index(name), self._stored)

    def _stored(self, index: int) -> np.ndarray:
        view = self._columns[index][self._start:self._end]
        view.flags.writeable = False
        return view

    @property
    def described(self) -> ColumnKinds:
        """The kinds, units and words of the current run's columns (kind,
        unit and words read them by name); words() gives the words so far."""
        return self.split.view()[2] if self.split.active else self._described

    @property
    def rows(self) -> list[tuple]:
        """Rows of the current run as tuples of Python numbers (for inspection; slow)."""
        return list(zip(*(self.column(n).tolist() for n in self.column_names)))

    def last_row(self) -> tuple | None:
        return self.split.last_row(self._stored, len(self._names)) if len(self) else None

    # --- the operations the command intake calls ------------------------------

    def set_column_names(self, names) -> None:
        """Names the columns; a protocol.Columns also says what they hold.
        Rows collected under other names, kinds or units are kept as a
        finished run; the same names again change nothing. Text columns
        keep their words where the names change (the stream goes on with
        more or fewer columns); the same Columns again start their words
        afresh (a stream that starts anew announces its columns anew, and
        its codes start from 0), the rows so far then being a finished run."""
        if not _is_sequence(names):
            raise BadColumnNames(
                f"{self.name}: column names must be a list of strings, not {type(names).__name__}")
        problems = []
        texts = [n if isinstance(n, str) else str(n) for n in names]
        not_text = [_describe(n) for n in names if not isinstance(n, str)]
        if not_text:
            problems.append(f"names that are not text used as text: {', '.join(not_text)}")
        texts, renamed = unique_names(texts)
        if renamed:
            problems.append(f"duplicate column names renamed: {', '.join(renamed)}")
        described = ColumnKinds.of_names(names, len(texts))
        derived = plan(self.derived.expressions, texts, described.kinds)
        problems += derived.problems
        described = described.with_numbers(len(derived.applied))
        all_names = texts + derived.names
        changed = all_names != self._names or not described.same_columns(self._described)
        if changed:
            described.carried_from(self._described, all_names, self._names)
        if changed or (described.has_text and self._end > self._start):
            self._finish_run()
            self._names, self._width, self._described = all_names, len(texts), described
            self.derived.use(derived, self.name, texts)
            self._new_run_storage()
            self.split.meet(all_names, described, len(texts))
            self.version += 1
        elif described.has_text:  # no rows yet that the words so far name
            self._described = described
            self.split.meet(all_names, described, len(texts))
            self.version += 1
        for problem in problems:
            warnings.warn(f"{self.name}: {problem}", DataWarning, stacklevel=2)

    def append(self, data) -> None:
        """Adds one row (a sequence of numbers, one per column) or a block (a
        sequence of such rows, or a 2-D array). Rows that do not fit are
        rejected one by one; the others are stored (see the module text).
        A protocol.TextRows adds the words its text columns gained."""
        if isinstance(data, TextRows):
            if self._names and self._described.add_words(data.words, self.name):
                self.version += 1
            data = data.block
        if not self._names:
            raise RowsRejected(f"{self.name}: data arrived before column names; dropped",
                               kept=0, rejected=_count_rows(data))
        block, rejected, reason = self._as_block(data)
        kept = len(block)
        self.rows_stored += kept
        self.rows_rejected += rejected
        if kept:
            self.payloads_stored += 1
            if self.whole_runs:
                self._finish_run()
                self._new_run_storage()
            self._store(self._columns_of(block), len(block))
            self.version += self.split.observe(self._stored, len(self), len(block))
        if kept and block.dtype.kind in "fc":
            self.nonfinite_values += block.size - int(np.count_nonzero(np.isfinite(block)))
        if rejected:
            total = kept + rejected
            raise RowsRejected(f"{self.name}: {rejected} of {total} row(s) rejected ({reason}); "
                               f"{kept} kept", kept=kept, rejected=rejected)

    @property
    def source_kinds(self) -> tuple:
        """The kinds of the producer's columns (the derived series left out)."""
        return tuple(self.described.kinds[:len(self.column_names) - len(self.derived.names)])

    def set_derived(self, expressions, in_use=None) -> None:
        """Derives the series of `expressions` (expressions.Expression; each
        may read the ones before it; `in_use` a derivedcolumns.InUse shared with
        other data sets); the current run's rows get theirs at once."""
        self.derived.set(expressions, in_use)
        if not self._names:
            return
        width, source = self._width, self._names[:self._width]
        derived = plan(self.derived.expressions, source, self._described.kinds[:width])
        for problem in derived.problems:
            warnings.warn(f"{self.name}: {problem}", DataWarning, stacklevel=2)
        self.derived.use(derived, self.name, source)
        kept = self._columns[:width]
        self._columns = kept + self._derived_of(kept, self._start, self._end)
        self._respill()
        self._names = source + derived.names
        self._described = self._described.with_numbers(len(derived.applied), keep=width)
        self.split.meet(self._names, self._described, width, same_run=True)
        self.version += 1

    def roll(self) -> None:
        """Ends the current run: it moves to the history and a new, empty run
        starts under the same column names. An empty run is not history."""
        if self._end > self._start:
            self._finish_run()
            self._new_run_storage()
            self.version += 1

    # --- storage ----------------------------------------------------------------

    def _columns_of(self, block: np.ndarray) -> list[np.ndarray]:
        """Each column's values in `block`, the derived series' after the producer's."""
        columns = [block[:, j] for j in range(self._width)]
        if self.derived.expressions:
            columns += self.derived.values(columns.__getitem__, len(block),
                                           self._names[:self._width], self.name)
        return columns

    def _new_run_storage(self) -> None:
        # Runs tend to be as long as the one before: room for twice that from
        # the start spares the new run the copies of growing. (Memory that is
        # never written to is never taken from the system.)
        capacity = min(max(INITIAL_CAPACITY, 2 * self._last_run_rows), 2 * self.max_rows)
        self._columns = [np.empty(capacity, np.float64) for _ in self._names]
        self._start = self._end = 0
        self._dropped = 0
        self._on_disk = None
        self.derived.start_run()
        self.split.start_run()

    def _finish_run(self) -> None:
        if self._end == self._start or not self._names:
            return
        # The run keeps its arrays as they are: no copy, as nothing writes to
        # them any more (the next run gets new ones).
        columns = [c[self._start:self._end] for c in self._columns]
        for c in columns:
            c.flags.writeable = False
        self._last_run_rows = self._end - self._start
        if self.split.active:  # the run keeps the columns as they were shown
            columns = [self.column(name) for name in self.column_names]
        self._history.append(Run(self.column_names, columns, self._run_number, self._dropped,
                                 self.described.frozen()))
        self._run_number += 1
        self.history_version += 1

    def _as_block(self, data) -> tuple[np.ndarray, int, str]:
        """The storable rows of a payload as a 2-D array, how many rows were
        rejected, and why (the first reason)."""
        width = self._width
        if isinstance(data, np.ndarray) and data.dtype.kind in "biufc" and data.ndim in (1, 2):
            block = data.reshape(1, -1) if data.ndim == 1 else data
            if block.shape[1] == width:
                return block.astype(np.complex128 if block.dtype.kind == "c" else np.float64,
                                    copy=False), 0, ""
        if isinstance(data, np.ndarray) and data.ndim == 0:
            data = data.item()
        if not _is_sequence(data):
            return np.empty((0, width)), 1, f"{_describe(data)} is not a row or a block of rows"
        items = list(data)
        if not items:
            return np.empty((0, width)), 0, ""
        rows = items if _is_sequence(items[0]) else [items]
        good, rejected, reason = [], 0, ""
        for row in rows:
            problem = _row_problem(row, width)
            if problem is None:
                good.append(row)
            else:
                rejected += 1
                reason = reason or problem
        if not good:
            return np.empty((0, width)), rejected, reason
        is_complex = any(isinstance(v, numbers.Complex) and not isinstance(v, numbers.Real)
                         for row in good for v in row)
        block = np.array(good, dtype=np.complex128 if is_complex else np.float64).reshape(-1, width)
        return block, rejected, reason


def _count_rows(data) -> int:
    if isinstance(data, np.ndarray):
        return 1 if data.ndim <= 1 else len(data)
    if _is_sequence(data) and len(data) and _is_sequence(data[0]):
        return len(data)
    return 1
