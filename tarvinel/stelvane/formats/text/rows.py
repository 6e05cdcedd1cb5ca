"""The text format's lines as numbers: how a line splits into fields, how a
field reads as a number, and how blocks of lines become 2-D arrays (natively,
by numpy's parser, or line by line), for the reader (reader.py).

Speed: a block of lines that are all plain real numbers is parsed natively
(the _textrows module) straight into its array. A block it refuses goes to
numpy's C parser in one call; only a block that refuses too (comments, empty
lines or fields, complex values, bad lines) is taken apart, by halves, down to
the lines that need Python's own parsing.

This module imports no Qt: it runs in the producer process.
"""

import io
import math
import warnings

import numpy as np

from ... import _textrows
from ..layout import MISSING_WORDS

MAX_LINE_BYTES = 1 << 20
MAX_FIELDS = 10_000
# Below this many lines a refused block is parsed line by line.
_SMALL_BLOCK = 8


class LimitExceeded(ValueError):
    """A line over the limits, where the reader is strict."""


def separator_of(line: str) -> str | None:
    """The separator a line of column names uses: ",", tab, or None for white space."""
    if "," in line:
        return ","
    if "\t" in line:
        return "\t"
    return None


def split_fields(line: str, sep: str | None) -> list[str]:
    return line.split(sep) if sep else line.split()


_MISSING = frozenset(MISSING_WORDS)


def parse_number(field: str):
    """A value in Python's notation; an empty field, or a word that stands
    for a missing value ("NA", "null", "-"), is NaN. Raises ValueError."""
    field = field.strip()
    if field in _MISSING:
        return math.nan
    try:
        return float(field)
    except ValueError:
        return complex(field)


def parse_line(line: str, sep: str | None, width: int):
    """One row as a list of numbers, or the reason it is no row (a text)."""
    fields = split_fields(line, sep)
    if len(fields) != width:
        return f"{len(fields)} values, {width} columns expected"
    try:
        return [parse_number(field) for field in fields]
    except ValueError:
        bad = next(f for f in fields if not is_number(f))
        return f"{excerpt(bad.strip())} is not a number"


def is_number(field: str) -> bool:
    try:
        parse_number(field)
    except ValueError:
        return False
    return True


def excerpt(text: str, limit: int = 40) -> str:
    return repr(text if len(text) <= limit else text[:limit - 3] + "...")


def block_parse(lines, sep: str | None, width: int, maybe_complex: bool):
    """Lines (bytes of whole lines, or a list of lines) as one 2-D array by
    numpy's parser, or None when it refuses them or their width is wrong.
    numpy skips empty lines: the caller compares the row count."""
    if isinstance(lines, bytes):
        # Through a file object: numpy would take text for a file name. Bytes
        # that are not ASCII never make a number, whatever they decode to.
        lines = io.BytesIO(lines)
    for dtype in (np.float64, np.complex128) if maybe_complex else (np.float64,):
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # lines that are all empty: "no data"
                block = np.loadtxt(lines, dtype=dtype, delimiter=sep, comments=None, ndmin=2,
                                   quotechar=None, encoding=None)
        except (ValueError, TypeError):
            if not isinstance(lines, list):
                lines.seek(0)
            continue
        return block if block.shape[1] == width else None
    return None


def plain_rows(data: bytes, lines: int, sep: str | None, width: int):
    """Whole lines of plain real numbers, parsed natively into a (lines, width)
    array; None when the native parser refuses them (it refuses anything it
    might read differently from numpy, so the general path decides)."""
    # A value takes two bytes at least (a digit, then a separator or the
    # newline): a block with fewer bytes cannot hold them, and no array is
    # made for it (empty lines under a wide header would ask for gigabytes).
    if 2 * lines * width > len(data):
        return None
    block = np.empty((lines, width))
    return block if _textrows.parse_into(data, sep, block) else None


def parse_rows(lines: list[str], sep: str | None, width: int, maybe_complex: bool):
    """The rows of data lines, in order: (list of 2-D blocks, list of
    (line index, reason) for the lines rejected)."""
    blocks, rejected = [], []

    def parse(low: int, high: int) -> None:
        if high - low > _SMALL_BLOCK:
            block = block_parse(lines[low:high], sep, width, maybe_complex)
            if block is not None and len(block) == high - low:
                blocks.append(block)
                return
            middle = (low + high) // 2
            parse(low, middle)
            parse(middle, high)
            return
        rows = []
        for index in range(low, high):
            row = parse_line(lines[index], sep, width)
            if isinstance(row, str):
                rejected.append((index, row))
            else:
                rows.append(row)
        if rows:
            is_complex = any(isinstance(v, complex) for row in rows for v in row)
            blocks.append(np.array(rows, np.complex128 if is_complex else np.float64))

    parse(0, len(lines))
    return blocks, rejected


def join_blocks(blocks: list[np.ndarray]) -> np.ndarray:
    return blocks[0] if len(blocks) == 1 else np.concatenate(blocks)


def column_names(line: str) -> tuple[list[str], str | None]:
    """The names a line gives and its separator; empty names become c1, c2, ...
    and quotes around a name are dropped."""
    sep = separator_of(line)
    fields = split_fields(line, sep)
    if len(fields) > MAX_FIELDS:
        raise LimitExceeded(f"{len(fields):,} column names (at most {MAX_FIELDS:,})")
    names = []
    for i, field in enumerate(fields):
        name = field.strip()
        if len(name) >= 2 and name[0] == name[-1] and name[0] in "\"'":
            name = name[1:-1]
        names.append(name or f"c{i + 1}")
    return names, sep
