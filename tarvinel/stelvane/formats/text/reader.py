"""The text format's reader: rows of numbers under column names, read from a stream.

    # a comment
    time,voltage,current          <- column names (the first line that is no comment)
    0.0,1.5,-2e-3                 <- one row per line, numbers in Python's notation
    0.1,1.6,                      <- an empty field is a missing value (NaN)
    0.2,nan,1+2j                  <- nan, inf and complex values (1+2j) too
                                  <- an empty line ends the run (a roll)
    #@pattern time,(voltage|current)
    #@trace freq,S21              <- a whole trace: its column names, then its rows,
    1e9,0.5+0.1j
    2e9,0.4-0.2j
    #@end                         <- up to here

The separator (comma, tab, or any white space) is taken from the line of
column names, and the rows under those names use the same one. When that line
holds only numbers, the columns are named c1, c2, ... and the line is the first
row. Directives are comments to any other reader of the file:

    #@columns NAMES         new point column names (a new run)
    #@pattern X,Y           the point pattern (an (X,Y) pattern)
    #@trace-pattern X,Y     the trace pattern
    #@trace [NAMES]         the rows up to #@end are one whole trace, under NAMES
                            (or the trace column names given before)
    #@end                   ends the trace and sends it
    #@marker X,VALUE,TEXT   a text marker at VALUE on the X named X (markers.py)

A line that does not parse (wrong number of values, something that is not a
number, an unknown directive) is rejected on its own and reported; the rows
around it are kept. A line longer than 1 MiB or with more than 10,000 fields
is rejected too, or ends the stream where the reader is strict (a network
connection).

How lines become numbers, and how fast, is in rows.py; writing the format
is writer.py.

This module imports no Qt: it runs in the producer process.
"""

import numpy as np

from ..account import BLANK, COMMENT, NAMES, line_kind
from ..account import DIRECTIVE as DIRECTIVE_LINE
from ..markers import WORD, send_marker
from ..wholelines import LineProblems, WholeLines
from .rows import (
    MAX_FIELDS, MAX_LINE_BYTES, LimitExceeded, block_parse, column_names, excerpt, is_number,
    join_blocks, parse_rows, plain_rows, split_fields)

# Values of one trace (rows times columns); a trace that grows beyond this
# is dropped, so that a trace without end cannot fill memory.
MAX_TRACE_VALUES = 10_000_000
DIRECTIVE = "#@"
_NUMBER_STARTS = frozenset("0123456789+-.")


class TextReader:
    """Turns the bytes of one stream into commands for `sink` (a Feed, or
    anything with its methods) and reports bad lines to `problem(text)`.

    `strict`: a line over the limits raises LimitExceeded (after every row
    before it has been handed on) instead of being skipped and reported."""

    def __init__(self, sink, problem, *, name: str = "input", strict: bool = False,
                 problems: LineProblems | None = None):
        self.sink = sink
        # `problems`: those of a reader that hands its stream on to this one.
        self._problems = problems or LineProblems(problem, name, strict)
        self._lines = WholeLines(self._take, self._problems)
        # The trace column names last given, and the separator of the line
        # that gave them: they outlive a restart together (the window keeps
        # its trace columns, and a bare #@trace of the next stream fills them).
        self._trace_names = None
        self._trace_sep = None
        # Whether a row with one value that is no number is kept, the value
        # missing (as tables are read), instead of being rejected.
        self.mends = False
        # What begins a comment line: "#" in the text format; the reader that
        # hands a stream on takes "!" as well (fields.COMMENT_MARKS).
        self.comments = "#"
        self._run_rows = 0
        self._skip = None
        self.restart()

    @property
    def account(self):
        """Where the stream's lines went (account.LineAccount)."""
        return self._problems.account

    def tell_lines(self, lines) -> None:
        """`lines(name, account)`, where given, takes the account as it changes."""
        self._problems.lines = lines if callable(lines) else None

    def restart(self) -> None:
        """A new stream begins (a truncated file, a new connection): the run
        so far ends and the next line that is no comment holds column names."""
        self._end_run()
        self._lines.restart()
        self._width = 0
        self._sep = None
        self._trace = None       # rows of a trace under way: list of blocks
        self._trace_rows = 0
        self._trace_width = 0
        self._run_rows = 0
        self._skip = None

    def preset(self, names, sep: str | None, *, line_number: int = 0, skip=None) -> None:
        """The names of a stream whose header was read elsewhere (a names line
        found below a title, or behind '# '): the lines fed from now on are
        rows under `names` (a list, or a Columns), split by `sep`, counted
        from `line_number` on. `skip(text)`, where given, says which of the
        lines that are no plain rows to pass over (a header printed again): it
        returns the kind of line passed over (account.py), or None."""
        self._lines.lines = line_number
        self._skip = skip
        self._set_columns(names, sep)

    def directive(self, text: str, line_number: int) -> None:
        """A "#@" line of a header read elsewhere: taken, and counted in the
        account (as a directive, or a problem)."""
        self._special(text.strip(), line_number)

    # --- bytes to lines ---------------------------------------------------------

    def take(self, data: bytes) -> None:
        """Takes the next bytes of the stream; whole lines are handed on now,
        an unfinished last line when the rest of it arrives (or at finish)."""
        try:
            self._lines.take(data)
        finally:
            self._problems.tell()

    def finish(self, *, broken: bool = False) -> int | None:
        """The stream has ended. Its unfinished last line is taken as a line
        (a file whose last line has no line end) or, where the stream broke
        off (`broken`: a connection reset), dropped: a number cut short would
        be stored as another number. Returns that line's number, or None
        when the stream ended at a line end. A trace without #@end is sent
        as it is."""
        unfinished = self._lines.finish(broken=broken)
        if self._trace is not None:
            self._problems.report("the trace has no #@end; sent as it is")
            self._send_trace()
        self._problems.tell()
        return unfinished

    # --- lines to commands --------------------------------------------------------

    def _take(self, data: bytes, first: int, lines: int) -> None:
        """Whole lines (the bytes end with a newline), `lines` of them, the
        first of them the stream's line `first`."""
        maybe_complex = b"j" in data
        if (self._width and self._trace is None and b"#" not in data
                and len(data) <= MAX_LINE_BYTES):
            # The common case, a block of plain rows: one native call, or one
            # call to numpy's parser for what the native one refuses.
            block = None if maybe_complex else plain_rows(data, lines, self._sep, self._width)
            if block is None:
                block = block_parse(data, self._sep, self._width, maybe_complex)
            if block is not None and len(block) == lines:
                self._rows(block)
                self.account.add_data(lines)
                return
        text = data.decode("utf-8", "replace")
        self._take_lines(text.split("\n")[:-1], first - 1, maybe_complex)

    def _take_lines(self, lines: list[str], before: int, maybe_complex: bool) -> None:
        """Lines of the stream after its line `before`."""
        first = 0  # first line of the data lines not yet parsed
        for i, line in enumerate(lines):
            # A line of more than MAX_FIELDS fields has at least MAX_FIELDS
            # separators: only such long lines are looked at closely.
            too_large = len(line) >= MAX_FIELDS and self._too_large(line)
            if too_large:
                self._parse_data(lines, first, i, maybe_complex, before)
                first = i + 1
                self._problems.over_limit(too_large, before + i + 1)
                continue
            text = line.strip()
            skipped = self._skip is not None and self._trace is None and self._skips(text)
            if skipped:
                self._parse_data(lines, first, i, maybe_complex, before)
                first = i + 1
                self.account.skip(skipped)
                continue
            if text and text[0] not in self.comments and (self._width or self._trace is not None):
                continue  # a data line: parsed with its neighbours
            self._parse_data(lines, first, i, maybe_complex, before)
            first = i + 1
            self._special(text, before + i + 1)
        self._parse_data(lines, first, len(lines), maybe_complex, before)

    def _skips(self, text: str) -> str | None:
        # A plain row begins as a number does: only other lines are asked about.
        return self._skip(text) if not text or text[0] not in _NUMBER_STARTS else None

    def _too_large(self, line: str) -> str | None:
        if len(line.encode("utf-8", "replace")) > MAX_LINE_BYTES:
            return f"a line longer than {MAX_LINE_BYTES:,} bytes"
        sep = self._trace_sep if self._trace is not None else self._sep
        if len(split_fields(line, sep)) > MAX_FIELDS:
            return f"more than {MAX_FIELDS:,} fields"
        return None

    def _parse_data(self, lines, first: int, end: int, maybe_complex: bool, before: int) -> None:
        """lines[first:end], the stream's lines after its line `before + first`."""
        if end <= first:
            return
        in_trace = self._trace is not None
        sep, width = (self._trace_sep, self._trace_width) if in_trace else (self._sep, self._width)
        part = lines[first:end]
        blocks, rejected = parse_rows(part, sep, width, maybe_complex)
        mended = self._mended(part, rejected, sep, width) if self.mends and rejected else {}
        if mended:
            blocks, rejected = parse_rows(
                [mended[i][0] if i in mended else line for i, line in enumerate(part)],
                sep, width, maybe_complex)
        for index, why in rejected + [(i, why) for i, (_, why) in mended.items()]:
            text = f"{why}: {excerpt(part[index].strip())}"
            if index in mended:
                self._problems.report(f"{text}; read as missing", before + first + index + 1)
            else:
                self._problems.reject(text, before + first + index + 1)
        if not blocks:
            return
        self.account.add_data(sum(len(block) for block in blocks))
        if in_trace:
            self._add_to_trace(blocks)
        else:
            self._rows(join_blocks(blocks))

    @staticmethod
    def _mended(lines, rejected, sep, width) -> dict:
        """{index: (the line with its one value that is no number made
        missing, why)} for the rejected lines of the right width with one
        such value."""
        mended = {}
        for index, why in rejected:
            fields = split_fields(lines[index], sep)
            bad = [i for i, field in enumerate(fields) if not is_number(field)]
            if len(fields) == width and len(bad) == 1:
                fields[bad[0]] = "nan"
                mended[index] = ((sep or " ").join(fields), why)
        return mended

    def _rows(self, block: np.ndarray) -> None:
        self._run_rows += len(block)
        self.sink.rows(block)

    def _end_run(self) -> None:
        if self._run_rows:
            self._run_rows = 0
            self.sink.roll()

    def _special(self, text: str, line_number: int) -> None:
        """A line that is no data row: empty, comment, directive, or names."""
        if not text:
            self.account.skip(BLANK)
            if self._trace is None:
                self._end_run()
            return
        if text[0] in self.comments and not text.startswith(DIRECTIVE):
            self.account.skip(line_kind(text) or COMMENT)  # a comment, or a line joined on
            return
        try:
            if text.startswith(DIRECTIVE):
                before = self.account.accounted
                self._directive(text[len(DIRECTIVE):], line_number)
                if self.account.accounted == before:  # not rejected
                    self.account.skip(DIRECTIVE_LINE)
                return
            names, sep = column_names(text)
        except LimitExceeded as error:
            self._problems.over_limit(str(error), line_number)
            return
        if all(is_number(name) for name in names):
            # Numbers where names belong: name the columns, and keep the row.
            self._set_columns([f"c{i + 1}" for i in range(len(names))], sep)
            self._parse_data([text], 0, 1, "j" in text, line_number - 1)
            return
        self._set_columns(names, sep)
        self.account.skip(NAMES)

    def _set_columns(self, names: list[str], sep: str | None) -> None:
        self._width, self._sep = len(names), sep
        self._run_rows = 0  # new names begin a new run by themselves
        self.sink.columns(names)

    def _directive(self, text: str, line_number: int) -> None:
        word, _, argument = text.partition(" ")
        word, argument = word.strip().lower(), argument.strip()
        if word == "columns" and argument:
            self._set_columns(*column_names(argument))
        elif word == "pattern":
            self.sink.pattern(argument)
        elif word == "trace-pattern":
            self.sink.trace_pattern(argument)
        elif word == "trace":
            self._start_trace(argument, line_number)
        elif word == WORD:
            self._marker(argument, line_number)
        elif word == "end":
            if self._trace is None:
                self._problems.reject("#@end without #@trace", line_number)
            else:
                self._send_trace()
        else:
            self._problems.reject(f"unknown directive {excerpt('#@' + text)}", line_number)

    def _marker(self, argument: str, line_number: int) -> None:
        try:
            send_marker(self.sink, argument)
        except ValueError as error:
            self._problems.reject(str(error), line_number)

    # --- whole traces -------------------------------------------------------------

    def _start_trace(self, argument: str, line_number: int) -> None:
        if self._trace is not None:
            self._send_trace()
        if argument:
            names, self._trace_sep = column_names(argument)
            if names != self._trace_names:
                self._trace_names = names
                self.sink.trace_columns(names)
        elif self._trace_names is None:
            self._problems.reject("#@trace without column names, and none given before",
                                  line_number)
            return
        self._trace_width = len(self._trace_names)
        self._trace = []
        self._trace_rows = 0

    def _add_to_trace(self, blocks) -> None:
        if self._trace_rows < 0:
            return  # already too long: dropped
        self._trace_rows += sum(len(b) for b in blocks)
        if self._trace_rows * self._trace_width > MAX_TRACE_VALUES:
            self._problems.report(f"a trace of more than {MAX_TRACE_VALUES:,} values; dropped")
            self._trace_rows = -1
            self._trace.clear()
            return
        self._trace.extend(blocks)

    def _send_trace(self) -> None:
        blocks, self._trace = self._trace, None
        if blocks:
            self.sink.trace(join_blocks(blocks))
        elif self._trace_rows == 0:
            self._problems.report("an empty trace; nothing sent")
