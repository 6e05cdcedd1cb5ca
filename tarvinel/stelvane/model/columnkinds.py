"""What a run's columns hold beyond their numbers: each one's kind
(protocol.NUMBER, TIME or TEXT), its unit, and for a text column its words
(the k-th word is what word code k stands for); and what an axis, the
readout and the tracker make of a column shown in a format.

This module imports no Qt: the data sets and the export use it.
"""

from dataclasses import dataclass
import warnings

from ..formats.valuetext import value_text
from ..protocol import NUMBER, TEXT, TIME, Columns
from .series import axis_label

# Formats (the toolbar's fx/fy) that show a column's values as they are;
# under any other a time or a word code is only a number.
PLAIN_FORMATS = (None, "real")


class DataWarning(UserWarning):
    """Data was accepted but changed or is unusual (renamed column, NaN, ...)."""


class ColumnKinds:
    """Kinds, units and words of the columns of one run. A column's words
    only grow (a code once given keeps its word); `frozen()` is what a
    finished run or a pause keeps. `joined`: the columns whose curves join
    their values over the rows between them (an entity's column of a split
    table, entitysplit.py: the other entities' rows are no gap)."""

    __slots__ = ("kinds", "units", "words", "changes", "joined")

    def __init__(self, kinds: tuple, units: tuple, words: dict | None = None):
        self.kinds = kinds
        self.units = units
        self.changes = 0  # bumped whenever a column gains words
        self.joined = frozenset()
        # column index -> its words in code order; text columns only
        self.words = {i: list(words.get(i, ())) if words else [] for i, kind in enumerate(kinds)
                      if kind == TEXT}

    @classmethod
    def of_names(cls, names, count: int) -> "ColumnKinds":
        """What `names` (a plain list, or a protocol.Columns) say of `count` columns."""
        if isinstance(names, Columns) and len(names.kinds) == len(names.units) == count:
            return cls(tuple(names.kinds), tuple(str(u) for u in names.units))
        return cls((NUMBER,) * count, ("",) * count)

    @property
    def has_text(self) -> bool:
        return bool(self.words)

    def same_columns(self, other: "ColumnKinds") -> bool:
        return self.kinds == other.kinds and self.units == other.units

    def carried_from(self, before: "ColumnKinds", names, names_before) -> None:
        """Takes over the words of the columns that were text columns of the
        same name before: a stream that gained or lost a column goes on
        with the codes it gave so far."""
        index_before = {name: i for i, name in enumerate(names_before)}
        for i in self.words:
            j = index_before.get(names[i])
            if j in before.words:
                self.words[i] = list(before.words[j])

    def add_words(self, words, dataset_name: str) -> bool:
        """Extends text columns' words (a dict: column index -> the words
        that follow the column's words so far); entries for columns that
        are no text columns are warned about and left out. True when a
        column gained a word."""
        if not isinstance(words, dict):
            warnings.warn(f"{dataset_name}: the words of a TextRows must be a dict, not "
                          f"{type(words).__name__}; ignored", DataWarning, stacklevel=3)
            return False
        gained = False
        for index, new in words.items():
            if index not in self.words or not isinstance(new, (list, tuple)):
                why = "a list of words" if index in self.words else "for a text column"
                warnings.warn(f"{dataset_name}: the words for column {index!r} are not {why}; "
                              "ignored", DataWarning, stacklevel=3)
                continue
            self.words[index] += [str(word) for word in new]
            gained = gained or bool(new)
        self.changes += gained
        return gained

    def with_numbers(self, count: int, keep: int | None = None) -> "ColumnKinds":
        """The first `keep` columns (all: None) and `count` number columns
        after them (derived series), with the same words."""
        keep = len(self.kinds) if keep is None else keep
        more = ColumnKinds(self.kinds[:keep] + (NUMBER,) * count, self.units[:keep] + ("",) * count)
        more.words, more.changes = self.words, self.changes  # the text columns come first
        return more

    def frozen(self) -> "ColumnKinds":
        """A copy whose words never change (tuples)."""
        copy = ColumnKinds(self.kinds, self.units)
        copy.words = {i: tuple(w) for i, w in self.words.items()}
        copy.joined = self.joined
        return copy

    def kind(self, index: int) -> str:
        return self.kinds[index]

    def unit(self, index: int) -> str:
        return self.units[index]

    def words_of(self, index: int) -> list[str]:
        return list(self.words.get(index, ()))


class KindsByName:
    """`column_index(name)`, `kind(name)`, `unit(name)` and `words(name)`
    for a class whose `column_names` lists its columns in order and whose
    `described` is their ColumnKinds."""

    __slots__ = ()

    def column_index(self, name: str) -> int:
        """Where column `name` is among the columns; KeyError when there is none."""
        try:
            return self.column_names.index(name)
        except ValueError:
            raise KeyError(name) from None

    def kind(self, name: str) -> str:
        """What a column holds: protocol.NUMBER, TIME or TEXT."""
        return self.described.kind(self.column_index(name))

    def unit(self, name: str) -> str:
        """A column's unit, "" where it has none."""
        return self.described.unit(self.column_index(name))

    def words(self, name: str) -> list[str]:
        """A text column's words in code order; empty for other columns."""
        return self.described.words_of(self.column_index(name))

    def joins(self, name: str) -> bool:
        """Whether a curve of column `name` joins its values over the rows
        between them (ColumnKinds.joined); false for no such column."""
        try:
            return self.column_index(name) in self.described.joined
        except KeyError:
            return False


@dataclass(frozen=True)
class Shown:
    """How the values of a column, or of an axis, read: their kind, the
    words of a text column and the unit."""
    kind: str = NUMBER
    words: tuple = ()
    unit: str = ""

    def text(self, value) -> str:
        return value_text(value, self.kind, self.words)


PLAIN = Shown()


def shown_column(data, name: str, fmt: str | None = None) -> Shown:
    """How column `name` of `data` (a data set, held data or a finished
    run) reads in format `fmt`; PLAIN when it has no such column."""
    try:
        kind, unit = data.kind(name), data.unit(name)
    except KeyError:
        return PLAIN
    if fmt not in PLAIN_FORMATS:
        return Shown(unit=unit if fmt in ("real", "imag", "mag") else "")
    return Shown(kind, tuple(data.words(name)) if kind == TEXT else (), unit)


def shown_over_runs(runs, name: str, fmt: str | None = None) -> Shown:
    """How column `name` reads over several runs: as in each run where
    they agree (a text column's words may have grown from run to run: the
    longest, when the others begin it), else as plain numbers."""
    found = [shown_column(run, name, fmt) for run in runs if name in run.column_names]
    if not found:
        return PLAIN
    longest = max(found, key=lambda s: len(s.words))
    agree = all(s.kind == longest.kind and s.unit == longest.unit
                and s.words == longest.words[:len(s.words)] for s in found)
    return longest if agree else PLAIN


def common(shown: list[Shown]) -> Shown:
    """What an axis showing several columns reads as: theirs where they all
    read alike (the words of text columns the same), else plain numbers
    under their common unit, if any."""
    if not shown:
        return PLAIN
    first = shown[0]
    if all(s == first for s in shown):
        return first
    units = {s.unit for s in shown}
    kinds = {s.kind for s in shown}
    if kinds == {TIME}:
        return Shown(TIME, (), units.pop() if len(units) == 1 else "")
    return Shown(unit=units.pop() if len(units) == 1 else "")


def with_unit(label: str, unit: str) -> str:
    return f"{label} [{unit}]" if unit else label


def axis_text(names, fmt: str | None, shown: list[Shown]) -> str:
    """An axis label: the columns (each once) in their format, with their
    unit, `[unit]` once at the end where they share one."""
    unique = list(dict.fromkeys(names))
    units = {name: s.unit for name, s in zip(names, shown)}
    shared = {units.get(name, "") for name in unique}
    if fmt == "phase" or len(shared) == 1:  # a phase is in degrees, whatever its column's unit
        return with_unit(axis_label(unique, fmt), "" if fmt == "phase" else shared.pop())
    return ", ".join(with_unit(axis_label([name], fmt), units.get(name, "")) for name in unique)
