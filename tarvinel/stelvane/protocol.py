"""The queue's commands: the words the window's intake knows, and the shapes
of the payloads that say more than numbers.

    (PN, names)      point column names: a list of str, or a Columns
    (TN, names)      trace column names
    (PD, rows)       point rows: one row (a list), a 2-D array, or a TextRows
    (TD, rows)       one whole trace: a 2-D array
    (ROLL, None)     the current run ends
    (PXY, text)      the point pattern: (X,Y) regular expressions, ; between pairs
    (TXY, text)      the trace pattern

Every value travels as a number: a time as seconds since the epoch (UTC), a
word of a text column as its word code (0, 1, 2, ... in the order the words
first appeared; NaN where the value is missing).

A text column's words: every PN starts them afresh (the same names again
included: a new stream, a new connection). The TextRows after it carry the
words from code 0 on, each word once, in code order, before or with the
first rows that use it; rows that use known words only come as plain arrays.
Where a stream of keyed lines brings a new name, PN names all the columns
again (the new one last) and the next TextRows carries every word so far.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass, field
import re

import numpy as np

PN, TN, PD, TD, ROLL, PXY, TXY = "PN", "TN", "PD", "TD", "ROLL", "PXY", "TXY"
COMMAND_WORDS = (PN, TN, PD, TD, ROLL, PXY, TXY)

# What a column holds.
NUMBER, TIME, TEXT = "number", "time", "text"
KINDS = (NUMBER, TIME, TEXT)


class Columns(list):
    """Column names (a list of str, so that whatever reads names keeps
    working) that also say what each column holds: `kinds`, one of KINDS per
    name, and `units`, a text per name ("" where none)."""

    def __init__(self, names, kinds=None, units=None):
        super().__init__(names)
        self.kinds = tuple(kinds) if kinds is not None else (NUMBER,) * len(self)
        self.units = tuple(units) if units is not None else ("",) * len(self)
        if len(self.kinds) != len(self) or len(self.units) != len(self):
            raise ValueError(f"{len(self)} names, {len(self.kinds)} kinds, {len(self.units)} units")
        for kind in self.kinds:
            if kind not in KINDS:
                raise ValueError(f"{kind!r} is no column kind (one of {', '.join(KINDS)})")

    def __reduce__(self):
        return (Columns, (list(self), self.kinds, self.units))

    def __repr__(self) -> str:
        return f"Columns({list(self)!r}, kinds={self.kinds!r}, units={self.units!r})"


@dataclass
class TextRows:
    """Rows whose text columns hold word codes. `block` is the 2-D float64
    array; `words` maps a column's index to the words first seen in this
    block, in code order: they continue that column's words so far."""
    block: np.ndarray
    words: dict[int, list[str]] = field(default_factory=dict)


def unique_names(names: list[str]) -> tuple[list[str], list[str]]:
    """Names made unique by suffixes #2, #3, ...; also returns what was renamed."""
    taken = set(names)
    seen: set[str] = set()
    unique, renamed = [], []
    for name in names:
        if name not in seen:
            seen.add(name)
            unique.append(name)
            continue
        n = 2
        while f"{name}#{n}" in taken:
            n += 1
        new = f"{name}#{n}"
        taken.add(new)
        seen.add(new)
        unique.append(new)
        renamed.append(f"{name} -> {new}")
    return unique, renamed


class FeedClosed(Exception):
    """The window has closed: the feed takes nothing more (a reader that
    catches every error lets this one through)."""


# The patterns new columns bring.
# The longest default pattern written as a list of names; a longer list
# (very many columns) is written as "all but these" instead.
LISTED_PATTERN = 120


def first_column_pattern(names: list[str]) -> str:
    """The default pattern: the first column as X against every other column."""
    return _pattern(names, 0, range(1, len(names)))


def default_pattern(names, kinds=None) -> str:
    """The pattern new columns bring: the first time column as X (else the
    first number column) against the other number columns only. Where
    there is no such pair (a time and text columns), or no kinds are known,
    the first column against every other."""
    kinds = kinds or (NUMBER,) * len(names)
    x = next((i for i, kind in enumerate(kinds) if kind == TIME),
             next((i for i, kind in enumerate(kinds) if kind == NUMBER), None))
    ys = [i for i, kind in enumerate(kinds) if kind == NUMBER and i != x]
    if x is None or not ys:
        return first_column_pattern(names)
    return _pattern(names, x, ys)


def _pattern(names, x: int, ys) -> str:
    """Column `x` against the columns `ys`: a plain list of their names
    (time,(sine|cosine)) where it is short and the names are all different,
    else "every column but the others" (time,(?!(?:time|status)$).*)."""
    ys = list(ys)
    if not ys:
        return f"{_literal(names[x])},(?!{_literal(names[x])}$).*"
    listed = "|".join(_literal(names[i]) for i in ys)
    if len(listed) <= LISTED_PATTERN and len(set(names)) == len(names):
        return f"{_literal(names[x])},{listed if len(ys) == 1 else f'({listed})'}"
    left_out = "|".join(_literal(names[i]) for i in range(len(names)) if i not in ys)
    return f"{_literal(names[x])},(?!(?:{left_out})$).*"


def _literal(name: str) -> str:
    # The toolbar drops blanks from patterns and splits them at ";": both are
    # written as escapes, which it leaves alone.
    return re.escape(name).replace("\\ ", "\\x20").replace(";", "\\x3b")
