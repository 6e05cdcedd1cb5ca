"""Bytes of a stream as blocks of whole lines, with the line-length limit,
and where a stream's problems go: what every reader takes its lines through.

This module imports no Qt: the producer process uses it.
"""

from .text.rows import MAX_LINE_BYTES, LimitExceeded


class LineProblems:
    """Where a stream's problems go: `problem("<name> line N: why")`. A line
    over the limits is skipped and reported, or, where `strict`, raises
    LimitExceeded."""

    def __init__(self, problem, name: str, strict: bool):
        self.problem = problem
        self.name = name
        self.strict = strict

    def report(self, why: str, line_number: int | None = None) -> None:
        where = f"{self.name} line {line_number}" if line_number else self.name
        self.problem(f"{where}: {why}")

    def over_limit(self, what: str, line_number: int) -> None:
        if self.strict:
            raise LimitExceeded(f"{self.name} line {line_number}: {what}")
        self.report(f"{what}; skipped", line_number)


class WholeLines:
    """Hands `take(data, line_number, lines)` the whole lines of the bytes
    fed (bytes ending in a newline), the number of the first of them (from
    1) and how many there are; an unfinished last line waits for its rest. A line longer
    than MAX_LINE_BYTES is dropped up to its end and told to
    `over_limit(what, line_number)`; `lines` counts the lines seen."""

    def __init__(self, take, over_limit):
        self._take = take
        self._over_limit = over_limit
        self.restart()

    def restart(self) -> None:
        self.lines = 0
        self._pending = b""
        self._skipping = False

    def feed(self, data: bytes) -> None:
        if self._skipping:
            end = data.find(b"\n")
            if end < 0:
                return
            self._skipping = False
            self.lines += 1
            data = data[end + 1:]
        end = data.rfind(b"\n")
        if end < 0:
            self._pending += data
        else:
            whole = self._pending + data[:end + 1] if self._pending else data[:end + 1]
            self._pending = data[end + 1:]
            first, count = self.lines + 1, whole.count(b"\n")
            self.lines += count
            self._take(whole, first, count)
        if len(self._pending) > MAX_LINE_BYTES:
            self._pending = b""
            self._skipping = True
            self._over_limit(f"a line longer than {MAX_LINE_BYTES:,} bytes", self.lines + 1)

    def drain(self) -> bytes:
        """The unfinished line held so far, handed over (another reader takes
        the stream on from here)."""
        rest, self._pending = self._pending, b""
        return rest

    def finish(self, *, broken: bool = False) -> int | None:
        """The stream has ended: its unfinished last line is taken as a line,
        or dropped where the stream broke off. Returns that line's number, or
        None when the stream ended at a line end."""
        if not self._pending:
            return None
        line, self._pending = self._pending, b""
        self.lines += 1
        if not broken:
            self._take(line + b"\n", self.lines, 1)
        return self.lines
