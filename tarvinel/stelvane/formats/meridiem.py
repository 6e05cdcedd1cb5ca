"""A time of day and its AM/PM marker in two fields (`12:00:01 AM` in an
aligned printout, where blanks separate the fields; the sniffer lays them
out as a chain of two): the native parse reads a time of day with the
marker after it, blanks between allowed, so the marker's field is no field
of its own there.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import replace

from ..protocol import TIME
from .layout import DAYTIME, TableLayout


def native_layout(layout: TableLayout) -> TableLayout:
    """The layout the native parse follows: each marker's field left out,
    the time of day before it taking no next field (a date before that
    time still takes it)."""
    columns = []
    for column in layout.columns:
        before = columns[-1] if columns else None
        if before is not None and before.with_next and before.kind == TIME and before.shape == DAYTIME:
            columns[-1] = replace(before, with_next=False)
            continue
        columns.append(column)
    return replace(layout, columns=tuple(columns))
