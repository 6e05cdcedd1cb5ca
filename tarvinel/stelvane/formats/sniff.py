"""Deciding a table from a stream's first lines: where its names are, what
separates its fields, and what each column holds.

    Linux 6.1.0 (host)  12/08/2026  _x86_64_  (2 CPU)     <- a banner: skipped
                                                          <- (blank lines within the header too)
    procs ---memory--- ...                                <- a group line: skipped
    time;voltage;state                                    <- the names: the last line of names
    [s];[V];                                              <- units, kept as units
    2026-12-08 10:00:00;1,5;on                            <- the first data row

The names line is the line right above the first data rows (or above their
units line), `# ` in front of it allowed; a data row is a line whose fields
are mostly values (numbers, dates, times, missing words) and whose next line,
if any, is one too with as many fields. The separator is the candidate that
gives the names line and the first data rows matching field counts and the
most values. A banner or header printed again later (as tools that print
reports do) is recognised by `Sniffed.repeats`.

Call `sniff` with the lines so far: it returns None until they show a data
row (a names line alone could still be a title), so the caller reads on and
calls again with more lines; `final=True` (the stream ended, or ENOUGH_LINES
waited for) decides from whatever there is.

This module imports no Qt: the producer process uses it.
"""

from dataclasses import dataclass, replace

from ..protocol import NUMBER, TEXT, TIME, Columns
from .account import BLANK, REPEATED, SUMMARY
from .layout import DAYTIME, EPOCH, STRFTIME, WHITESPACE, ColumnLayout, TableLayout
from .fields import (clean_lines, is_framed, is_rule, comment_text, header_shape, is_content, is_value_line,
                     row_fields, split_fields)
from .evidence import free_text, is_summary, rows_block, types_open, unbracketed
from .units import column_unit, grouped, ungrouped
from .headerlines import (NAME_SPILL, line_fields, listed_names, looks_like_units,
                          made_up_names, padded, stored_names, stored_units)
from .values import (AMPM, DATES, MISSING, TIME_OF_DAY, WORD, column_layout, epoch_scale,
                     fits_format, has_decimal_comma, number_text, value_class)

AUTO = "auto"  # the separator is decided from the lines
# In the order preferred where two split the lines alike.
SEPARATORS = (",", "\t", ";", "|", WHITESPACE)
# Lines a reader gathers at most while `sniff` still says None; then it
# calls with final=True (as it does at the stream's end).
ENOUGH_LINES = 200
# Rows after the first data row that decide the columns' kinds.
SAMPLE_ROWS = 50


@dataclass(frozen=True)
class Sniffed:
    """A table as decided. `names` and `units` have one entry per stored
    column (a with_next chain of fields is one column), `layout` one
    ColumnLayout per field. Every line before `first_data_line` is header:
    the reader skips it, except lines beginning "#@" (directives), which it
    takes as it always does. `names_line` is None where the columns got
    made-up names (c1, c2, ...)."""
    names: tuple[str, ...]
    units: tuple[str, ...]
    layout: TableLayout
    names_line: int | None
    first_data_line: int
    header_shapes: frozenset = frozenset()
    # False where the header itself held blank lines (a banner, a blank
    # line, the names): such tools print blank lines between their reports,
    # and a blank line ends no run there.
    blank_is_roll: bool = True
    units_line: int | None = None

    @property
    def kinds(self) -> tuple[str, ...]:
        return self.layout.kinds

    def columns(self) -> Columns:
        """What Feed.columns is given: names, kinds and units."""
        return Columns(self.names, self.kinds, self.units)

    def repeats(self, line: str) -> str | None:
        """Whether a later line is the header printed again (the names, the
        units, a banner or group line, with its numbers allowed to differ),
        a blank line where blank lines are part of the header, or a summary
        row where the first column holds times ("Average:  all  0.50"): the
        reader skips it, and the run goes on. Returns the kind of line it is
        (account.py), or None."""
        if not line.strip():
            return None if self.blank_is_roll else BLANK
        if self.layout.groups:
            line = ungrouped(line)
        if header_shape(line) in self.header_shapes:
            return REPEATED
        if self.layout.columns[0].kind == TIME and is_summary(
                split_fields(line, self.layout.sep, self.layout.quote)):
            return SUMMARY
        return None

    def holds_row(self, line: str) -> bool:
        """Whether a line has the table's width and mostly values: a row."""
        layout = self.layout
        fields = row_fields(line, layout)
        return len(fields) == layout.width and is_value_line(fields, layout.decimal_comma)


@dataclass
class _Candidate:
    """The table one separator makes of the lines."""
    sep: str | None
    first: int             # the first data row
    rows: list             # the sampled data rows' fields
    consistent: float      # the share of the lines after it with its width
    names_line: int | None = None
    units_line: int | None = None
    names: tuple = ()
    units: tuple = ()
    layout: TableLayout | None = None
    block: int = 1         # the rows in the longest block of them
    agree: int = 0         # the lines with as many fields as the rows (none for one field)

    def all_values(self) -> bool:
        """Whether the first row holds no word."""
        decimal_comma = self.layout.decimal_comma
        return all(value_class(f, decimal_comma) != WORD for f in self.rows[0])

    def score(self):
        values = sum(value_class(f, self.layout.decimal_comma) != WORD
                     for row in self.rows for f in row)
        share = values / max(1, sum(len(row) for row in self.rows))
        # The separator under which the most lines agree on one field count
        # (of two or more) wins: they say more about a separator than values
        # do (a decimal comma makes a row of "2,3" one number under any
        # other separator).
        return (self.agree, self.names_line is not None, self.consistent, share,
                len(self.rows[0]), -SEPARATORS.index(self.sep))


def _sample(lines, sep, first: int, width: int, wider: int):
    """The data rows from `first` on, up to a blank line, and the share of
    those lines with the rows' width (`wider`: lines with more fields too,
    the last column taking the rest)."""
    # The header printed again among the rows (as vmstat does) is no row.
    header = {header_shape(line) for line in lines[:first] if line.strip()}
    rows, seen = [], 0
    for index, line in enumerate(lines[first:first + SAMPLE_ROWS + 1]):
        if not line.strip():
            break
        if not is_content(line) or (index and header_shape(line) in header):
            continue
        fields = split_fields(line, sep)
        if is_summary(fields):
            continue
        seen += 1
        if wider and len(fields) > width:
            fields = split_fields(line, sep, rest_at=width)
        if len(fields) == width:
            rows.append([f.strip() for f in fields])
    return rows, len(rows) / seen


def _field_layouts(rows, sep, time_format: str) -> list[ColumnLayout]:
    """One layout per field; a date followed by a time of day, and a time
    of day followed by AM/PM, become with_next chains."""
    width = len(rows[0])
    decimal_comma = sep != ","
    columns = [column_layout([row[i] for row in rows], decimal_comma=decimal_comma,
                             time_format=time_format) for i in range(width)]
    classes = [{value_class(row[i], decimal_comma) for row in rows} - {MISSING}
               for i in range(width)]
    for i in range(width - 1):
        date_then_time = classes[i] and classes[i] <= set(DATES) and classes[i + 1] == {TIME_OF_DAY}
        # (Only where blanks separate fields: the native parse then reads
        # the marker as the time's own end.)
        time_then_half = (sep is WHITESPACE and classes[i] == {TIME_OF_DAY}
                          and classes[i + 1] == {AMPM})
        if (date_then_time or time_then_half) and columns[i].kind == TIME:
            columns[i] = replace(columns[i], with_next=True)
            columns[i + 1] = ColumnLayout(TIME, DAYTIME)
    if time_format and sep is WHITESPACE:
        _join_format_fields(rows, columns, time_format)
    return _with_units(rows, columns, decimal_comma)


def _with_units(rows, columns, decimal_comma: bool) -> list[ColumnLayout]:
    """Where numbers carry units or multipliers (4688k, 45%), every number
    column reads them: a column of bare zeros in the sample may print 12k
    later."""
    units = [column_unit([row[i] for row in rows], decimal_comma) for i in range(len(columns))]
    if all(unit is None for unit in units):
        return columns
    return [replace(column, unit=unit or "") if column.kind == NUMBER else column
            for column, unit in zip(columns, units)]


def _join_format_fields(rows, columns, time_format: str) -> None:
    """A --time-format with spaces spans that many more fields of an aligned
    printout: the first field that begins such a value chains the rest."""
    span = len(time_format.split())
    if span < 2:
        return
    for i in range(len(columns) - span + 1):
        if all(fits_format(" ".join(row[i:i + span]), time_format) for row in rows):
            for j in range(i, i + span - 1):
                columns[j] = ColumnLayout(TIME, STRFTIME, time_format=time_format,
                                          with_next=True)
            columns[i + span - 1] = ColumnLayout(TIME, DAYTIME)
            return


def _find_names(candidate: _Candidate, lines) -> None:
    """The names line (and units line) right above the first data row, a
    rule under them (`|-----|-----|`, `---  ---`) passed over."""
    sep, layout = candidate.sep, candidate.layout
    first = candidate.first
    while first > 0 and is_rule(lines[first - 1]):
        first -= 1
    if sep != "|":  # a stack of framed lines (names, types, units): the names on top
        while first > 1 and is_framed(lines[first - 1]) and is_framed(lines[first - 2]):
            first -= 1
    above = line_fields(lines, first - 1, sep)
    if above is None:
        return
    framed = is_framed(lines[first - 1])
    higher = line_fields(lines, first - 2, sep) if framed == is_framed(lines[first - 2]) else None
    if higher is not None and is_content(lines[first - 1]) and looks_like_units(above):
        names, units = stored_names(higher, layout), stored_units(above, layout)
        if names and units:
            candidate.names_line, candidate.units_line = first - 2, first - 1
            candidate.names, candidate.units = names, units
            return
    names = stored_names(above, layout)
    if names:
        candidate.names_line, candidate.names = first - 1, names


def _mostly_framed(lines) -> bool:
    content = [line for line in lines if is_content(line)]
    return 2 * sum(is_framed(line) for line in content) > len(content)


def _epoch_columns(candidate: _Candidate) -> None:
    """Numbers in a column named as a time, epoch-sized: times."""
    columns = list(candidate.layout.columns)
    decimal_comma = candidate.layout.decimal_comma
    for name, field in zip(candidate.names, candidate.layout.stored_fields()):
        if columns[field].kind != NUMBER:
            continue
        try:
            values = [float(number_text(row[field], decimal_comma)) for row in candidate.rows
                      if value_class(row[field], decimal_comma) == NUMBER]
        except ValueError:
            continue  # a complex value: no time
        scale = epoch_scale(values, name)
        if scale:
            columns[field] = ColumnLayout(TIME, EPOCH, scale=scale)
    candidate.layout = replace(candidate.layout, columns=tuple(columns))


def _candidate(lines, sep, start: int, time_format: str) -> _Candidate | None:
    block = rows_block(lines, sep, start)
    if block is None:
        return None
    first, length = block.first, block.length
    rows, consistent = _sample(lines, sep, first, block.width, block.wider)
    decimal_comma = sep != "," and any(has_decimal_comma(f) for row in rows for f in row)
    columns = _field_layouts(rows, sep, time_format)
    width = len(columns)
    rest = (sep is WHITESPACE and width > 1 and columns[-1].kind == TEXT
            and (free_text([row[-1] for row in rows], block.wider)
                 or _names_spill(lines, first, width)))
    layout = TableLayout(sep=sep, quote=None if sep is WHITESPACE else '"',
                         decimal_comma=decimal_comma, columns=tuple(columns), rest=rest)
    agree = sum(len(split_fields(line, sep)) == width for line in lines[start:] if is_content(line))
    return _Candidate(sep, first, rows, consistent, layout=layout, block=length,
                      agree=agree if width > 1 else 0)


def _names_spill(lines, first: int, width: int) -> bool:
    """Whether the line above the rows is a names line whose last name is
    a few words ("Mounted on" over df's mount points)."""
    above = line_fields(lines, first - 1, WHITESPACE)
    return above is not None and width < len(above) <= width + NAME_SPILL


def _given_names(candidate: _Candidate, lines, names_line: int | None, names) -> None:
    layout = candidate.layout
    if names is not None:
        fields = split_fields(names, candidate.sep) if isinstance(names, str) else list(names)
        candidate.names = stored_names(fields, layout) or padded(fields, layout)
        return
    text = lines[names_line] if is_content(lines[names_line]) else comment_text(lines[names_line])
    fields = split_fields(text or "", candidate.sep)
    candidate.names_line = names_line
    candidate.names = stored_names(fields, layout) or padded(fields, layout)
    units = line_fields(lines, names_line + 1, candidate.sep)
    if names_line + 1 < candidate.first and units and looks_like_units(units):
        fitted = stored_units(units, layout)
        if fitted:
            candidate.units_line, candidate.units = names_line + 1, fitted


def _units(candidate: _Candidate) -> tuple[str, ...]:
    """The units line's, where there is one; else those the values carry."""
    columns = candidate.layout.columns
    carried = tuple(columns[i].unit or "" for i in candidate.layout.stored_fields())
    given = candidate.units or ("",) * len(carried)
    return tuple(unit or carry for unit, carry in zip(given, carried))


def _header(lines, candidate: _Candidate) -> tuple[frozenset, bool]:
    """The shapes of the header lines (those with words in them) and whether
    a blank line ends a run (not where the header held blank lines)."""
    shapes, blank_inside, seen_content = set(), False, False
    for line in lines[:candidate.first]:
        if not line.strip():
            blank_inside |= seen_content
            continue
        if line.strip().startswith("#@"):
            continue
        seen_content = True
        shape = header_shape(line)
        if any(c.isalpha() for c in shape):
            shapes.add(shape)
    return frozenset(shapes), not blank_inside


def _names_only(lines, seps, names_line: int | None, names) -> Sniffed | None:
    """At the end of the stream without any data row: the last line of
    names (or the line or names given) makes number columns."""
    if names is None:
        index = names_line if names_line is not None else next(
            (i for i in reversed(range(len(lines))) if is_content(lines[i])), None)
        if index is None:
            return None
        text = lines[index] if is_content(lines[index]) else comment_text(lines[index])
    else:
        index, text = None, names if isinstance(names, str) else "\t".join(names)
    sep = next((s for s in seps if s is not WHITESPACE and s in text), WHITESPACE)
    fields = [f.strip() for f in split_fields(text, sep)]
    layout = TableLayout(sep=sep, quote=None if sep is WHITESPACE else '"',
                         columns=(ColumnLayout(),) * len(fields))
    return Sniffed(tuple(fields), ("",) * len(fields), layout, index, len(lines))


def _name(candidate, lines, names_line: int | None, names) -> None:
    """The candidate's names: given, found above its rows, listed in its
    header, or made up; and its epoch columns."""
    if names is None and names_line is None:
        _find_names(candidate, lines)
    else:
        _given_names(candidate, lines, names_line, names)
    candidate.names = (candidate.names or listed_names(lines[:candidate.first],
                                                       len(candidate.layout.stored_fields()))
                       or made_up_names(candidate.layout))
    _epoch_columns(candidate)


def sniff(lines, *, sep=AUTO, names_line: int | None = None, names=None,
          time_format: str = "", final: bool = False) -> Sniffed | None:
    """The table the first lines of a stream show, or None while they show
    no data row yet (call again with more lines) and `final` is not given.

    `sep`: a separator to use (one character, or WHITESPACE for runs of
    spaces) instead of deciding one. `names_line`: the index of the line
    that holds the names, where the guess would be wrong; `names`: the names
    themselves (a list, or a line of them), the data then begins at the first
    data row. `time_format`: a strftime format; the columns whose values all
    read with it are times."""
    lines, brackets = unbracketed(clean_lines(lines))
    groups = grouped(lines)
    if groups:
        lines = [ungrouped(line) for line in lines]
    seps = SEPARATORS if sep == AUTO else (sep,)
    start = names_line + 1 if names_line is not None else 0
    candidates = [c for c in (_candidate(lines, s, start, time_format) for s in seps) if c]
    if not final and not any(c.block > 1 or c.all_values() for c in candidates):
        # One row with words in it is no evidence yet (is "ERR" a word of a
        # text column, or a bad number?): the next lines tell.
        return None
    if not candidates:
        return _names_only(lines, seps, names_line, names) if final else None
    for candidate in candidates:
        _name(candidate, lines, names_line, names)
    best = max(candidates, key=_Candidate.score)
    if not final and len(best.rows) < SAMPLE_ROWS and types_open(best.rows,
                                                                  best.layout.decimal_comma):
        return None  # bad values among a column's first ones: more rows tell its type
    framed = best.sep == "|" and _mostly_framed(lines[best.first:])
    best.layout = replace(best.layout, brackets=brackets, framed=framed, groups=groups)
    shapes, blank_is_roll = _header(lines, best)
    return Sniffed(best.names, _units(best), best.layout,
                   best.names_line, best.first, shapes, blank_is_roll, best.units_line)
