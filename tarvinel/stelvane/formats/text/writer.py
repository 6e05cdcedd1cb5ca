"""The text format's writer: a table as the readers read it back, `#`
comments first, a header line of comma-separated column names, a line of
units under it where any column has one (`[V]`, empty where none), then one
line per row: numbers in Python's notation (`nan`, `inf`, complex values as
`1+2j`), times as ISO 8601 with the local offset in force at each instant
(`2026-10-25T02:30:00+01:00`), the words of text columns (quoted where they
hold a comma or a quote); an empty field is a missing value. An empty line
between two blocks, where the reader ends a run.

This module imports no Qt: it writes bytes, whoever writes them to a file.
"""

from collections.abc import Iterable, Iterator
from dataclasses import dataclass

import numpy as np

from ...protocol import unique_names
from ...protocol import NUMBER, TEXT, TIME
from ..valuetext import MISSING_TEXT, iso_texts, number_text

# Rows formatted at a time: bounds the memory a long run's text takes.
CHUNK_ROWS = 65_536
# Characters that make a word be written in quotes: the separator, the
# quote itself, and (at the start of a line) a comment's mark.
_QUOTED = (",", '"', "#")


@dataclass(frozen=True)
class Typed:
    """A column's values and what they hold (protocol.NUMBER, TIME or
    TEXT, with a text column's words in code order)."""
    values: np.ndarray
    kind: str = NUMBER
    words: tuple = ()


def header_name(name: str) -> str:
    """A column name as the header can carry it: the reader splits the header
    at commas and takes a line that starts with # for a comment."""
    text = " ".join(str(name).replace(",", "_").split()) or "_"
    return "_" + text[1:] if text.startswith("#") else text


def field_text(text: str) -> str:
    """A text as one field: in quotes (a quote inside doubled) where it holds
    a separator or a quote, begins with `#` or a blank or ends with one;
    line ends become blanks, as a field is on one line."""
    text = " ".join(str(text).splitlines())
    if any(c in text for c in _QUOTED) or text != text.strip():
        return '"' + text.replace('"', '""') + '"'
    return text


def units_line(units) -> str:
    return ",".join(field_text(f"[{unit}]") if unit else "" for unit in units) + "\n"


def time_texts(values: np.ndarray) -> list[str]:
    """A time column's fields: ISO 8601 texts, empty where missing."""
    return ["" if text == MISSING_TEXT else text for text in iso_texts(values)]


def level_texts(codes: np.ndarray, words) -> list[str]:
    """A text column's fields: the word of each code, empty where missing;
    a code without a word as its number."""
    codes = np.asarray(codes, dtype=np.float64)
    lookup = np.array([field_text(w) for w in words] + [""], dtype=object)
    with np.errstate(invalid="ignore"):
        has_word = (codes >= 0) & (codes < len(words)) & (codes == np.floor(codes))
    index = np.where(has_word, np.nan_to_num(codes), len(words)).astype(np.intp)
    texts = lookup[index].tolist()
    for i in np.flatnonzero(~has_word & ~np.isnan(codes)).tolist():
        texts[i] = number_text(float(codes[i]))
    return texts


def _column_parts(column) -> tuple[str, list]:
    """The printf format of one column's values and the parts it takes:
    arrays of numbers, or for times and words a function from a slice of
    rows to their texts.

    %.17g writes every float64 so that it reads back as the same number, and
    writes NaN and infinity as `nan`, `inf`, `-inf`, as Python reads them.
    A complex value is written without the parentheses of Python's repr:
    `1+2j`, `nan+nanj`, `1-infj`."""
    if isinstance(column, Typed):
        if column.kind == TIME:
            return "%s", [lambda rows, v=column.values: time_texts(v[rows])]
        if column.kind == TEXT:
            return "%s", [lambda rows, v=column.values, w=column.words: level_texts(v[rows], w)]
        column = column.values
    values = np.asarray(column)
    if values.dtype.kind == "c":
        return "%.17g%+.17gj", [values.real, values.imag]
    if values.dtype.kind in "iub":
        return "%d", [values]
    return "%.17g", [np.asarray(values, dtype=np.float64)]


def _length(column) -> int:
    return len(column.values if isinstance(column, Typed) else column)


def table_chunks(names: list[str], blocks: Iterable[list], comments: Iterable[str] = (),
                 units: Iterable[str] = (), directives: Iterable[str] = ()) -> Iterator[bytes]:
    """The text of a table, a piece at a time: comment lines, whole
    directive lines (`#@marker ...`, as given), the header,
    the units line where any of `units` (one per name) is given, then the
    rows of each block (one column per name: an array, or a Typed for
    times and words; a column's type may differ from block to block), an
    empty line between two blocks: the reader ends a run there."""
    head = [f"# {line}\n" for line in comments]
    head += [" ".join(line.splitlines()) + "\n" for line in directives]
    head.append(",".join(map(header_name, names)) + "\n")
    units = list(units)
    if any(units):
        head.append(units_line(units))
    yield "".join(head).encode()
    for index, columns in enumerate(blocks):
        if index:
            yield b"\n"
        formats, parts = [], []
        for column in columns:
            fmt, more = _column_parts(column)
            formats.append(fmt)
            parts += more
        line = ",".join(formats)
        rows = _length(columns[0]) if columns else 0
        for start in range(0, rows, CHUNK_ROWS):
            chunk = slice(start, start + CHUNK_ROWS)
            lists = [p(chunk) if callable(p) else p[chunk].tolist() for p in parts]
            yield ("\n".join(line % row for row in zip(*lists)) + "\n").encode()


def typed_column(columns, name: str) -> Typed:
    """Column `name` of `columns` (a data set, held data or a run) with
    what it holds."""
    kind = columns.kind(name)
    return Typed(columns.column(name), kind, tuple(columns.words(name)) if kind == TEXT else ())


def history_table(runs) -> tuple[list[str], Iterator[list], list[str]]:
    """One table of several runs, a block per run: a first column with each
    row's run number (for readers that skip empty lines), then every column
    any run has, in the order they first appear; a run without a column has
    NaN there. Also the units, each column's in the first run that has it.
    The rows come a run at a time, so a long history is never copied whole."""
    names: list[str] = []
    units: list[str] = []
    for run in runs:
        for name in run.column_names:
            if name not in names:
                names.append(name)
                units.append(run.unit(name))

    def blocks():
        for run in runs:
            size = len(run)
            columns = [np.full(size, run.number, dtype=np.int64)]
            for name in names:
                try:
                    columns.append(typed_column(run, name))
                except KeyError:
                    columns.append(np.full(size, np.nan))
            yield columns

    # The run column takes the suffix when a column is called "run" too.
    run_name = unique_names([*names, "run"])[0][-1]
    return [run_name, *names], blocks(), ["", *units]
