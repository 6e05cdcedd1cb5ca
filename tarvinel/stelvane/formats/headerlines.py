"""The lines of a table's header: its names and units lines, and the names
a table gets where it has none.

This module imports no Qt: the producer process uses it.
"""

import re

from ..protocol import TIME
from .fields import comment_text, is_content, is_framed, is_value_line, joined, split_fields
from .layout import ColumnLayout, TableLayout
from .values import WORD, suffix_only, value_class

# A unit without brackets: a short token, or one with a sign units use.
_UNIT_WORD = re.compile(r"[^\s\d](?:\S{0,3}|\S*[/%°µ^*·²³\d]\S*)$")
_BRACKETED = re.compile(r"^(\[.*\]|\(.*\))$")
# A word a comment line begins with to say that it names the columns ("#N ra dec").
NAMES_MARKS = frozenset(("N",))
# Words a names line may have beyond the columns where the last column takes
# the rest of the line: its last name is that many words more ("Mounted on");
# a line of more words above the rows is a title, not names.
NAME_SPILL = 2


def fitted(fields, layout: TableLayout) -> list[list[str]] | None:
    """A names (or units) line's fields, grouped by stored column, or None
    when the line does not fit the rows: one field per field (a chain's
    fields grouped), one per stored column, or a label ("avg-cpu:") and
    then those."""
    starts = layout.stored_fields()
    fields = [f.strip().strip("\"'") for f in fields]
    if len(fields) - 1 in (layout.width, len(starts)) and (
            fields[0].endswith(":") or fields[0] in NAMES_MARKS):
        fields = fields[1:]
    if layout.rest and layout.width < len(fields) <= layout.width + NAME_SPILL:
        fields = joined(fields, layout.width)
    if len(fields) == len(starts) and len(starts) < layout.width:
        return [[name] for name in fields]
    if len(fields) == layout.width:
        ends = starts[1:] + (layout.width,)
        return [fields[s:e] for s, e in zip(starts, ends)]
    return None


def stored_names(fields, layout: TableLayout) -> tuple[str, ...] | None:
    grouped = fitted(fields, layout)
    if grouped is None:
        return None
    starts = layout.stored_fields()
    return tuple(stored_name(parts, layout.columns[s], i)
                 for i, (parts, s) in enumerate(zip(grouped, starts)))


def stored_units(fields, layout: TableLayout) -> tuple[str, ...] | None:
    grouped = fitted(fields, layout)
    if grouped is None:
        return None
    return tuple(" ".join(u.strip("[]()") for u in parts if u).strip() for parts in grouped)


def stored_name(parts, column: ColumnLayout, index: int) -> str:
    """A stored column's name; where the names line holds values (a report
    whose first name is the time it was printed at), a made-up one."""
    if all(value_class(p) != WORD and not suffix_only(p) for p in parts):
        return "time" if column.kind == TIME else f"c{index + 1}"
    return " ".join(p for p in parts if p) or f"c{index + 1}"


def line_fields(lines, index: int, sep) -> list[str] | None:
    """A possible names or units line's fields (a comment's text counts)."""
    if index < 0 or not lines[index].strip():
        return None
    text = lines[index] if is_content(lines[index]) else comment_text(lines[index])
    if not text:
        return None
    # A header drawn between bars over rows separated otherwise: its bars separate.
    fields = split_fields(text, "|" if is_framed(text) else sep)
    return None if is_value_line(fields, sep != ",") else fields


def looks_like_units(fields) -> bool:
    present = [f.strip() for f in fields if f.strip()]
    return bool(present) and (all(_BRACKETED.match(f) for f in present)
                              or all(_UNIT_WORD.match(f) for f in present))


def made_up_names(layout: TableLayout) -> tuple[str, ...]:
    return tuple(f"c{i + 1}" for i in range(len(layout.stored_fields())))


def padded(fields, layout: TableLayout) -> tuple[str, ...]:
    """Names given outright that do not fit the rows: as many as there are
    columns, made-up ones after the last given."""
    made_up = made_up_names(layout)
    given = [f.strip() for f in fields][:len(made_up)]
    return tuple(given) + made_up[len(given):]


_LISTED = re.compile(r"#\s*(\d+)\s+(\S+)")


def listed_names(header, width: int) -> tuple[str, ...] | None:
    """Names a header lists one a line, numbered from 1 (as astronomy
    catalogues write them: `#   1 NUMBER   Running object number`), where
    the list numbers `width` columns; None otherwise."""
    listed = {}
    for line in header:
        match = _LISTED.match(line.strip())
        if match:
            listed.setdefault(int(match.group(1)), match.group(2))
    if sorted(listed) != list(range(1, width + 1)):
        return None
    return tuple(listed[i] for i in range(1, width + 1))
