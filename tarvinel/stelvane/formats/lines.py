"""Line formats whose values carry their own names, beside tables:

    temp:21.5,hum:40            label:value pairs (commas, semicolons, spaces or
    temp=21.5 hum=40            tabs between them; label=value too)
    temp,hum                    a line of labels only: the names of the bare
    21.5,40                     values on the lines after it, by position
    >accX:-0.011                marked lines, one value each: >name:value, or
    >accX:1765188000123:-0.011  >name:time:value (`|flags` after the value and
                                `§unit` before them allowed)
    {"ts": "2026-12-08T10:00:00", "temp": 21.5, "ok": true, "dev": {"id": 3}}
                                JSON lines: one object each, nested keys as
                                dev.id, booleans as 0/1, strings read as values
                                (a JSON array written one object a line too)
    weather,site=a temp_c=5.8 1264129200000000000
                                InfluxDB's line protocol (influx.py)
    64 bytes from ...: icmp_seq=1 ttl=64 time=0.043 ms
                                text with pairs inside (textpairs.py)
    IpInReceives   209759  0.0  name/value listings, a row per snapshot
                                (listing.py: nstat, Prometheus, /proc/net/dev)

Their values are read by linevalues.py.
`recognise` tells these from a table by the first lines. `KeyedReader`
turns lines into blocks of rows: a name first seen later adds a column at
the end (the columns so far keep their places, earlier rows hold NaN there),
and each column's kind (number, time, text) is decided by its first value,
as a table's would be. Blank lines and `#` comments are skipped.

This module imports no Qt: the producer process uses it.
"""

import math
from dataclasses import dataclass, field

import numpy as np

from ..protocol import NUMBER, TEXT, TIME, Columns
from .account import NAMES, TITLE, line_kind
from .fields import clean_lines, is_content
from .influx import point_values
from .linevalues import ARRAY_ENDS, json_values, keyvalue_pairs, marked_value
from .listing import Listing, is_listing, may_be_listing
from .textpairs import has_text_pairs, text_pairs
from .layout import EPOCH, ColumnLayout
from .units import column_unit, in_unit
from .timevalues import DayClock, epoch_seconds, time_seconds
from .values import column_layout, epoch_scale, is_missing, number_text

TABLE, KEYVALUE, MARKED, JSONL, INFLUX = "table", "keyvalue", "marked", "jsonl", "influx"
TEXTPAIRS = "textpairs"  # text with key=value pairs inside (textpairs.py)
LISTING = "listing"      # name/value listings, a row per snapshot (listing.py)
FORMATS = (TABLE, KEYVALUE, MARKED, JSONL, INFLUX, TEXTPAIRS, LISTING)
# Lines that decide the format; fewer do where fewer have come.
RECOGNISE_LINES = 20
# Columns a stream's names may make: every row holds a value (or NaN) for each,
# so names without end (a new label a line) would grow memory as lines times names.
MAX_COLUMNS = 500


def _line_format(line: str) -> str | None:
    if line in ARRAY_ENDS or (line.lstrip("[").lstrip().startswith("{")
                               and json_values(line) is not None):
        return JSONL
    if line.startswith(">") and marked_value(line):
        return MARKED
    if point_values(line) is not None:
        return INFLUX
    if has_text_pairs(line):
        return TEXTPAIRS
    pairs = keyvalue_pairs(line)
    if pairs and any(label and value is not None for label, value in pairs):
        return KEYVALUE
    return None


def recognise(lines, final: bool = True) -> str | None:
    """The format the first lines are in, or None while no line holds
    anything (no line yet but blank ones and comments) or, unless `final`,
    while they may begin a listing. A format most of the lines are in wins;
    a table otherwise."""
    content = [line.strip() for line in clean_lines(lines)
               if is_content(line)][:RECOGNISE_LINES]
    if not content:
        return None
    if is_listing(content):
        return LISTING
    if not final and may_be_listing(content):
        return None  # a listing's first names, or a table's first rows
    votes = [_line_format(line) for line in content]
    for name in (JSONL, MARKED, INFLUX, KEYVALUE):
        if 2 * votes.count(name) > len(content):
            return name
    # A tool's replies with pairs inside come between its banner and its
    # statistics (four lines of ping's): a third of the lines, two at least.
    replies = votes.count(TEXTPAIRS)
    return TEXTPAIRS if replies >= 2 and 3 * replies >= len(content) else TABLE


@dataclass
class KeyedBlock:
    """What a reader sends for some lines: `columns` (all names so far, with
    kinds and units) where names were added since the last block, then the
    rows (`block`, one column per name so far) with `words` for
    Feed.rows. `rejected`: (index of the line, why) for the lines that gave
    no row or a value that does not fit its column. `data_lines`: the lines
    in the rows; `problem_lines`: those that gave no row; `skipped`: the
    kinds of the lines passed over (account.py)."""
    columns: Columns | None
    block: np.ndarray
    words: dict = field(default_factory=dict)
    rejected: list = field(default_factory=list)
    data_lines: int = 0
    problem_lines: int = 0
    skipped: list = field(default_factory=list)


@dataclass
class _Column:
    index: int             # its place among the names
    layout: ColumnLayout
    unit: str = ""
    codes: dict = field(default_factory=dict)  # a text column's words: code
    clock: DayClock = field(default_factory=DayClock)


class KeyedReader:
    """Lines of one keyed format (KEYVALUE, MARKED or JSONL) to blocks of
    rows, one `take` call per batch of lines: one block each, however many
    lines, so a reader sends them as it sends a table's blocks."""

    def __init__(self, line_format: str):
        if line_format not in FORMATS[1:]:
            raise ValueError(f"{line_format!r} is no keyed line format")
        self.format = line_format
        self.names: list[str] = []
        self._columns: dict[str, _Column] = {}
        self._positional: list[str] = []  # from the last line of labels only
        self._new_words: dict[int, list[str]] = {}  # of the block being made
        self._open = None  # a marked row that may still gain values: [index, record, lines]
        self._skipped: list[str] = []  # the kinds of the lines passed over, of this batch
        self._capped = False  # MAX_COLUMNS reached, and said
        self._beyond = False  # the record being read has a name beyond them
        self._failed: set[int] = set()  # the lines of this batch that gave no record
        self._listed = Listing()  # what a listing's header lines said

    def take(self, lines, final: bool = True) -> KeyedBlock | None:
        """The block for these lines (whole lines, decoded), or None where
        they gave neither rows nor names. Unless `final`, the last row of
        marked lines is held back for the next batch: the next line may
        belong to it (a device writes one value a line, and a read may end
        between two of one row's lines)."""
        known, rows, rejected = len(self.names), [], []
        self._new_words = {}
        self._skipped, data_lines, problem_lines = [], 0, 0
        records = self._records(clean_lines(lines), rejected)
        if self.format in (MARKED, LISTING) and records and not final:
            self._open = records.pop()
        for index, record, count in records:
            told, self._beyond = len(rejected), False
            row = self._row(record, index, rejected)
            if row:
                rows.append(row)
                data_lines += count
                continue
            problem_lines += count
            if len(rejected) == told:  # nothing said of it yet
                rejected.append((index, f"only names beyond the first {MAX_COLUMNS:,}"
                                 if self._beyond else "no values"))
        problem_lines += len(self._failed)
        if not rows and len(self.names) == known and not rejected and not self._skipped:
            return None
        block = np.full((len(rows), len(self.names)), math.nan)
        for r, row in enumerate(rows):
            for column, value in row.items():
                block[r, column] = value
        columns = self.columns() if len(self.names) > known else None
        return KeyedBlock(columns, block, self._new_words, rejected, data_lines, problem_lines,
                          self._skipped)

    def columns(self) -> Columns:
        """All names so far, with their kinds and units."""
        held = [self._columns[name] for name in self.names]
        return Columns(self.names, [c.layout.kind for c in held], [c.unit for c in held])

    def words(self) -> dict[int, list[str]]:
        """Every word of each text column so far, in the order of its codes."""
        return {c.index: list(c.codes) for c in self._columns.values() if c.codes}

    # --- lines to records: [line index, {name: (raw value, unit)}, lines in it] ---

    def _records(self, lines, rejected):
        take = {KEYVALUE: self._keyvalue, MARKED: self._marked, JSONL: self._json,
                INFLUX: self._point, TEXTPAIRS: self._textpairs,
                LISTING: self._listing}[self.format]
        # A row held back: its line is in an earlier batch, counted as this one's first.
        records = [[0, self._open[1], self._open[2]]] if self._open else []
        self._open, self._failed = None, set()
        for index, line in enumerate(lines):
            text = line.strip()
            kind = line_kind(text)
            if kind:
                self._skipped.append(kind)
            else:
                take(index, text, records, rejected)
        return records

    def _keyvalue(self, index, text, records, rejected) -> None:
        pairs = keyvalue_pairs(text)
        if pairs is None:
            rejected.append((index, "no label:value pairs"))
            self._failed.add(index)
        elif all(value is None for _, value in pairs):
            self._positional = [label for label, _ in pairs]  # a names line
            self._skipped.append(NAMES)
        else:
            record = {}
            for position, (label, value) in enumerate(pairs):
                name = label or (self._positional[position] if position < len(self._positional)
                                 else f"c{position + 1}")
                record[name] = (value or "", "")
            records.append([index, record, 1])

    def _marked(self, index, text, records, rejected) -> None:
        """One value a line; a row gathers them until a name comes again or
        the time changes. Lines of other shapes are the device's own talk."""
        marked = marked_value(text) if text.startswith(">") else None
        if marked is None:
            self._skipped.append(TITLE)
            return
        name, time_text, value, unit = marked
        last = records[-1][1] if records else None
        if (last is None or name in last
                or (time_text is not None and last.get("time", (time_text,))[0] != time_text)):
            last = {}
            records.append([index, last, 0])
        records[-1][2] += 1
        if time_text is not None:
            last["time"] = (time_text, "")
        last[name] = (value, unit)

    def _json(self, index, text, records, rejected) -> None:
        if text in ARRAY_ENDS:  # the brackets of a JSON array around the objects
            self._skipped.append(TITLE)
            return
        values = json_values(text)
        if values is None:
            rejected.append((index, "no JSON object"))
            self._failed.add(index)
        else:
            records.append([index, {name: (value, "") for name, value in values.items()}, 1])

    def _point(self, index, text, records, rejected) -> None:
        values = point_values(text)
        if values is None:
            rejected.append((index, "no point of the line protocol"))
            self._failed.add(index)
        else:
            records.append([index, {name: (value, "") for name, value in values.items()}, 1])

    def _textpairs(self, index, text, records, rejected) -> None:
        pairs = text_pairs(text)
        if pairs is None:
            self._skipped.append(TITLE)  # the tool's banner or statistics
        else:
            records.append([index, pairs, 1])

    def _listing(self, index, text, records, rejected) -> None:
        """A snapshot's row gathers its lines' values until a name comes again."""
        pairs, header = self._listed.line(text)
        if not pairs:
            self._skipped.append(NAMES if header else TITLE)
            return
        last = records[-1][1] if records else None
        if last is None or any(name in last for name, _ in pairs):
            last = {}
            records.append([index, last, 0])
        records[-1][2] += 1
        last.update((name, (value, "")) for name, value in pairs)

    # --- records to rows -----------------------------------------------------------

    def _row(self, record: dict, index: int, rejected) -> dict:
        row = {}
        for name, (raw, unit) in record.items():
            if _missing(raw):
                continue
            column = self._columns.get(name)
            if column is None:
                if len(self.names) >= MAX_COLUMNS:
                    self._beyond = True
                    self._over_cap(name, index, rejected)
                    continue
                column = self._add(name, raw, unit)
            try:
                row[column.index] = self._number(column, raw)
            except ValueError as error:
                rejected.append((index, f"{name}: {error}"))
        return row

    def _over_cap(self, name: str, index: int, rejected) -> None:
        """A name beyond MAX_COLUMNS: its values are dropped, said once."""
        if not self._capped:
            self._capped = True
            rejected.append((index, f"more than {MAX_COLUMNS:,} names: the values of {name!r} "
                                    "and of further new names are dropped"))

    def _add(self, name: str, raw, unit: str) -> _Column:
        """A new column, of the kind its first value says."""
        if isinstance(raw, (bool, int, float)):
            scale = None if isinstance(raw, bool) else epoch_scale([float(raw)], name)
            layout = ColumnLayout(TIME, EPOCH, scale=scale) if scale else ColumnLayout(NUMBER)
        else:
            layout = column_layout([str(raw)], name)
            unit = unit or column_unit([str(raw)]) or ""  # 45%, 12k: the unit it carries
        column = self._columns[name] = _Column(len(self.names), layout, unit)
        self.names.append(name)
        return column

    def _number(self, column: _Column, raw) -> float:
        layout = column.layout
        if layout.kind == TEXT:
            return self._code(column, str(raw))
        if isinstance(raw, (bool, int, float)):
            if layout.kind == TIME and layout.shape != EPOCH:
                raise ValueError(f"{raw!r} is no time")
            return epoch_seconds(float(raw), layout.scale) if layout.kind == TIME else float(raw)
        if layout.kind == TIME:
            return time_seconds(raw, layout, column.clock)
        try:
            return float(number_text(raw))
        except ValueError:
            value = in_unit(raw, column.unit)
            if value is None:
                raise ValueError(f"{raw[:40]!r} is not a number") from None
            return value

    def _code(self, column: _Column, word: str) -> float:
        code = column.codes.get(word)
        if code is None:
            code = column.codes[word] = len(column.codes)
            self._new_words.setdefault(column.index, []).append(word)
        return float(code)


def _missing(raw) -> bool:
    return raw is None or (isinstance(raw, str) and is_missing(raw))
