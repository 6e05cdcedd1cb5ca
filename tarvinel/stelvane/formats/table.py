"""The typed road: a table whose columns hold times, words, decimal commas,
quoted fields or missing words, read block by block by the native table
parse (tableblock.py) under the layout sniff.py decided.

A block of whole lines is one native call. What it sets aside is looked at
in Python, one line at a time: a blank line (the end of a run, or nothing
where the header held blank lines), the header printed again or a report's
summary row (passed over), and the rest, reported as problems. Lines that
begin with '#' are cut out before the parse: comments, and the directives
#@pattern and #@trace-pattern.

This module imports no Qt: the producer process uses it.
"""

import re

import numpy as np

from .account import BLANK, COMMENT, line_kind
from .fields import split_fields
from .layout import WHITESPACE
from .values import number_text
from .tableblock import TableState, parse_block
from .text.rows import excerpt

_COMMENT_LINE = re.compile(rb"^[ \t]*[#!][^\n]*\n", re.MULTILINE)
# What a value that does not read becomes: a word every column takes as missing.
MISSING_WORD = "NA"


class TableRoad:
    """Rows of a sniffed table (a Sniffed) to `sink`: its columns at once,
    then rows with the words of their text columns. `problems` (a
    LineProblems) takes problems and counts the lines, `directive(text,
    line_number)` takes the "#@" lines."""

    def __init__(self, sink, problems, directive, sniffed):
        self.sink = sink
        self.sniffed = sniffed
        self._problems = problems
        self._account = problems.account
        self._directive = directive
        self._state = TableState()
        self._run_rows = 0
        sink.columns(sniffed.columns())

    def take(self, data: bytes, line_number: int, lines: int | None = None) -> None:
        """Whole lines (`lines` of them, where counted); `line_number` is the
        first one's."""
        if b"#" not in data and b"!" not in data:
            self._block(data, line_number, lines)
            return
        begin = 0
        for match in _COMMENT_LINE.finditer(data):
            if match.start() > begin:
                self._block(data[begin:match.start()], line_number)
                line_number += data.count(b"\n", begin, match.start())
            text = match.group().decode("utf-8", "replace").strip()
            if text.startswith("#@"):
                self._directive(text, line_number)
            self._account.skip(line_kind(text) or COMMENT)
            line_number += 1
            begin = match.end()
        if begin < len(data):
            self._block(data[begin:], line_number)

    @property
    def names(self) -> tuple[str, ...]:
        return self.sniffed.names

    def end_run(self) -> None:
        if self._run_rows:
            self._run_rows = 0
            self.sink.roll()

    def finish(self) -> None:
        """The stream has ended (its rows are all sent already)."""

    def _block(self, data: bytes, line_number: int, lines: int | None = None) -> None:
        block = parse_block(data, self.sniffed.layout, self._state, lines)
        self._mend(block)
        rows, words, sent = block.rows, block.words, 0
        skipped, rejected, set_aside = [], [], 0
        for bad in block.bad:
            text = bad.text.strip()
            if bad.index in block.mended:
                if block.mended[bad.index]:  # no value: said so
                    rejected.append((f"{bad.reason}: {excerpt(text)}; read as missing",
                                     line_number + bad.index, False))
                continue
            set_aside += 1
            if not text:
                skipped.append(BLANK)
                if self.sniffed.blank_is_roll:
                    # The rows above the blank line end their run.
                    end = bad.index - set_aside + 1
                    words = self._send(rows[sent:end], words)
                    sent = end
                    self.end_run()
                continue
            kind = self.sniffed.repeats(text)
            if kind:
                skipped.append(kind)
            else:
                rejected.append((f"{bad.reason}: {excerpt(text)}", line_number + bad.index, True))
        self._send(rows[sent:], words)
        self._account.add_data(len(rows))
        for kind in skipped:
            self._account.skip(kind)
        for why, number, lost in rejected:
            (self._problems.reject if lost else self._problems.report)(why, number)

    def _mend(self, block) -> None:
        """A line with one value not of its column's kind (a word among
        numbers, a control byte) is a row with that value missing: its row
        goes in among the others, in line order, and the line stays a
        problem to report. A number beyond the doubles (1e999, 1e-999) is
        read as Python reads it (inf, 0), no problem. `block.mended`: {index
        of such a line: whether its value went missing}."""
        block.mended = {}
        layout = self.sniffed.layout
        # (A report's summary row, "Average:" where the time belongs, is no
        # row with a bad time: it is passed over as such.)
        odd = [bad for bad in block.bad
               if bad.odd_field is not None and not self.sniffed.repeats(bad.text.strip())]
        if not odd or layout.quote and any(layout.quote in bad.text for bad in odd):
            return
        for bad in odd:
            fields = split_fields(bad.text, layout.sep, None, layout.width if layout.rest else 0)
            if len(fields) != layout.width:
                continue
            value = _beyond_doubles(fields[bad.odd_field], layout.decimal_comma)
            fields[bad.odd_field] = value or MISSING_WORD
            line = ((" " if layout.sep is WHITESPACE else layout.sep).join(fields) + "\n").encode()
            again = parse_block(line, layout, self._state, 1)
            if len(again.rows) != 1:
                continue
            before = bad.index - sum(other.index < bad.index and other.index not in block.mended
                                     for other in block.bad)
            block.rows = np.insert(block.rows, before, again.rows[0], axis=0)
            for column, learnt in again.words.items():
                block.words.setdefault(column, []).extend(learnt)
            block.mended[bad.index] = value is None

    def _send(self, rows, words: dict) -> dict:
        """Sends rows (the block's words go with its first rows); returns
        the words still to send."""
        if not len(rows):
            return words
        self._run_rows += len(rows)
        self.sink.rows(rows, words)
        return {}


def _beyond_doubles(text: str, decimal_comma: bool) -> str | None:
    """The text of a number too large or too small for a double as the
    native parse reads it ("inf", "-inf", "0"), or None for other text."""
    try:
        value = float(number_text(text, decimal_comma))
    except ValueError:
        return None
    if value in (float("inf"), float("-inf")):
        return str(value)
    return "0" if value == 0 and any(c in "123456789" for c in text) else None
