"""Blocks of a typed table's lines, parsed natively under a TableLayout.

    state = TableState()                       # one per stream
    block = parse_block(data, layout, state)   # data: bytes of whole lines
    block.rows     2-D float64, one row per good line: numbers; times as
                   seconds since the epoch (UTC); text as word codes
    block.bad      the lines set aside: BadLine(index, reason)
    block.words    {column: the words first seen in this block}, in code order

A date column whose `with_next` is set and the time of day in the column after
it make one column of the rows (_NativePlan tells where each field goes), and
so do the fields of a time format with blanks in it where blanks separate
fields.
A time of day alone lands on the local date the stream started (`start_date`),
and rolls over to the next day whenever it falls back by more than 12 hours.
A STRFTIME column goes through Python's datetime.strptime, one field at a time:
the slow road.

This module imports no Qt: the producer process uses it.
"""

import datetime
import math
import re
from dataclasses import dataclass, field

import numpy as np

from .. import _textrows
from ..protocol import NUMBER, TEXT, TIME
from .layout import DAYTIME, EPOCH, MISSING_WORDS, STRFTIME, WHITESPACE, TableLayout
from .meridiem import native_layout
from .text.rows import excerpt
from .units import suffixed, unsuffixed
from .values import strptime_seconds

HALF_DAY = 12 * 3600.0
_OUTER_BARS = re.compile(rb"^[ \t]*\||\|[ \t]*(?=\r?$)", re.MULTILINE)
_EPOCH_DATE = datetime.date(1970, 1, 1)
# Reason codes of the native parse.
_FIELD_COUNT, _NOT_OF_KIND, _UNCLOSED_QUOTE, _AFTER_QUOTE = 1, 2, 3, 4
_EXAMPLES = {
    "iso": "2026-12-08 10:00:00", "dmy": "08.12.2026", "mdy": "12/8/2026",
    "month": "Jan 8 2026", DAYTIME: "10:00:00", EPOCH: "1796724000",
}


@dataclass(frozen=True)
class BadLine:
    index: int      # the line's index in the block
    reason: str     # as a user reads it: "'abc' is not a number"
    text: str = field(default="", compare=False)  # the line itself, without its line end
    # The field that is not of its column's kind (None for other reasons).
    odd_field: int | None = field(default=None, compare=False)


@dataclass
class Block:
    rows: np.ndarray
    bad: list[BadLine] = field(default_factory=list)
    words: dict[int, list[str]] = field(default_factory=dict)


def _native_column(column, in_format: bool) -> tuple[str, str, float, bool]:
    """The native parse's spec of a field; `in_format`: a field of a time
    format's value that spans several fields (its text is kept, and joined
    here)."""
    if column.kind == TEXT:
        return ("text", "", 1.0, False)
    if column.kind != TIME:
        return ("number", "", 1.0, False)
    if column.shape == STRFTIME or in_format:
        return ("raw", "", 1.0, False)
    return ("time", column.shape, float(column.scale), bool(column.with_next))


@dataclass(frozen=True)
class _NativePlan:
    """What a layout asks of the native parse, decided once per layout.
    A date and the time of day it takes from the next field share one
    output column; a time format whose value spans fields (an aligned
    printout's `08 Dec 2026`) has each field kept as text in an output
    column of its own, the first one's taking the value, the rest dropped."""
    layout: TableLayout            # the fields as the native parse sees them (meridiem.py)
    columns: tuple                 # the native spec of each field
    outputs: tuple[int, ...]       # the native output column of each field
    formats: tuple[range, ...]     # the fields of each time format's value
    dropped: tuple[int, ...]       # the native output columns left out of the rows
    final: tuple[int, ...]         # the block's column of each native output column
    day_times: tuple[int, ...]     # the block's columns of times of day alone

    @classmethod
    def of(cls, layout: TableLayout) -> "_NativePlan":
        native = native_layout(layout)
        fields = native.columns
        formats = tuple(range(i, _chain_end(fields, i)) for i, c in enumerate(fields)
                        if c.kind == TIME and c.shape == STRFTIME
                        and not (i and fields[i - 1].with_next))
        in_format = {i for span in formats for i in span}
        columns = tuple(_native_column(c, i in in_format) for i, c in enumerate(fields))
        outputs, width, pair_open = [], 0, False
        for kind, _, _, with_next in columns:
            width += not pair_open
            outputs.append(width - 1)
            pair_open = not pair_open and kind == "time" and with_next
        dropped = tuple(outputs[i] for span in formats for i in span[1:])
        final = tuple(o - sum(d < o for d in dropped) for o in range(width))
        day_times = tuple(final[outputs[i]] for i, c in enumerate(fields)
                          if c.kind == TIME and c.shape == DAYTIME and i not in in_format
                          and not (i and fields[i - 1].with_next))
        return cls(native, columns, tuple(outputs), formats, dropped, final, day_times)


def _chain_end(fields, first: int) -> int:
    """The field after the with_next chain that begins at `first`."""
    end = first + 1
    while end < len(fields) and fields[end - 1].with_next:
        end += 1
    return end


class TableState:
    """What a stream's blocks share: the layout's parser with the words of
    its text columns, and the days a time-of-day column has rolled over.
    A block under another layout starts all of it afresh."""

    def __init__(self, start_date: datetime.date | None = None):
        self.start_date = start_date or datetime.date.today()
        self.layout = None
        self.words: dict[int, list[str]] = {}  # column: every word so far, in code order
        self._parser = None
        self.plan = None  # a _NativePlan
        self._days: dict[int, tuple[int, float]] = {}  # column: (days rolled, last time of day)

    def parser_for(self, layout: TableLayout):
        if layout != self.layout:
            sep = WHITESPACE if layout.sep == " " else layout.sep
            self.plan = _NativePlan.of(layout)
            self._parser = _textrows.table_parser(sep, layout.quote, layout.decimal_comma,
                                                  self.plan.columns, MISSING_WORDS, layout.rest)
            self.layout, self.words, self._days = layout, {}, {}
        return self._parser

    def add_dates(self, times: np.ndarray, column: int) -> None:
        """Times of day (seconds since midnight, NaN where missing), in place,
        to times on the stream's dates, rolling over past midnight."""
        valid = ~np.isnan(times)
        of_day = times[valid]
        if not len(of_day):
            return
        days, last = self._days.get(column, (0, of_day[0]))
        previous = np.concatenate(([last], of_day[:-1]))
        rolled = days + np.cumsum(of_day - previous < -HALF_DAY)
        self._days[column] = (int(rolled[-1]), float(of_day[-1]))
        start = (self.start_date - _EPOCH_DATE).days
        times[valid] = (start + rolled) * 86400.0 + of_day
        _textrows.local_to_utc(times)


def parse_block(data: bytes, layout: TableLayout, state: TableState,
                lines: int | None = None) -> Block:
    """Whole lines (bytes ending in a newline; `lines` of them, where the
    caller has counted them) under `layout`."""
    if layout.brackets:
        data = data.translate(None, layout.brackets.encode())
    if layout.framed:
        data = _OUTER_BARS.sub(b"", data)
    if layout.groups:
        data = data.replace(b"|", b" ")
    written = data  # the lines as the problems quote them
    given = layout
    if any(column.unit is not None for column in layout.columns):
        data = unsuffixed(data, layout)
    parser = state.parser_for(layout)
    plan = state.plan
    layout = plan.layout  # the fields as the native parse sees them
    lines = data.count(b"\n") if lines is None else lines
    rows = np.empty((lines, plan.outputs[-1] + 1 if plan.outputs else 0))
    count, bad, words, raw = _textrows.parse_table(parser, data, rows)
    if _suffixed_among(bad, data, layout):
        # A number column whose sampled values carried no suffix holds one
        # further down (top's RES of 2.2g): read again, suffixes written out.
        data = unsuffixed(written, given, numbers=True)
        count, bad, more, raw = _textrows.parse_table(parser, data, rows)
        for column, learnt in more.items():
            words.setdefault(column, []).extend(learnt)
    rows = rows[:count]
    texts = written.split(b"\n") if written is not data else None
    set_aside = [BadLine(line, _reason(code, where, data[begin:end], layout),
                         _line_at(data, begin) if texts is None else
                         texts[line].decode("utf-8", "replace").rstrip("\r"),
                         where if code == _NOT_OF_KIND else None)
                 for line, code, where, begin, end in bad]
    if raw:
        good_lines = np.delete(np.arange(lines), [line for line, *_ in bad])
        rows, more = _read_formats(rows, raw, plan, good_lines)
        set_aside = sorted(set_aside + more, key=lambda b: b.index)
    if plan.dropped:
        rows = np.delete(rows, plan.dropped, axis=1)
        words = {plan.final[column]: learnt for column, learnt in words.items()}
    for column in plan.day_times:
        state.add_dates(rows[:, column], column)
    for column, learnt in words.items():
        state.words.setdefault(column, []).extend(learnt)
    return Block(rows, set_aside, words)


def _suffixed_among(bad, data: bytes, layout: TableLayout) -> bool:
    """Whether a field that did not read is a number with a suffix in a
    number column."""
    return any(code == _NOT_OF_KIND and layout.columns[where].kind == NUMBER
               and suffixed(data[begin:end].decode("utf-8", "replace")) is not None
               for _, code, where, begin, end in bad)


def _read_formats(rows, raw, plan: _NativePlan, good_lines):
    """The STRFTIME columns' fields (those of one value joined by a space)
    into `rows`; rows whose value does not read are dropped and reported."""
    failed = {}
    for span in plan.formats:
        column, out = plan.layout.columns[span.start], plan.outputs[span.start]
        texts = zip(*(raw[plan.outputs[i]] for i in span))
        for row, text in enumerate(" ".join(parts) for parts in texts):
            value = _strptime(text.strip(), column.time_format)
            if value is None:
                failed.setdefault(row, (f"{excerpt(text.strip())} is not a time in the format "
                                        f"{column.time_format!r}", text.strip()))
            else:
                rows[row, out] = value
    keep = np.setdiff1d(np.arange(len(rows)), list(failed))
    # Such a line is a data line with a field that does not read: its field
    # stands for its text.
    more = [BadLine(int(good_lines[row]), why, text) for row, (why, text) in failed.items()]
    return rows[keep], more


def _line_at(data: bytes, offset: int) -> str:
    """The line the byte at `offset` is in, decoded, without its line end."""
    begin = data.rfind(b"\n", 0, offset) + 1
    end = data.find(b"\n", offset)
    return data[begin:end if end >= 0 else len(data)].decode("utf-8", "replace").rstrip("\r")


def _strptime(text: str, time_format: str) -> float | None:
    if text in MISSING_WORDS:
        return math.nan
    try:
        return strptime_seconds(text, time_format)
    except ValueError:
        return None


def _reason(code: int, where: int, field_bytes: bytes, layout: TableLayout) -> str:
    if code == _FIELD_COUNT:
        return f"{where} values, {layout.width} columns expected"
    if code == _UNCLOSED_QUOTE:
        return f"an unclosed quote in field {where + 1}"
    if code == _AFTER_QUOTE:
        return f"text after the closing quote of field {where + 1}"
    text = excerpt(field_bytes.decode("utf-8", "replace").strip())
    column = layout.columns[where]
    if column.kind != TIME:
        return f"{text} is not a number"
    if where > 0 and layout.columns[where - 1].with_next:
        return f"{text} is not a time of day like 10:00:00"
    like = "2026-12-08" if column.with_next and column.shape == "iso" else _EXAMPLES.get(column.shape)
    return f"{text} is not a time like {like}"
