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

from .account import BLANK, COMMENT, DIRECTIVE
from .tableblock import TableState, parse_block
from .text.rows import excerpt

_COMMENT_LINE = re.compile(rb"^[ \t]*#[^\n]*\n", re.MULTILINE)


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
        if b"#" not in data:
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
            self._account.skip(DIRECTIVE if text.startswith("#@") else COMMENT)
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
        rows, words, sent = block.rows, block.words, 0
        skipped, rejected = [], []
        for count, bad in enumerate(block.bad):
            text = bad.text.strip()
            if not text:
                skipped.append(BLANK)
                if self.sniffed.blank_is_roll:
                    # The rows above the blank line end their run.
                    end = bad.index - count
                    words = self._send(rows[sent:end], words)
                    sent = end
                    self.end_run()
                continue
            kind = self.sniffed.repeats(text)
            if kind:
                skipped.append(kind)
            else:
                rejected.append((f"{bad.reason}: {excerpt(text)}", line_number + bad.index))
        self._send(rows[sent:], words)
        self._account.add_data(len(rows))
        for kind in skipped:
            self._account.skip(kind)
        for why, number in rejected:
            self._problems.reject(why, number)

    def _send(self, rows, words: dict) -> dict:
        """Sends rows (the block's words go with its first rows); returns
        the words still to send."""
        if not len(rows):
            return words
        self._run_rows += len(rows)
        self.sink.rows(rows, words)
        return {}
