"""Long ("tidy") tables split per entity: where a text column names the
entity each row belongs to (`symbol,date,price`, sar's IFACE, a country
column, free's `Mem:`/`Swap:`), each number column shows as one column per
entity, `price[AAPL]`, holding that entity's values at its rows and NaN at
the others'; a curve of such a column joins its own rows into one line
(ColumnKinds.joined), so no entity zig-zags back in time or breaks at the
rows of the others.

The split lives here, in the data set's view of its run, not in the reader:
the evidence that a column names entities (X growing within each entity
but not over the rows) may come long after the reader has decided its
columns (a table sorted by symbol shows its second symbol only after every
row of the first), and new entities may come at any time. The data set
holds the whole run and lays it out anew when the evidence comes, and
whatever reads columns by name (patterns, the data box, the legend, the
statistics, --summary, a pause, the history) sees the split names. The
stored columns stay the producer's.

No Qt here.
"""

from dataclasses import dataclass
import warnings

import numpy as np

from ..formats.addedx import ARRIVAL, ROW
from ..protocol import NUMBER, TEXT, unique_names
from .columnkinds import ColumnKinds, DataWarning
from .derivedcolumns import x_column

AUTO = "auto"   # split where the rows show a column of entities
OFF = "none"    # never split
# More entities than this are no split: a column of that many distinct
# words is a label, and its curves would be more than anyone can tell apart.
MAX_ENTITIES = 64
# Rows before the evidence is looked at; it is looked at again when the run
# has doubled: a stream of single rows then costs time linear in its rows.
FIRST_LOOK = 4
# The entity of the rows whose entity column is empty: its rows are kept
# under `price[]`, not dropped from every entity's column.
NO_ENTITY = -1


@dataclass(frozen=True)
class Part:
    """One column of the view: stored column `source`, whole (`entity`
    None) or only at the rows whose entity column holds word code `entity`;
    `joined`: a whole column that is one entity's already (see _parts)."""
    source: int
    entity: int | None = None
    joined: bool = False


def names_entities(codes: np.ndarray, x: np.ndarray, added_x: bool = False) -> bool:
    """Whether a text column's word `codes` name entities against `x`: few
    distinct values that repeat, x growing within each entity, and the
    entities interleaved: x jumps back or repeats between them, or, where
    x is the reader's own (`added_x`: the row number or the arrival time,
    which grow over every row), the values come round in the same order,
    as in a snapshot of a line per entity printed again and again. (Over
    a time of the data's own, values that come round are a state.)"""
    known = np.isfinite(codes) & np.isfinite(x)
    codes, x = codes[known], x[known]
    interleaved = bool(np.any(np.diff(x) <= 0))
    if len(codes) < FIRST_LOOK or not (interleaved or added_x):
        return False  # (the common case, a time series with a state, costs one pass)
    values = np.unique(codes)
    if not 2 <= len(values) <= MAX_ENTITIES or 2 * len(values) > len(codes):
        return False
    order = np.argsort(codes, kind="stable")
    same_entity = codes[order][1:] == codes[order][:-1]
    if not np.all(np.diff(x[order])[same_entity] > 0):
        return False
    if interleaved:
        return True
    period = len(values)
    return (len(codes) >= 2 * period and len(np.unique(codes[:period])) == period
            and np.array_equal(codes[period:], codes[:-period]))


def _column_list(names, kinds) -> str:
    return ", ".join(f"{name} ({kind})" if kind != NUMBER else name
                     for name, kind in zip(names, kinds))


class EntitySplit:
    """The view of a data set's stored columns (`stored(i)`: column i of the
    current run) split per entity. `choice`: AUTO, OFF, or the name of the
    column that names the entities (--split)."""

    def __init__(self, choice: str = AUTO):
        self.choice = choice
        self.changes = 0  # bumped whenever the view's columns change
        self._names, self._kinds, self._entity, self._refused = [], (), None, False
        self._codes: list[int] = []
        self.mistake = None
        self.meet([], ColumnKinds((), ()), 0)

    @property
    def active(self) -> bool:
        return bool(self._codes)

    @property
    def column(self) -> str | None:
        """The name of the column that names the entities; None: no split."""
        return self._names[self._entity] if self.active else None

    def stored_columns(self) -> tuple[list, tuple]:
        """(names, kinds) of the producer's columns as they come, unsplit."""
        return self._names, self._kinds

    def meet(self, names, described: ColumnKinds, width: int, same_run: bool = False) -> None:
        """New stored columns (`width` of them the producer's; the derived
        series after them), for a new run or (`same_run`: other derived
        series) the rows stored: a split decided for the same producer's
        columns stays, anything else is looked for afresh."""
        producer = (list(names[:width]), tuple(described.kinds[:width]))
        same = bool(names) and producer == (self._names, self._kinds)
        self._names, self._kinds = producer
        self._all_names, self._described, self._width = list(names), described, width
        if not same:
            self.mistake = None  # what is wrong with --split's column, for the window to say
            self._entity, self._refused = self._entity_given(), False
        if not same_run:
            self._codes = []  # a new stream: its word codes may name other words
        self.start_run()
        self.changes += 1

    def _entity_given(self) -> int | None:
        if self.choice in (AUTO, OFF) or not self._names:
            return None
        index = self._names.index(self.choice) if self.choice in self._names else None
        if index is None or self._kinds[index] != TEXT:
            what = "no column" if index is None else "not a text column:"
            self.mistake = (f"--split {self.choice}: {what} {self.choice!r}; the columns are "
                            f"{_column_list(self._names, self._kinds)}")
            return None
        return index

    def start_run(self) -> None:
        """A new run of the same stream: it keeps the entities so far (its
        curves keep their names), and the evidence is looked at afresh."""
        self._looked = 0  # rows stored in the run when the evidence was last looked at
        self._appended = 0  # rows stored since: the run's rows and those it dropped
        self._grown: dict = {}  # Part -> its _Grown values
        self._view = None

    def observe(self, stored, rows: int, new: int) -> bool:
        """After `new` rows were stored (`rows` in the run now): decides the
        split where the evidence is due, and takes new entities. True when
        the view's columns changed."""
        self._appended += new
        if self._entity is None:
            if not self._detect(stored, rows):
                return False
            new = rows  # decided now: the entities of the whole run
        codes = np.unique(stored(self._entity)[rows - min(new, rows):])
        codes = sorted(set(self._codes) | {int(c) if np.isfinite(c) else NO_ENTITY
                                           for c in codes})
        if codes == self._codes:
            return False
        if len(codes) > MAX_ENTITIES:
            self._give_up(len(codes))
        else:
            self._codes = codes
        self._view = None
        self.changes += 1
        return True

    def _detect(self, stored, rows: int) -> bool:
        # (Counted in rows stored, not kept: a run at --max-rows is looked at again too.)
        if self.choice != AUTO or self._refused or rows < FIRST_LOOK \
                or self._appended < 2 * self._looked:
            return False
        self._looked = self._appended
        x = x_column(self._kinds)
        if x is None:
            return False
        for index, kind in enumerate(self._kinds):
            if kind == TEXT and names_entities(stored(index), stored(x).real,
                                               self._names[x] in (ARRIVAL, ROW)):
                self._entity = index
                return True
        return False

    def _give_up(self, count: int) -> None:
        warnings.warn(f"{self._names[self._entity]} names {count} entities, more than "
                      f"{MAX_ENTITIES}: its table is shown unsplit", DataWarning, stacklevel=4)
        self._entity, self._codes, self._refused = None, [], True

    # --- the view -------------------------------------------------------------------

    def _parts(self) -> list[Part]:
        """Every number column but X split, the derived series too (their
        values are a row's, `value=price*volume`, whichever entity it is).
        A column named for an entity (`price[AAPL]`: a split table saved
        and read again) is that entity's already: it stays whole, joined."""
        x = x_column(self._kinds)
        words = set(self._described.words_of(self._entity))
        parts = []
        for index, kind in enumerate(self._described.kinds):
            name = self._all_names[index]
            named = name.endswith("]") and name[name.rfind("[") + 1:-1] in words
            if kind == NUMBER and index != x and not named:
                parts += [Part(index, code) for code in self._codes]
            else:
                parts.append(Part(index, joined=named))
        return parts

    def view(self):
        """(names, parts, described) of the view."""
        if self._view is None or self._view[3] != self._described.changes:
            parts = self._parts()
            words = self._described.words_of(self._entity)
            names = [self._all_names[p.source] if p.entity is None else
                     f"{self._all_names[p.source]}[{_word(words, p.entity)}]" for p in parts]
            described = ColumnKinds(tuple(self._described.kinds[p.source] for p in parts),
                                    tuple(self._described.units[p.source] for p in parts))
            described.words = {i: self._described.words[p.source] for i, p in enumerate(parts)
                               if p.source in self._described.words}
            described.joined = frozenset(i for i, p in enumerate(parts)
                                         if p.entity is not None or p.joined)
            described.changes = self._described.changes
            self._view = (unique_names(names)[0], parts, described, described.changes)
        return self._view[:3]

    def values(self, index: int, stored) -> np.ndarray:
        """Column `index` of the view over the run's stored rows (of the
        stored columns, where the table is not split)."""
        if not self.active:
            return stored(index)
        part = self.view()[1][index]
        if part.entity is None:
            return stored(part.source)
        source = stored(part.source)
        first = self._appended - len(source)  # the run's first row kept, counted from its start
        grown = self._grown.get(part)
        if grown is None or not grown.first <= first <= grown.first + grown.filled:
            grown = self._grown[part] = _Grown(first)
        new = grown.first + grown.filled - first  # the first row it does not hold yet
        entity = stored(self._entity)[new:]
        is_entity = np.isnan(entity) if part.entity == NO_ENTITY else entity == part.entity
        grown.append(np.where(is_entity, source[new:], np.nan), first)
        return grown.rows(first, len(source))

    def last_row(self, stored, count: int) -> tuple:
        """The newest value of each column of the view (`count` stored
        columns): an entity's column holds its entity's newest value."""
        if not self.active:
            return tuple(stored(i)[-1].item() for i in range(count))
        newest = {}
        for part in self.view()[1]:
            if part.entity is not None and part.entity not in newest:
                rows = np.flatnonzero(self._rows_of(part.entity, stored))
                newest[part.entity] = rows[-1] if len(rows) else None
        row = []
        for part in self.view()[1]:
            at = len(stored(part.source)) - 1 if part.entity is None else newest[part.entity]
            row.append(np.nan if at is None else stored(part.source)[at].item())
        return tuple(row)

    def _rows_of(self, code: int, stored) -> np.ndarray:
        """Which rows of the run are entity `code`'s (NO_ENTITY: an empty field's)."""
        entity = stored(self._entity)
        return np.isnan(entity) if code == NO_ENTITY else entity == code


class _Grown:
    """An entity's column over the rows of a run, grown by the rows that
    came since it was last read (a long run costs each frame its new rows,
    not all of them). Views handed out never change: new rows go after
    them, or into new memory, as in the data set's own columns."""

    def __init__(self, first: int):
        self.first = first  # the row (from the run's start) values[0] holds
        self.values = np.empty(0)
        self.filled = 0

    def append(self, values: np.ndarray, first: int) -> None:
        """`values` after those so far; the rows before `first` have left the run."""
        need = self.filled + len(values)
        if need > len(self.values) or (values.dtype.kind == "c" and self.values.dtype.kind != "c"):
            keep = first - self.first
            fresh = np.empty(max(2 * (need - keep), 1024), np.result_type(self.values, values))
            fresh[:self.filled - keep] = self.values[keep:self.filled]
            self.values, self.first, self.filled = fresh, first, self.filled - keep
        self.values[self.filled:self.filled + len(values)] = values
        self.filled += len(values)

    def rows(self, first: int, count: int) -> np.ndarray:
        view = self.values[first - self.first:first - self.first + count]
        view.flags.writeable = False
        return view


def _word(words, code: int) -> str:
    if code == NO_ENTITY:
        return ""
    return words[code] if 0 <= code < len(words) else str(code)
