"""Numbers printed with a unit or a multiplier glued on (`4688k`, `12M`,
`8192B`, `4KiB`, `45%`, `0.043ms`, top's `20.0t`), and the groups of an
aligned printout drawn apart by bars (dstat's `usr sys| read writ|`).

A suffix is read as (unit, factor): the value is the number times the
factor, in the unit. Multipliers carry no unit of their own and scale the
number in whatever unit its column has:

    k K M G T P       powers of 1000 (SI): 4688k is 4,688,000
    m g t p           top's memory columns, which count KiB: m is 1024 (a
                      MiB in KiB), g 1024², t 1024³, p 1024⁴
    B kB MB GB TB     bytes, powers of 1000
    KiB MiB GiB TiB   bytes, powers of 1024: 4KiB is 4096 B (Ki Mi Gi Ti too)
    %                 percent, as it is
    ns us µs ms s     times, in the unit written (ping's `time=0.043 ms` stays
                      in ms); a column's other times are converted to its unit

A column keeps one unit: the unit its sampled values carry (the first
where several do), or none where only multipliers and bare numbers came.
A later value of another unit does not read (a problem of its line); a
column without a unit takes a value of any, scaled as it says (its unit
cannot change once the columns are sent).

This module imports no Qt: the producer process uses it.
"""

import re

from ..protocol import NUMBER
from .layout import WHITESPACE

_BINARY = {"m": 1024.0, "g": 1024.0 ** 2, "t": 1024.0 ** 3, "p": 1024.0 ** 4}
SUFFIXES = {
    "k": ("", 1e3), "K": ("", 1e3), "M": ("", 1e6), "G": ("", 1e9), "T": ("", 1e12),
    "P": ("", 1e15), **{s: ("", f) for s, f in _BINARY.items()},
    "B": ("B", 1.0), "kB": ("B", 1e3), "KB": ("B", 1e3), "MB": ("B", 1e6), "GB": ("B", 1e9),
    "TB": ("B", 1e12), "KiB": ("B", 1024.0), "MiB": ("B", 1024.0 ** 2),
    "GiB": ("B", 1024.0 ** 3), "TiB": ("B", 1024.0 ** 4),
    # (free -h and the like leave the B off: 23Gi, 920Mi)
    "Ki": ("B", 1024.0), "Mi": ("B", 1024.0 ** 2), "Gi": ("B", 1024.0 ** 3),
    "Ti": ("B", 1024.0 ** 4),
    "%": ("%", 1.0),
}
# Times: seconds per unit as powers of ten; each is a unit of its own,
# converted within a column (by the power of ten apart: 900us is 0.9 ms).
SECONDS = {"ns": -9, "us": -6, "µs": -6, "ms": -3, "s": 0}
SUFFIXES.update((unit, (unit, 1.0)) for unit in SECONDS)
# The longest suffixes first, so that "ms" is never read as "m" then "s".
_SUFFIX = "|".join(re.escape(s) for s in sorted(SUFFIXES, key=len, reverse=True))
_LAST = frozenset(suffix[-1] for suffix in SUFFIXES)
_FIRST = frozenset("0123456789+-.,")
_SUFFIXED = re.compile(rf"([+-]?(?:\d+(?:[.,]\d*)?|[.,]\d+)(?:[eE][+-]?\d+)?)({_SUFFIX})$")


def suffixed(text: str, decimal_comma: bool = False) -> tuple[float, str] | None:
    """(value, unit) of a number with a suffix, or None for other text."""
    text = text.strip()
    # (Most text that is no number is told at its ends, before the pattern.)
    if not text or text[-1] not in _LAST or text[0] not in _FIRST:
        return None
    match = _SUFFIXED.match(text)
    if not match:
        return None
    number, suffix = match.groups()
    if "," in number:
        if not decimal_comma:
            return None
        number = number.replace(",", ".", 1)
    unit, factor = SUFFIXES[suffix]
    return float(number) * factor, unit


def column_unit(texts, decimal_comma: bool = False) -> str | None:
    """The unit of a column of numbers: None where no value carries a
    suffix, else the first unit one carries ("" where only multipliers do)."""
    found = [suffixed(text, decimal_comma) for text in texts]
    units = [unit for value in found if value for unit in (value[1],)]
    if not units:
        return None
    return next((unit for unit in units if unit), "")


def in_unit(text: str, unit: str, decimal_comma: bool = False) -> float | None:
    """A suffixed number in a column of `unit` ("" for none), or None where
    it is no suffixed number or carries a unit other than the column's."""
    found = suffixed(text, decimal_comma)
    if found is None:
        return None
    value, carried = found
    if not unit or carried in ("", unit):
        return value
    if carried in SECONDS and unit in SECONDS:
        apart = SECONDS[carried] - SECONDS[unit]
        return value * 10.0 ** apart if apart >= 0 else value / 10.0 ** -apart
    return None


def unsuffixed(data: bytes, layout, numbers: bool = False) -> bytes:
    """Whole lines of a table with the suffixed numbers of its unit columns
    (and with `numbers`, of its other number columns too, which take a
    value of any unit) written out plainly (4688k as 4688000.0), so that
    the native parse reads them; a line with quotes, or of another width,
    stays as it is (the parse tells what is wrong with it)."""
    units = [column.unit if column.unit is not None or not numbers or column.kind != NUMBER
             else "" for column in layout.columns]
    joiner = " " if layout.sep is WHITESPACE else layout.sep
    text = data.decode("utf-8", "surrogateescape")
    lines = text.split("\n")
    for index, line in enumerate(lines):
        if not line or (layout.quote and layout.quote in line):
            continue
        if layout.sep is not WHITESPACE:
            fields = line.split(layout.sep)
        else:  # (a last column that takes the rest keeps its blanks)
            fields = line.split(None, len(units) - 1 if layout.rest else -1)
        if len(fields) != len(units):
            continue
        changed = False
        for place, (field, unit) in enumerate(zip(fields, units)):
            value = None if unit is None else in_unit(field, unit, layout.decimal_comma)
            if value is not None:
                written = repr(value)
                fields[place] = written.replace(".", ",") if layout.decimal_comma else written
                changed = True
        if changed:
            lines[index] = joiner.join(fields)
    return "\n".join(lines).encode("utf-8", "surrogateescape")


def grouped(lines) -> bool:
    """Whether most lines that are no comments draw bars between groups of
    fields (dstat: `usr sys idl| read  writ|`): pieces between the bars of
    several fields each, not one value a piece as a table separated by bars."""
    content = [line.strip() for line in lines if line.strip() and line.strip()[0] not in "#!"]
    # (Rows drawn between bars, `| New York | 3 |`, are a table drawn, not groups.)
    barred = [line for line in content if "|" in line and not line[0] == line[-1] == "|"]
    if not content or 2 * len(barred) <= len(content):
        return False
    pieces = [piece for line in barred for piece in line.split("|")]
    return 2 * sum(len(piece.split()) > 1 for piece in pieces) > len(pieces)


def ungrouped(line: str) -> str:
    """A line with its group bars made blanks."""
    return line.replace("|", " ")
