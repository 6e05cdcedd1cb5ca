"""Where a table's rows begin, decided by evidence over many lines rather
than by the look of one:

    the width      the field count that gives the longest block of rows
    the types      each column's type is what most of its values are
                   (a number, a date of one shape, a time of day, AM/PM, a
                   word), lines of words alone (the header's) left out
    a row          a line of that width whose values fit the types of at
                   least half the number columns (of the other columns that
                   are not words where there are none)
    the rows       the longest block of such lines (a blank line, the header
                   printed again or a line that does not fit ends a block)
    free text      where blanks separate fields and the last column holds
                   words, a line with more fields is a row whose last
                   column holds blanks (ps's COMMAND with its arguments)
                   where its fields up to the last fit

The line right above that block is where the names are looked for (a line
whose fields do not fit the types): never "the last line that looks like
names". A first row with one bad value among good ones still fits, and so
is a row with one problem, not a names line; so is a row whose times and
dates fit and whose number columns hold nothing or one word ("ERR").
Control bytes and numbers in C's hex notation (0x10) are no evidence of
words: no names line holds them, and among a number column's values they
are bad values (each a problem of its row), so they count as missing here.

This module imports no Qt: the producer process uses it.
"""

from collections import Counter
from typing import NamedTuple
import re

from ..protocol import NUMBER
from .fields import header_shape, is_content, joined, split_fields
from .layout import WHITESPACE
from .values import (ISO_DATE, ISO_DATETIME, MISSING, MONTH_DATE, MONTH_DATETIME, NUMERIC_DATE,
                     NUMERIC_DATETIME, WORD, suffix_only, value_class)

# Value classes alike for a column's type: a date with or without its time.
_COARSE = {ISO_DATETIME: ISO_DATE, NUMERIC_DATETIME: NUMERIC_DATE, MONTH_DATETIME: MONTH_DATE}
# Widths tried, the most frequent first.
_WIDTHS_TRIED = 3
_CONTROL = re.compile(r"[\x00-\x08\x0b-\x1f\x7f]")
_HEX = re.compile(r"[+-]?0[xX][0-9a-fA-F]+")


def is_odd(text: str) -> bool:
    """A value that is neither a word nor a number: control bytes, 0x10."""
    return bool(_CONTROL.search(text) or _HEX.fullmatch(text.strip()))


def is_summary(fields) -> bool:
    """A report's summary row: a label ("Average:") where its first value
    belongs."""
    return bool(fields) and fields[0].endswith(":") and value_class(fields[0][:-1]) == WORD


def _class(text: str, decimal_comma: bool) -> str:
    found = value_class(text, decimal_comma) if text.strip() and not is_odd(text) else MISSING
    return _COARSE.get(found, found)


def types_open(rows, decimal_comma: bool) -> bool:
    """Whether a few rows leave a column's type open: numbers in it that
    are no majority beside odd values, or fewer than its words (a number
    column whose first values are bad, or words with numbers among them):
    more rows tell."""
    for column in zip(*rows):
        present = [text for text in column if text.strip()]
        odd = sum(map(is_odd, present))
        found = Counter(value_class(text, decimal_comma) for text in present if not is_odd(text))
        if (odd and 2 * found[NUMBER] <= len(present)) or found[WORD] > found[NUMBER] > 0:
            return True
    return False


def column_types(rows, decimal_comma: bool) -> list[str]:
    """Each column's type: the class most of its present values have. Rows
    of words alone (names, units: the header's lines) are left out where
    other rows hold values."""
    classes = [[_class(text, decimal_comma) for text in row] for row in rows]
    valued = [row for row, found in zip(rows, classes) if set(found) - {WORD, MISSING}]
    types = []
    for column in zip(*(valued or rows)):
        counts = Counter(_class(text, decimal_comma) for text in column)
        counts.pop(MISSING, None)
        # (A tie goes to values: one name above one value is no word column.)
        types.append(max(counts, key=lambda c: (counts[c], c != WORD)) if counts else MISSING)
    return types


def fits(fields, width: int, types, decimal_comma: bool, carriers=frozenset()) -> bool:
    """Whether a line's fields are a row under the columns' types. A number
    by its unit suffix alone fits only a column that `carriers` names."""
    if len(fields) != width:
        return False
    typed = [(i, text, kind) for i, (text, kind) in enumerate(zip(fields, types))
             if kind not in (WORD, MISSING)]
    if not typed:
        return False
    # A report prints its time in its names line too: where there are
    # numbers, they alone tell a row.
    numbers = [(i, text, kind) for i, text, kind in typed if kind == NUMBER]
    found = [(WORD if i not in carriers and suffix_only(text, decimal_comma)
              else _class(text, decimal_comma), kind) for i, text, kind in numbers or typed]
    matched = sum(got == kind for got, kind in found)
    missing = sum(got == MISSING for got, _ in found)
    if matched > 0 and 2 * (matched + missing) >= len(found):
        return True
    # The times and dates all fitting, the numbers missing or one a word:
    # a row with bad values (a names line has words where the times are).
    others = [(_class(text, decimal_comma), kind) for _, text, kind in typed if kind != NUMBER]
    return bool(numbers and others) and all(got == kind for got, kind in others) and sum(
        got == WORD for got, _ in found) <= 1


def free_text(values, wider: int) -> bool:
    """Whether a last text column's values (`wider` of them from lines with
    more fields, joined) read as free text rather than as the words of a
    state: most of them distinct (process names, mount points; not on/off),
    or two lines or more with more fields. One such line among values that
    repeat is two lines run together; among too few values to tell, it is
    a command with its arguments."""
    present = [text for text in values if text.strip()]
    if len(present) < 3:
        return wider > 0
    return wider > 1 or 2 * len(set(present)) > len(present)


def carriers(rows, decimal_comma: bool) -> frozenset:
    """The columns where more than one row holds a number with a unit
    suffix (`4688k`): one such value a column is a header's (`1k`)."""
    counts = Counter(i for row in rows for i, text in enumerate(row)
                     if suffix_only(text, decimal_comma))
    return frozenset(i for i, count in counts.items() if count > 1)


class RowsBlock(NamedTuple):
    first: int    # its first line
    length: int   # its rows
    width: int    # the fields of a row
    wider: int    # its rows with more fields (the last column's free text)


def _longest_block(lines, split: dict, start: int, width: int, types, decimal_comma: bool,
                   suffixed=frozenset(), takes_rest: bool = False):
    """(first line, length, rows wider than `width` in it) of the longest
    block of rows, or None. `split`: the fields of each line that is no
    comment, by index; `takes_rest`: the last column may take the rest."""
    best, first, length, wider = None, None, 0, 0
    for i in range(start, len(lines) + 1):
        if i < len(lines) and lines[i].strip() and i not in split:
            continue  # a comment inside a block
        fields = split.get(i)
        spilled = bool(takes_rest and fields and len(fields) > width)
        if spilled:
            fields = joined(fields, width)
        if fields and not is_summary(fields) and fits(fields, width, types, decimal_comma,
                                                       suffixed):
            first = i if length == 0 else first
            length, wider = length + 1, wider + spilled
            continue
        if length and (best is None or length > best[1]):
            best = (first, length, wider)
        length, wider = 0, 0
    return best


def rows_block(lines, sep, start: int) -> RowsBlock | None:
    """The longest block of rows from `start` on, or None where there is
    none."""
    decimal_comma = sep != ","
    split = {}
    for i in range(start, len(lines)):
        if is_content(lines[i]):
            split[i] = split_fields(lines[i], sep)
    widths = Counter(len(fields) for fields in split.values() if not is_summary(fields))
    best = None  # (length, typed columns, first line, the lines' fit)
    for width, _ in widths.most_common(_WIDTHS_TRIED):
        rows = [f for f in split.values() if len(f) == width]
        types = column_types(rows, decimal_comma)
        suffixed = carriers(rows, decimal_comma)
        takes_rest = sep is WHITESPACE and width > 1 and types[-1] == WORD
        block = _longest_block(lines, split, start, width, types, decimal_comma, suffixed,
                               takes_rest)
        if block:
            # The longest block; of blocks as long, the one with more columns
            # of values, then the later one (a banner comes before the rows).
            typed = sum(kind not in (WORD, MISSING) for kind in types)
            fitting = (width, types, suffixed, takes_rest, block[2])
            best = max(best or (0, 0, 0, None), (block[1], typed, block[0], fitting),
                       key=lambda found: found[:3])
    if best is None:
        return None
    length, _, first, (width, types, suffixed, takes_rest, wider) = best

    def fitting(fields):
        if takes_rest and len(fields) > width:
            fields = joined(fields, width)
        return not is_summary(fields) and fits(fields, width, types, decimal_comma, suffixed)

    return RowsBlock(_first_printing(lines, split, first, fitting), length, width, wider)


def _first_printing(lines, split: dict, first: int, fitting) -> int:
    """Where the line above the rows (their names) was printed before with
    rows under it, as a screen printed again is (top's process list, longer
    in one screen than another): the rows begin under its first printing."""
    above = first - 1
    if above not in split:
        return first
    shape = header_shape(lines[above])
    for i in range(above):
        if i in split and i + 1 in split and header_shape(lines[i]) == shape \
                and fitting(split[i + 1]):
            return i + 1
    return first


_OPENING, _CLOSING = "([", ")]"


def unbracketed(lines) -> tuple[list[str], str]:
    """Lines printed as tuples or lists ("(1.5, 2)", "[1.5, 2]"), most of
    those that are no comments, without their brackets, and the brackets
    dropped; other lines as they are, and ""."""
    content = [line.strip() for line in lines if is_content(line)]
    bracketed = [line for line in content
                 if line[0] in _OPENING and line[-1] in _CLOSING and len(line) > 2]
    if not content or 2 * len(bracketed) <= len(content):
        return list(lines), ""
    dropped = "".join(sorted({line[0] for line in bracketed} | {line[-1] for line in bracketed}))
    table = str.maketrans("", "", dropped)
    return [line.translate(table) for line in lines], dropped
