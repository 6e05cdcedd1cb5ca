"""The road of the line formats whose values carry their names (label:value,
>name:value and JSON lines; lines.py reads them): a batch of lines a block.

A name first seen later adds a column: the reader sends all the columns
again (a new names command, so the window starts a new run with the wider
rows; the rows before stay in the run before, which has no such column),
and the first rows after it carry every word of each text column from its
first code on, since a names command starts the words afresh.

This module imports no Qt: the producer process uses it.
"""

from .lines import KeyedReader
from .text.rows import excerpt


class KeyedRoad:
    """Lines of one keyed format to `sink`. `problems` (a LineProblems) takes
    problems and counts the lines, `directive(text, line_number)` takes the
    "#@" lines."""

    def __init__(self, sink, problems, directive, line_format: str):
        self.sink = sink
        self._report = problems.report
        self._account = problems.account
        self._directive = directive
        self._keyed = KeyedReader(line_format)
        self._run_rows = 0

    def take(self, data: bytes, line_number: int, lines: int | None = None) -> None:
        lines = data.decode("utf-8", "replace").split("\n")[:-1]
        if b"#@" in data:
            for index, line in enumerate(lines):
                if line.lstrip().startswith("#@"):
                    self._directive(line.strip(), line_number + index)
        self._send(self._keyed.take(lines, final=False), lines, line_number)

    def _send(self, keyed, lines, line_number: int) -> None:
        if keyed is None:
            return
        words = keyed.words
        if keyed.columns is not None:
            self.sink.columns(keyed.columns)
            words = self._keyed.words()
        for index, why in keyed.rejected:
            line = lines[index].strip() if index < len(lines) else ""  # "": a row held back
            self._report(f"{why}: {excerpt(line)}" if line else why, line_number + index)
        if len(keyed.block):
            self._run_rows += len(keyed.block)
            self.sink.rows(keyed.block, words)
        self._account.add_data(keyed.data_lines)
        self._account.add_problem(keyed.problem_lines)
        for kind in keyed.skipped:
            self._account.skip(kind)

    @property
    def names(self) -> list[str]:
        return self._keyed.names

    def end_run(self) -> None:
        self.finish()
        if self._run_rows:
            self._run_rows = 0
            self.sink.roll()

    def finish(self) -> None:
        """The stream has ended: a row held back for more values is sent."""
        self._send(self._keyed.take([], final=True), [], 0)
