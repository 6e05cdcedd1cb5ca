"""The lines of a table one by one: their ends, their fields, and whether
they hold values or words.

This module imports no Qt: the producer process uses it.
"""

import csv
import re

from .layout import WHITESPACE
from .values import AMPM, MISSING, WORD, suffix_only, value_class

_DIGITS = re.compile(r"\d+")
# What begins a comment line: "#", and "!" as Touchstone and other
# instruments' files write them ("!freq ReS11 ImS11" names the columns below).
COMMENT_MARKS = "#!"
_HALF_DAY = re.compile(r"\b[AaPp]\.?[Mm]\b\.?")


def header_shape(line: str) -> str:
    """A header line with its numbers (dates, times, counts) and AM/PM
    made alike: a report's header printed again differs in those only."""
    shape = _DIGITS.sub("0", " ".join(line.lstrip(COMMENT_MARKS).split()))
    return _HALF_DAY.sub("AM", shape)


def clean_lines(lines) -> list[str]:
    """Lines without line ends (CRLF too) and without a leading byte-order mark."""
    cleaned = [line.rstrip("\r\n") for line in lines]
    if cleaned and cleaned[0].startswith("\ufeff"):
        cleaned[0] = cleaned[0][1:]
    return cleaned


def split_fields(line: str, sep: str | None, quote: str | None = '"', rest_at: int = 0) -> list[str]:
    """The fields of a line; quoted fields may hold the separator, and a
    doubled quote inside them is one quote. Where blanks separate fields,
    `rest_at` (a width) makes the field at that place the rest of the line,
    blanks and all."""
    if sep is WHITESPACE:
        if rest_at:
            fields = line.split(None, rest_at - 1)
            return fields[:-1] + [fields[-1].rstrip()] if fields else fields
        return line.split()
    if sep == "|":
        stripped = line.strip()
        if len(stripped) > 1 and stripped[0] == stripped[-1] == "|":
            line = stripped[1:-1]  # a table drawn with outer bars
    if quote and quote in line:
        try:
            return next(csv.reader([line], delimiter=sep, quotechar=quote, skipinitialspace=True),
                        [])
        except csv.Error:  # a line end inside it (a lone CR): its fields as they split
            pass
    return line.split(sep)


def row_fields(line: str, layout) -> list[str]:
    """A line's fields as a table's rows split (a TableLayout's)."""
    return split_fields(line, layout.sep, layout.quote, layout.width if layout.rest else 0)


def joined(fields: list[str], width: int) -> list[str]:
    """Fields beyond `width` joined into the last one, by single blanks."""
    return fields[:width - 1] + [" ".join(fields[width - 1:])]


_RULE = re.compile(r"[|+]?(?:\s*:?[-=]{3,}:?\s*[|+]?)+\s*$")


def is_rule(line: str) -> bool:
    """A line that draws a rule under a table's names: `|-----|-----|`,
    `+-----+-----+`, `---  ---`, `|:---|---:|`, `=====`."""
    return bool(_RULE.match(line.strip()))


def is_framed(line: str) -> bool:
    """A line drawn between bars: `| a | b |`, `|ra|dec|`."""
    text = line.strip()
    return len(text) > 2 and text[0] == text[-1] == "|"


def is_content(line: str) -> bool:
    text = line.strip()
    return bool(text) and text[0] not in COMMENT_MARKS


def comment_text(line: str) -> str | None:
    """The text of a `# names` comment, None for directives and other lines."""
    text = line.strip()
    if text[:1] in COMMENT_MARKS and text and not text.startswith("#@"):
        return text.lstrip(COMMENT_MARKS).strip()
    return None


def is_value_line(fields: list[str], decimal_comma: bool) -> bool:
    """Mostly values, and at least one that is no missing word (a number
    by its unit suffix alone counts as a word: `freq 1k 10k` names columns)."""
    classes = [WORD if suffix_only(f, decimal_comma) else value_class(f, decimal_comma)
               for f in fields]
    present = sum(c not in (WORD, AMPM, MISSING) for c in classes)
    values = sum(c != WORD for c in classes)
    return present > 0 and 2 * values >= len(classes)
