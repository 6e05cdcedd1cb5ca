"""The reader every source uses: it holds a stream's first lines until they
show what the stream is, then reads the rest by the road that fits.

    plain text    a table of plain numbers under a names line (comma-, tab- or
                  space-separated): the text reader's native road, as fast as
                  ever. Where the names line is where that reader looks for
                  it (the first line that is no comment), it reads the stream
                  from its first byte, directives and traces included; where
                  a title, a banner, group lines, a units line, a byte-order
                  mark or a '# ' come first, it gets the names found and the
                  lines from the first data row on, passing over the header
                  printed again.
    typed table   times, words, decimal commas, quotes, missing words, other
                  separators: table.py, the native typed parse.
    keyed lines   label:value, >name:value and JSON lines: keyed.py.

The format comes from lines.recognise and sniff.sniff (or from ReadOptions,
which may also give the separator, the names line or the names, a time
format). `restart()` (a truncated file, a new connection) ends the run and
looks at the next stream's first lines afresh.

This module imports no Qt: the producer process uses it.
"""

from ..protocol import FeedClosed
from ..protocol import NUMBER, TIME
from .account import DIRECTIVE, NAMES, TITLE, UNITS, line_kind
from .addedx import AddedX, x_grows
from .fields import COMMENT_MARKS, is_content, split_fields
from .headerlines import made_up_names
from .keyed import KeyedRoad
from .layout import EPOCH, MISSING_WORDS, WHITESPACE
from .lines import LISTING, TABLE, recognise
from .reading import ReadOptions
from .sniff import AUTO, ENOUGH_LINES, SAMPLE_ROWS, sniff
from .table import TableRoad
from .markers import WORD as MARKER, send_marker
from .text.reader import TextReader
from .text.rows import LimitExceeded, column_names, excerpt, parse_line
from .wholelines import LineProblems, WholeLines, take_safely

# Lines looked at for a decision: those the sniffer waits for at most, and
# the rows it samples after them.
SNIFF_LINES = ENOUGH_LINES + SAMPLE_ROWS + 1
_PLAIN_SEPARATORS = (",", "\t", WHITESPACE)
# Missing words the plain road reads only on its slow way, line by line.
_MISSING_WORDS = frozenset(MISSING_WORDS) - {""}
_BOM = b"\xef\xbb\xbf"


def _plain_row(line: str, sep, width: int) -> bool:
    """Whether a line is a row of `width` plain numbers (no missing words)."""
    row = parse_line(line, sep, width)
    return not isinstance(row, str) and not any(
        f.strip() in _MISSING_WORDS for f in split_fields(line, sep, None))


class AutoReader:
    """Bytes of one stream to the commands of `sink` (a Feed, or anything
    with its methods), bad lines to `problem(text)`; `strict`: a line over
    the limits raises LimitExceeded."""

    def __init__(self, sink, problem, *, name: str = "input", strict: bool = False,
                 options: ReadOptions | None = None, added_x: str | None = None):
        # `added_x` (ARRIVAL or ROW, addedx.py): the column put in front of a
        # table whose X does not grow with its rows.
        self._added = AddedX(sink, added_x) if added_x else None
        self.sink = self._added or sink
        self._problems = LineProblems(problem, name, strict)
        self.options = options or ReadOptions()
        self._text = None   # the plain road's reader: kept, it keeps trace names across streams
        self._plain = False
        self._road = None   # a TableRoad or KeyedRoad
        self._lines = WholeLines(self._take, self._problems)
        self._held: list[bytes] = []
        self._sniff_lines: list[str] = []
        self._unreadable: set[int] = set()  # held lines that made deciding raise
        self._held_start = 0  # the stream's line before the first held one

    @property
    def account(self):
        """Where the stream's lines went (account.LineAccount)."""
        return self._problems.account

    def tell_lines(self, lines) -> None:
        """`lines(name, account)`, where given, takes the account as it changes."""
        self._problems.lines = lines if callable(lines) else None

    @property
    def road(self) -> str | None:
        """How the stream is read: "plain", "table", "keyed", or None while undecided."""
        if self._plain:
            return "plain"
        return None if self._road is None else (
            "table" if isinstance(self._road, TableRoad) else "keyed")

    def restart(self) -> None:
        """A new stream begins: the run so far ends, the next lines are looked at afresh."""
        try:
            self._restart()
            if self._added is not None:
                self._added.flush()
        finally:
            self._problems.tell()

    def _restart(self) -> None:
        if not self._plain and self._road is None and self._held:
            self._decide(final=True)  # the lines held so far are read, not dropped
        if self._plain:
            self._text.restart()
        elif self._road is not None:
            self._road.end_run()
        self._plain, self._road = False, None
        self._drop_held()
        self._lines.restart()

    def take(self, data: bytes) -> None:
        try:
            self._pass_on(data)
        finally:
            self._problems.tell()

    def _pass_on(self, data: bytes) -> None:
        if self._plain:
            self._text.take(self._lines.transcode(data))
            return
        self._lines.take(data)
        if self._plain:  # decided on these bytes: their unfinished line goes the same way
            rest = self._lines.drain()
            if rest:
                self._text.take(rest)

    def finish(self, *, broken: bool = False) -> int | None:
        """As TextReader.finish: the stream has ended."""
        try:
            cut = self._finish(broken)
            if self._added is not None:
                self._added.flush()  # the stream has ended: what it held goes
            return cut
        finally:
            self._problems.tell()

    def _finish(self, broken: bool) -> int | None:
        if self._plain:
            self._text.take(self._lines.transcode(b"", end=True))
            return self._text.finish(broken=broken)
        cut = self._lines.finish(broken=broken)
        if not self._plain and self._road is None and self._held:
            self._decide(final=True)
        if self._plain:
            self._text.finish()
        elif self._road is not None:
            self._road.finish()
        return cut

    # --- the first lines ------------------------------------------------------------

    def _take(self, data: bytes, line_number: int, lines: int) -> None:
        if self._road is not None:
            self._road.take(data, line_number, lines)
            return
        if not self._held:
            self._held_start = line_number - 1  # the line before the first held
        self._held.append(data)
        wanted = SNIFF_LINES - len(self._sniff_lines)
        if wanted > 0:
            parts = data.split(b"\n", wanted)
            self._sniff_lines.extend(p.decode("utf-8", "replace") for p in parts[:-1])
        self._decide(final=len(self._sniff_lines) >= SNIFF_LINES)

    def _decide(self, final: bool) -> None:
        """Decides, where the lines held show enough, how the stream reads.
        A line that makes the looking raise is looked at as a comment (the
        road it goes to then tells it as a problem)."""
        for _ in range(len(self._sniff_lines) + 1):
            try:
                self._decide_by(final)
                return
            except FeedClosed:
                raise
            except Exception as error:  # noqa: BLE001 - one line's fault, found below
                if isinstance(error, LimitExceeded) and self._problems.strict:
                    raise
                culprit = self._culprit(final)
                if culprit is None:
                    raise
                self._sniff_lines[culprit] = "#"
                self._unreadable.add(culprit)

    def _culprit(self, final: bool) -> int | None:
        """The first line whose lines up to it make deciding raise."""
        whole = self._sniff_lines
        for end in range(1, len(whole) + 1):
            self._sniff_lines = whole[:end]
            try:
                self._look(final)
            except FeedClosed:
                raise
            except Exception:  # noqa: BLE001
                return end - 1
            finally:
                self._sniff_lines = whole
        return None

    def _look(self, final: bool):
        """What deciding looks at, without acting on it."""
        lines, line_format = self._sniff_lines, self.options.format
        if line_format == AUTO:
            line_format = recognise(lines, final) or (TABLE if final else None)
        if line_format == TABLE:
            found = sniff(lines, final=final, **self.options.sniff_options)
            self._text_reader_agrees(found)
            if found is not None:
                self._plain_rows(found)

    def _decide_by(self, final: bool) -> None:
        lines, line_format = self._sniff_lines, self.options.format
        if line_format == AUTO:
            line_format = recognise(lines, final) or (TABLE if final else None)
        if line_format is None:
            return
        if line_format != TABLE:
            if self._added is not None:  # a listing's snapshots have no X of their own
                self._added.expect(line_format != LISTING)
            road = KeyedRoad(self.sink, self._problems, self._directive, line_format)
            self._start(road, 0)
            return
        found = sniff(lines, final=final, **self.options.sniff_options)
        if self._added is not None:
            self._added.expect(True if found is None else x_grows(found, lines))
        if self._text_reader_agrees(found):
            self._plain = True
            self._hand_over(b"".join(self._held))
            self._drop_held()
            return
        if found is None:
            if final:  # nothing but comments and blank lines: their directives count
                self._header_directives(len(lines), self._directive)
                self._account_header(len(lines), None)
                rest = self._held_from(len(lines))
                self._drop_held()
                if rest:  # lines beyond those looked at: looked at next
                    self._take(rest, self._held_start + len(lines) + 1, rest.count(b"\n"))
            return
        if self._plain_rows(found):
            text = self._plain_reader()
            self._header_directives(found.first_data_line, text.directive)
            text.preset(found.columns(), found.layout.sep, line_number=found.first_data_line,
                        skip=found.repeats)
            self._plain = True
            self._account_header(found.first_data_line, found, directives_counted=True)
            self._hand_over(self._held_from(found.first_data_line))
            self._drop_held()
        else:
            road = TableRoad(self.sink, self._problems, self._directive, found)
            self._start(road, found.first_data_line, found)

    def _start(self, road, first_line: int, found=None) -> None:
        self._header_directives(first_line, self._directive)
        self._account_header(first_line, found)
        rest, number = self._held_from(first_line), self._held_start + first_line + 1
        self._road = road
        self._drop_held()
        if rest:
            take_safely(road.take, rest, number, rest.count(b"\n"), self._problems)

    def _drop_held(self) -> None:
        self._held, self._sniff_lines = [], []
        self._unreadable = set()

    def _hand_over(self, data: bytes) -> None:
        """Held lines to the plain road's reader, which counts them afresh."""
        self.account.total -= data.count(b"\n")
        self._plain_reader().take(data)

    def _account_header(self, end: int, found, directives_counted: bool = False) -> None:
        """The kinds of the lines before `end`, passed over as a header (the
        "#@" lines but where the reader that took them counted them)."""
        account, start = self.account, self._held_start
        for index, line in enumerate(self._sniff_lines[:end]):
            if index in self._unreadable:
                self._problems.reject("a line that could not be read", start + index + 1)
                continue
            kind = line_kind(line)
            if kind == DIRECTIVE and directives_counted:
                continue
            if found is not None and index == found.names_line:
                kind = NAMES
            elif found is not None and index == found.units_line:
                kind = UNITS
            if kind is None and found is not None and found.holds_row(line):
                self._problems.reject(f"a row above the names line, not read: "
                                      f"{excerpt(line.strip())}", start + index + 1)
                continue
            account.skip(kind or TITLE)
    def _held_from(self, line: int) -> bytes:
        held = b"".join(self._held)
        offset = 0
        for _ in range(line):
            offset = held.index(b"\n", offset) + 1
        return held[offset:]

    def _header_directives(self, end: int, take) -> None:
        for index, line in enumerate(self._sniff_lines[:end]):
            if line.strip().startswith("#@"):
                take(line.strip(), self._held_start + index + 1)

    def _plain_reader(self) -> TextReader:
        if self._text is None:
            problems = self._problems
            self._text = TextReader(self.sink, problems.problem, name=problems.name,
                                    strict=problems.strict, problems=problems)
            self._text.mends, self._text.comments = True, COMMENT_MARKS
        return self._text

    # --- which road -----------------------------------------------------------------

    def _plain_rows(self, found) -> bool:
        """Whether the rows are plain numbers the text reader's road takes."""
        layout = found.layout
        if (layout.sep not in _PLAIN_SEPARATORS or layout.decimal_comma or layout.brackets
                or layout.groups or any(c.unit is not None for c in layout.columns)):
            return False
        if not all(c.kind == NUMBER or (c.kind == TIME and c.shape == EPOCH and c.scale == 1.0)
                   for c in layout.columns):
            return False
        first = found.first_data_line
        for line in self._sniff_lines[first:first + SAMPLE_ROWS + 1]:
            if '"' in line or (is_content(line) and any(
                    f.strip() in _MISSING_WORDS for f in split_fields(line, layout.sep, None))):
                return False
        return True

    def _text_reader_agrees(self, found) -> bool:
        """Whether the text reader, reading from the first byte, reads the
        stream as the table found (names and separator alike, plain rows).
        Where the first line that is no comment holds names and the next one
        plain numbers under them, but the sniffer finds its table elsewhere
        or nowhere yet (lines that are not rows follow them), that reader
        reads it as it always has."""
        if not self.options.guesses or self._held[0].startswith(_BOM):
            return False
        lines = self._sniff_lines
        first = next((i for i, line in enumerate(lines) if is_content(line)), None)
        if first is None:
            return False
        names, sep = column_names(lines[first].strip())
        if self.options.sep not in (AUTO, sep):
            return False
        if found is not None and found.first_data_line == first:  # numbers where names belong
            return (found.names_line is None and set(found.kinds) == {NUMBER}
                    and found.names == made_up_names(found.layout)  # none listed above
                    and self._plain_rows(found))
        if first + 1 >= len(lines) or not _plain_row(lines[first + 1], sep, len(names)):
            return False
        if found is None or (found.names_line, found.first_data_line) != (first, first + 1):
            return True
        return (set(found.kinds) == {NUMBER} and self._plain_rows(found)
                and (names, sep) == (list(found.names), found.layout.sep))

    # --- what the roads report ----------------------------------------------------

    def _directive(self, text: str, line_number: int) -> None:
        """A "#@" line beside a typed table or keyed lines: the patterns."""
        word, _, argument = text[2:].partition(" ")
        word, argument = word.strip().lower(), argument.strip()
        if word == "columns" and self._road is not None and (
                column_names(argument)[0] == list(self._road.names)):
            return  # the names again (a sender that repeats them in each message)
        if word == "pattern":
            self.sink.pattern(argument)
        elif word == "trace-pattern":
            self.sink.trace_pattern(argument)
        elif word == MARKER:
            try:
                send_marker(self.sink, argument)
            except ValueError as error:
                self._problems.report(str(error), line_number)
        else:
            self._problems.report(f"#@{word} is not read here: beside a table of times, words or "
                                  "keyed values only #@pattern, #@trace-pattern and #@marker are",
                                  line_number)
